// The reference colours of the x11 display tests: BT.601 video-range YUV to RGB in floating point,
// how far apart two colours are, and how a pixel of a test pattern frame should look once shown.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "orvenna.h"
#include "test_pattern.h"

namespace orvenna::testing {

struct Rgb {
    int r, g, b;
};

// The largest difference of one channel.
inline int Distance(const Rgb& a, const Rgb& b) {
    return std::max({std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)});
}

// What pixel (x, y) of pattern frame `n` should look like once shown: the RGB formats lose their
// low bits, the YUV formats show the chroma of the pixel that their group shares.
inline Rgb Expected(uint32_t format, uint32_t x, uint32_t y, uint32_t w, uint32_t h, uint32_t n) {
    using orvenna_play::PatternAt;
    const orvenna_play::PatternPixel p = PatternAt(x, y, w, h, n);
    auto five = [](int c) { return ((c >> 3) << 3) | (c >> 5); };
    auto six = [](int c) { return ((c >> 2) << 2) | (c >> 6); };
    switch (format) {
        case ORVD_FORMAT_RGB555:
            return {five(p.r), five(p.g), five(p.b)};
        case ORVD_FORMAT_RGB565:
            return {five(p.r), six(p.g), five(p.b)};
        case ORVD_FORMAT_RGB24:
        case ORVD_FORMAT_RGB32:
            return {p.r, p.g, p.b};
        default:
            break;
    }
    const bool vertical_shared =
        format == ORVD_FORMAT_YV12 || format == ORVD_FORMAT_IYUV || format == ORVD_FORMAT_NV12;
    const orvenna_play::PatternPixel c = PatternAt(x & ~1u, vertical_shared ? y & ~1u : y, w, h, n);
    uint8_t y601, u, v, cy;
    orvenna_play::RgbToYuv(p, &y601, &u, &v);
    orvenna_play::RgbToYuv(c, &cy, &u, &v);
    const double l = 1.164 * (y601 - 16);
    auto clamp = [](double f) { return std::clamp(static_cast<int>(std::lround(f)), 0, 255); };
    return {clamp(l + 1.596 * (v - 128)), clamp(l - 0.813 * (v - 128) - 0.391 * (u - 128)),
            clamp(l + 2.018 * (u - 128))};
}

}  // namespace orvenna::testing
