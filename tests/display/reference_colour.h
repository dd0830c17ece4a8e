// The reference colours of the x11 display tests: BT.601 video-range YUV to RGB in floating point,
// and how far apart two colours are.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace orvenna::testing {

struct Rgb {
    int r, g, b;
};

inline Rgb FromYuv(int y, int u, int v) {
    const double c = 1.164 * (y - 16);
    auto clamp = [](double x) { return std::clamp(static_cast<int>(std::lround(x)), 0, 255); };
    return {clamp(c + 1.596 * (v - 128)), clamp(c - 0.813 * (v - 128) - 0.391 * (u - 128)),
            clamp(c + 2.018 * (u - 128))};
}

// The largest difference of one channel.
inline int Distance(const Rgb& a, const Rgb& b) {
    return std::max({std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)});
}

}  // namespace orvenna::testing
