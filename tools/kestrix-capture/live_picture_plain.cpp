// The live picture without a drawing library: grey g becomes RGB(g, g, g), the centre box is
// blended over it band by band, and the PNG is kestrix-convert's encoder.
#include "live_picture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "camera_link.h"
#include "png_encode.h"

namespace kestrix {
namespace {

void PaintBox(const glintra::PlacedRect& box, int width, int height, std::vector<uint8_t>& rgb) {
    const double colour[3] = {box.red * 255.0, box.green * 255.0, box.blue * 255.0};
    glintra::Band bands[4];
    const int count = glintra::BoxBands(box, bands);
    for (int i = 0; i < count; ++i) {
        const long x0 = std::clamp(bands[i].x0, 0L, static_cast<long>(width));
        const long x1 = std::clamp(bands[i].x1, 0L, static_cast<long>(width));
        const long y0 = std::clamp(bands[i].y0, 0L, static_cast<long>(height));
        const long y1 = std::clamp(bands[i].y1, 0L, static_cast<long>(height));
        for (long y = y0; y < y1; ++y) {
            uint8_t* pixel = rgb.data() + 3 * (static_cast<size_t>(y) * static_cast<size_t>(width) +
                                               static_cast<size_t>(x0));
            for (long x = x0; x < x1; ++x, pixel += 3) {
                for (int c = 0; c < 3; ++c) {
                    pixel[c] = static_cast<uint8_t>(
                        std::lround(pixel[c] * (1.0 - box.alpha) + colour[c] * box.alpha));
                }
            }
        }
    }
}

}  // namespace

bool WriteLivePicture(const glintra::GreyPicture& grey, const std::string& path) {
    if (grey.width <= 0 || grey.height <= 0) return false;
    std::vector<uint8_t> rgb(3 * grey.pixels.size());
    for (size_t i = 0; i < grey.pixels.size(); ++i) {
        rgb[3 * i] = rgb[3 * i + 1] = rgb[3 * i + 2] = grey.pixels[i];
    }
    glintra::PlacedRect box;
    if (glintra::PlaceRect(kCentreBoxRect, kCentreBoxColour, 1, grey.width, grey.height, box)) {
        PaintBox(box, grey.width, grey.height, rgb);
    }
    std::vector<uint8_t> png;
    if (!EncodePng(PngPixels::kRgb8, rgb.data(), grey.width, grey.height, &png)) return false;
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"),
                                                               std::fclose);
    return file && std::fwrite(png.data(), 1, png.size(), file.get()) == png.size() &&
           std::fflush(file.get()) == 0;
}

}  // namespace kestrix
