// Grey plane extraction (libyuv where the build has it) and overlay rectangle placement.
#include "grey_picture.h"

#if defined(GLINTRA_HAVE_LIBYUV)
#include <libyuv/planar_functions.h>
#endif

#include <algorithm>
#include <cmath>
#include <utility>

namespace glintra {

void ExtractGrey(const uint8_t* uyvy, int width, int height, GreyPicture& out) {
    const size_t size = static_cast<size_t>(width) * static_cast<size_t>(height);
    if (out.pixels.size() != size) out.pixels.resize(size);
    out.width = width;
    out.height = height;
#if defined(GLINTRA_HAVE_LIBYUV)
    libyuv::UYVYToY(uyvy, width * 2, out.pixels.data(), width, width, height);
#else
    for (size_t i = 0; i < size; ++i) out.pixels[i] = uyvy[2 * i + 1];
#endif
}

namespace {

// Normalised coordinate to a pixel edge; far-out values are held where they cannot overflow.
long PixelEdge(float normalised, int side) {
    const double clamped = std::clamp(static_cast<double>(normalised), -4.0, 5.0);
    return std::lround(clamped * side);
}

double Channel(float c) {
    return std::clamp(static_cast<double>(c), 0.0, 1.0);
}

}  // namespace

bool PlaceRect(const float rect[4], const float colour[4], int lineWidth, int width, int height,
               PlacedRect& out) {
    for (int i = 0; i < 4; ++i) {
        if (!std::isfinite(rect[i]) || !std::isfinite(colour[i])) return false;
    }
    if (lineWidth < 0) return false;
    out.x0 = PixelEdge(rect[0], width);
    out.x1 = PixelEdge(rect[1], width);
    out.y0 = PixelEdge(rect[2], height);
    out.y1 = PixelEdge(rect[3], height);
    if (out.x1 < out.x0) std::swap(out.x0, out.x1);
    if (out.y1 < out.y0) std::swap(out.y0, out.y1);
    out.red = Channel(colour[0]);
    out.green = Channel(colour[1]);
    out.blue = Channel(colour[2]);
    out.alpha = Channel(colour[3]);
    // A box no wider than its two outlines is all outline.
    const bool thin = out.x1 - out.x0 <= 2L * lineWidth || out.y1 - out.y0 <= 2L * lineWidth;
    out.lineWidth = thin ? 0 : lineWidth;
    return true;
}

int BoxBands(const PlacedRect& box, Band (&bands)[4]) {
    const long lw = box.lineWidth;
    if (lw == 0) {
        bands[0] = {box.x0, box.y0, box.x1, box.y1};
        return 1;
    }
    // The outline lies inside the box.
    bands[0] = {box.x0, box.y0, box.x1, box.y0 + lw};
    bands[1] = {box.x0, box.y1 - lw, box.x1, box.y1};
    bands[2] = {box.x0, box.y0 + lw, box.x0 + lw, box.y1 - lw};
    bands[3] = {box.x1 - lw, box.y0 + lw, box.x1, box.y1 - lw};
    return 4;
}

}  // namespace glintra
