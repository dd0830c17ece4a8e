// Thermal-like raw frames for the gain control's benchmark.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace kx::agc::frames {

// A 14-bit scene: a background gradient, a warm body, a small hot object and sensor noise.
inline std::vector<uint16_t> Thermal(uint32_t width, uint32_t height, uint32_t seed = 1) {
    std::vector<uint16_t> px(size_t{width} * height);
    std::mt19937 rng(seed);
    std::normal_distribution<double> jitter(0.0, 12.0);
    const double w = width, h = height;
    const auto blob = [](double dx, double dy, double r, double peak) {
        return peak * std::exp(-(dx * dx + dy * dy) / (2 * r * r));
    };
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const double v = 6000.0 + 1500.0 * x / w + 800.0 * y / h +
                             blob(x - 0.3 * w, y - 0.3 * h, 0.05 * w + 1, 3000.0) +
                             blob(x - 0.78 * w, y - 0.74 * h, 0.02 * w + 1, 6000.0) + jitter(rng);
            px[size_t{y} * width + x] = static_cast<uint16_t>(std::clamp(v, 0.0, 16383.0));
        }
    }
    return px;
}

}  // namespace kx::agc::frames
