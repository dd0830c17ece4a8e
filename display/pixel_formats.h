// The fourteen frame pixel formats: their DirectDraw pixel-format records, the substitute tried
// when a device refuses a format, and the memory layout of a frame and of a surface in each format.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/ddraw_layer.h"

namespace orvenna {

inline constexpr unsigned kPixelFormatCount = 14;

// Indexed by the frame format code (ORVD_FORMAT_*). RGB records carry DDPF_RGB and their bit masks,
// YUV records DDPF_FOURCC and the FourCC; every record has dwSize 32.
extern const DDPIXELFORMAT kPixelFormatTable[kPixelFormatCount];

// The format tried once when a device refuses `format`, or -1 when it has none.
int SubstituteFormat(unsigned format);

// Records the substitute of `format` in `substitute` and answers true, but only while no substitute
// has been recorded yet (`substitute` == -1): an engine chooses its substitute once in its life.
bool ChooseFallbackFormat(int32_t& substitute, unsigned format);

// The format code whose record describes `pf` (FourCC, or RGB bit count and masks), or -1.
int FormatFromPixelFormat(const DDPIXELFORMAT& pf);

// Bytes a caller's frame of this format occupies (rows packed without padding); 0 for unknown
// codes. YUV9 frames are not read, so they need no bytes.
size_t FrameByteCount(unsigned format, uint32_t width, uint32_t height);

// The planes of an image in one of the formats, in memory order. For the planar formats the first
// plane is luma and the others chroma (YV12, YV16: V then U; IYUV: U then V; NV12: interleaved UV;
// YUV9: V then U at a quarter of the luma size each way).
struct PlaneLayout {
    int count = 0;
    size_t offset[3] = {};       // from the image's first byte
    ptrdiff_t pitch[3] = {};     // distance of two rows
    uint32_t row_bytes[3] = {};  // bytes of picture in one row
    uint32_t rows[3] = {};
    size_t bytes = 0;  // end of the last plane
};

// Layout of a surface of `width` × `height` in `format` whose luma (or only) plane rows are `pitch`
// apart; chroma planes of the planar formats use the pitch's half (a quarter for YUV9), the NV12
// chroma plane the full pitch. Surfaces cover odd sizes whole: chroma halves round up and the
// 4:2:2 formats hold whole pixel pairs, as the backends allocate them (surface_layout.h).
// False for unknown formats, sides above 32768 or a pitch too small for the rows.
bool SurfacePlanes(unsigned format, uint32_t width, uint32_t height, ptrdiff_t pitch,
                   PlaneLayout* out);

// Layout of a caller's frame: the same planes packed without padding (pitch = row bytes), with
// the chroma halves of odd sizes rounded down.
bool FramePlanes(unsigned format, uint32_t width, uint32_t height, PlaneLayout* out);

// Locked surface memory as the copy and the conversions see it: `format` is the format the
// surface was really made in (the frame's own or its substitute), `capacity` the bytes behind
// `bytes`, so that nothing is ever written or read past the surface.
struct SurfaceView {
    uint8_t* bytes = nullptr;
    ptrdiff_t pitch = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    unsigned format = 0;
    size_t capacity = 0;
};

}  // namespace orvenna
