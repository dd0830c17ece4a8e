// PNG files in memory: through libpng (png_encode.cpp), or without a library in stored deflate
// blocks where there is no libpng, the Windows build (png_encode_stored.cpp).
#pragma once

#include <cstdint>
#include <vector>

namespace kestrix {

enum class PngPixels {
    kGray8,   // one byte per pixel
    kGray16,  // one uint16_t per pixel, its value as it is
    kRgb8,    // three bytes per pixel, red first
};

// The PNG file of width x height pixels, rows one after another, in *png. False when the encoder
// refuses the image or memory runs out; *png is then incomplete.
bool EncodePng(PngPixels kind, const void* pixels, int32_t width, int32_t height,
               std::vector<uint8_t>* png);

}  // namespace kestrix
