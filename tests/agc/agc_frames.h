// Raw frames for the gain control's tests, benchmark and fuzz seeds: thermal-like scenes and the
// awkward shapes (flat, saturated, wrapped counters, hot tails) that exercise every branch.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace kx::agc::frames {

// A 14-bit scene: a background gradient, a warm body, a small hot object and sensor noise.
inline std::vector<uint16_t> Thermal(uint32_t width, uint32_t height, uint32_t seed = 1,
                                     double noise = 12.0) {
    std::vector<uint16_t> px(size_t{width} * height);
    std::mt19937 rng(seed);
    std::normal_distribution<double> jitter(0.0, noise);
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

// Every sample drawn from lo .. hi.
inline std::vector<uint16_t> Uniform(uint32_t count, uint32_t seed, uint16_t lo, uint16_t hi) {
    std::vector<uint16_t> px(count);
    std::mt19937 rng(seed);
    std::uniform_int_distribution<uint32_t> pick(lo, hi);
    for (auto& p : px) p = static_cast<uint16_t>(pick(rng));
    return px;
}

// Runs of equal samples of random lengths (flat areas), values from lo .. hi.
inline std::vector<uint16_t> Runs(uint32_t count, uint32_t seed, uint16_t lo, uint16_t hi) {
    std::vector<uint16_t> px(count);
    std::mt19937 rng(seed);
    std::uniform_int_distribution<uint32_t> pick(lo, hi);
    std::uniform_int_distribution<uint32_t> length(1, 40);
    for (size_t i = 0; i < px.size();) {
        const auto v = static_cast<uint16_t>(pick(rng));
        for (uint32_t n = length(rng); n > 0 && i < px.size(); --n) px[i++] = v;
    }
    return px;
}

// A narrow bulk around centre with a share of hot pixels spread above it.
inline std::vector<uint16_t> HotTail(uint32_t count, uint32_t seed, double hotShare) {
    std::vector<uint16_t> px(count);
    std::mt19937 rng(seed);
    std::normal_distribution<double> bulk(7300.0, 40.0);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (auto& p : px) {
        const double v = unit(rng) < hotShare ? 7500.0 + 8000.0 * unit(rng) : bulk(rng);
        p = static_cast<uint16_t>(std::clamp(v, 0.0, 65535.0));
    }
    return px;
}

}  // namespace kx::agc::frames
