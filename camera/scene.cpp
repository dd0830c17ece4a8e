// The synthetic scene. Everything that does not move is computed once; a frame costs a copy, a
// few sprite additions, an optional two-pass running-sum blur and a noise addition, all in
// integers.
#include "scene.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <random>

namespace camsim {
namespace {

constexpr uint32_t kNoiseSlack = 4093;  // the per-frame offset into the noise table

}  // namespace

SyntheticScene::SyntheticScene(int32_t width, int32_t height, uint64_t seed)
    : m_width(width), m_height(height) {
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    std::mt19937_64 random(seed);

    // Background: cooler sky at the top, warmer ground below, a slight left-right slope, and a
    // few warm blocks (walls, windows) whose edges show how sharp the focus is.
    m_background.resize(pixels);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            m_background[static_cast<size_t>(y) * width + x] =
                5200 + 1800 * y / std::max(1, height) + 400 * x / std::max(1, width);
        }
    }
    std::uniform_int_distribution<int32_t> unit(0, 1 << 20);
    for (int block = 0; block < 5; ++block) {
        const int32_t w = std::max(1, width / 10 + unit(random) % std::max(1, width / 6));
        const int32_t h = std::max(1, height / 8 + unit(random) % std::max(1, height / 4));
        const int32_t x0 = unit(random) % std::max(1, width - w + 1);
        const int32_t y0 = height / 3 + unit(random) % std::max(1, height - height / 3 - h + 1);
        const int32_t warmth = 300 + unit(random) % 900;
        for (int32_t y = y0; y < std::min(height, y0 + h); ++y) {
            for (int32_t x = x0; x < std::min(width, x0 + w); ++x) {
                m_background[static_cast<size_t>(y) * width + x] += warmth;
            }
        }
    }

    // A soft disc: full strength in the middle, falling off smoothly to the rim.
    m_spriteSide = std::max(3, std::min(width, height) / 6) | 1;
    m_sprite.resize(static_cast<size_t>(m_spriteSide) * m_spriteSide);
    const double r = m_spriteSide / 2.0;
    for (int32_t y = 0; y < m_spriteSide; ++y) {
        for (int32_t x = 0; x < m_spriteSide; ++x) {
            const double d = std::hypot(x + 0.5 - r, y + 0.5 - r) / r;
            const double v = d >= 1.0 ? 0.0 : 0.5 + 0.5 * std::cos(std::numbers::pi * d * d);
            m_sprite[static_cast<size_t>(y) * m_spriteSide + x] = static_cast<int32_t>(v * 1024.0);
        }
    }

    std::uniform_real_distribution<double> phase(0.0, 2.0 * std::numbers::pi);
    m_objects = {{5200, 0.07, 0.11, phase(random), phase(random)},
                 {3600, 0.13, 0.05, phase(random), phase(random)},
                 {2800, 0.04, 0.09, phase(random), phase(random)}};

    // Sensor noise: roughly normal, a few counts wide; each frame reads the table at its own
    // offset, so consecutive frames differ without drawing random numbers per pixel.
    std::normal_distribution<double> normal(0.0, 9.0);
    m_noise.resize(pixels + kNoiseSlack);
    for (int16_t& n : m_noise) n = static_cast<int16_t>(std::lround(std::clamp(normal(random), -40.0, 40.0)));

    m_work.resize(pixels);
    m_blurTemp.resize(static_cast<size_t>(std::max(width, height)));
}

void SyntheticScene::AddObject(const HotObject& object, double t, int32_t* image) const {
    const double cx = m_width * (0.5 + 0.38 * std::sin(2.0 * std::numbers::pi * object.fx * t + object.phaseX));
    const double cy = m_height * (0.5 + 0.36 * std::sin(2.0 * std::numbers::pi * object.fy * t + object.phaseY));
    const int32_t x0 = static_cast<int32_t>(std::lround(cx)) - m_spriteSide / 2;
    const int32_t y0 = static_cast<int32_t>(std::lround(cy)) - m_spriteSide / 2;
    for (int32_t sy = std::max(0, -y0); sy < m_spriteSide && y0 + sy < m_height; ++sy) {
        const int32_t* src = &m_sprite[static_cast<size_t>(sy) * m_spriteSide];
        int32_t* dst = image + static_cast<size_t>(y0 + sy) * m_width + x0;
        for (int32_t sx = std::max(0, -x0); sx < m_spriteSide && x0 + sx < m_width; ++sx) {
            dst[sx] += (src[sx] * object.amplitude) >> 10;
        }
    }
}

void SyntheticScene::BoxBlur(int radius, int32_t* image) {
    // Running sums over a window of 2r + 1 with clamped edges, first along rows, then columns.
    const int32_t window = 2 * radius + 1;
    auto pass = [&](int32_t count, int32_t length, size_t lineStep, size_t step) {
        for (int32_t line = 0; line < count; ++line) {
            int32_t* p = image + line * lineStep;
            int32_t* tmp = m_blurTemp.data();
            for (int32_t i = 0; i < length; ++i) tmp[i] = p[i * step];
            int64_t sum = 0;
            for (int32_t k = -radius; k <= radius; ++k) sum += tmp[std::clamp(k, 0, length - 1)];
            for (int32_t i = 0; i < length; ++i) {
                p[i * step] = static_cast<int32_t>(sum / window);
                sum += tmp[std::min(i + radius + 1, length - 1)] - tmp[std::max(i - radius, 0)];
            }
        }
    };
    pass(m_height, m_width, static_cast<size_t>(m_width), 1);
    pass(m_width, m_height, 1, static_cast<size_t>(m_width));
}

void SyntheticScene::Render(double t, int blurRadius, uint32_t noiseIndex, uint16_t* out) {
    const size_t pixels = m_work.size();
    std::memcpy(m_work.data(), m_background.data(), pixels * sizeof(int32_t));
    // The whole scene breathes a little, as ambient temperature does.
    const auto ambient = static_cast<int32_t>(std::lround(60.0 * std::sin(2.0 * std::numbers::pi * t / 90.0)));
    for (const HotObject& object : m_objects) AddObject(object, t, m_work.data());
    if (blurRadius > 0) BoxBlur(blurRadius, m_work.data());
    const int16_t* noise = m_noise.data() + noiseIndex % kNoiseSlack;
    for (size_t i = 0; i < pixels; ++i) {
        out[i] = static_cast<uint16_t>(std::clamp(m_work[i] + ambient + noise[i], 0, int32_t{kMaxValue}));
    }
}

}  // namespace camsim
