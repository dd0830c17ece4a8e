// The copy of a caller's frame into locked surface memory, with the conversions that a substitute
// surface format needs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pixel_formats.h"

namespace orvenna {

// A caller's frame: `bytes` laid out as FramePlanes gives for `format`.
struct FrameSource {
    const uint8_t* bytes = nullptr;
    uint32_t width = 0;
    uint32_t height = 0;
    unsigned format = 0;
};

// Copies `rows` rows of `len` bytes from `source` (packed) to `dest` (rows `pitch` apart) and
// leaves both pointers behind what was copied: `source` advances by len per row, `dest` by pitch.
// When the pitch equals the row length the rows go as one block.
void CopyRows(const uint8_t*& source, uint8_t*& dest, size_t len, ptrdiff_t pitch, size_t rows);

// Copies `frame` into `surface`, converting to the surface's real format where it is the frame
// format's substitute (RGB24 to RGB32, YVYU to YUY2, YV12 and IYUV into each other, YV16 to YV12,
// IUYV and IYU2 to UYVY). The part of the frame that the surface holds is copied (both are the
// same size in practice); nothing is written outside the surface's planes and capacity.
// Returns false, having copied nothing, for a YUV9 frame (never copied), a pair of formats without
// a conversion, a missing pointer or a surface layout that does not fit its capacity.
bool CopyFrame(const FrameSource& frame, const SurfaceView& surface);

}  // namespace orvenna
