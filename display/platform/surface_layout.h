// The memory a surface of a given pixel format needs: its pitch and its size in bytes. Both
// backends allocate surfaces by it, so a copy into a locked surface can be checked against it.
#pragma once

#include <cstddef>

#include "platform/ddraw_layer.h"

namespace orvenna::platform {

struct SurfaceLayout {
    bool bKnown = false;  // the format is one the backends can hold
    LONG lPitch = 0;      // bytes from one row (of the first plane) to the next
    size_t nBytes = 0;    // the whole surface: every plane at its pitch
};

// Rows are `alignment` bytes aligned (a power of two), plus `extra_pitch` bytes of padding.
// Planar formats: YV12/IYUV P·H + 2·(P/2)·⌈H/2⌉; YV16 P·H + 2·(P/2)·H; NV12 P·H + P·⌈H/2⌉;
// YUV9 P·H + 2·(P/4)·⌈H/4⌉. Packed 4:2:2 (UYVY, YUY2, YVYU, IUYV) 2 bytes a pixel,
// IYU2 3 bytes, RGB dwRGBBitCount / 8.
SurfaceLayout ComputeSurfaceLayout(const DDPIXELFORMAT& format, DWORD width, DWORD height,
                                   DWORD extra_pitch = 0, DWORD alignment = 4);

}  // namespace orvenna::platform
