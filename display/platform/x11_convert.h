// Conversion of surface memory in any format the x11 device accepts into 32-bit pixels (B, G, R, X
// in memory, as an XImage of a 24-bit TrueColor visual and a cairo RGB24 surface hold them), with
// bilinear scaling, clipping and colour fills. Pure functions over memory: the x11 backend's Blt
// stands on them, and they make no X calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "pixel_formats.h"
#include "platform/ddraw_layer.h"

namespace orvenna::platform {

// True for the formats that have a conversion here: RGB555, RGB565, RGB32, UYVY, YV12, YUY2, IYUV,
// YV16 and NV12. The x11 device refuses surfaces in the other five (RGB24, YUV9, YVYU, IUYV,
// IYU2), so frames in those are shown through their substitutes.
bool X11CanConvert(unsigned format);

// A whole 32-bit destination image.
struct XrgbImage {
    uint8_t* pixels = nullptr;
    ptrdiff_t stride = 0;  // bytes from one row to the next
    int width = 0;
    int height = 0;
};

// Working memory that the conversions reuse from call to call: it grows to the largest picture
// converted and is not given back, so a steady stream of frames allocates nothing.
class ConvertScratch {
  public:
    uint8_t* Reserve(size_t bytes);

  private:
    std::vector<uint8_t> m_buffer;
};

// Converts the whole of `source` (YUV as BT.601 video range) and scales it bilinearly onto `dest`,
// a rectangle in `target`'s coordinates that may reach beyond the image; only the part inside the
// image is written. returns: false, writing nothing, for a format without a conversion, a source
// whose planes do not fit its capacity, or an empty `dest`; true otherwise (also when `dest` lies
// wholly outside the image).
// With `clip_to`, only its part of `dest` is written, and only the source that it reads converted.
bool ConvertAndScale(const orvenna::SurfaceView& source, const XrgbImage& target, const RECT& dest,
                     ConvertScratch& scratch, const RECT* clip_to = nullptr);

// Fills the part of `rect` inside `target` with `colour` (0xXXRRGGBB, stored as it is).
void FillXrgb(const XrgbImage& target, const RECT& rect, uint32_t colour);

}  // namespace orvenna::platform
