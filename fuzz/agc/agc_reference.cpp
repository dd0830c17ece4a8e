// The gain control's integer algorithm written out plainly (see agc_reference.h). Speed does not
// matter here; every loop walks the whole range that the algorithm names.
#include "agc_reference.h"

#include <algorithm>

namespace kx::agc::reference {
namespace {

uint8_t Clamp255(int64_t x) {
    return static_cast<uint8_t>(std::clamp<int64_t>(x, 0, 255));
}

// Counter-weighted mean of a .. b, rounded half up; 0 for a range without pixels.
uint16_t Mean(const uint16_t* hist, int32_t a, int32_t b) {
    uint64_t count = 0;
    uint64_t weighted = 0;
    for (int32_t v = a; v <= b; ++v) {
        count += hist[v];
        weighted += static_cast<uint64_t>(v) * hist[v];
    }
    if (count == 0) return 0;
    const double mean = static_cast<double>(weighted) / static_cast<double>(count);
    return static_cast<uint16_t>(mean + 0.5);  // NOLINT(bugprone-incorrect-roundings): half up
}

void LinearTable(uint16_t gain, int32_t offset, uint8_t* lut) {
    for (int64_t v = 0; v <= 16383; ++v) lut[v] = Clamp255(offset + ((v * gain) >> 8));
}

}  // namespace

Stats Convert(const Tuning& t, uint32_t width, uint32_t height, const uint16_t* image,
              uint8_t* gray, uint8_t* lut, uint16_t* hist) {
    const uint64_t n = uint64_t{width} * height;

    // 1. Histogram with wrapping 16-bit counters.
    for (int v = 0; v <= 16383; ++v) hist[v] = 0;
    for (uint64_t i = 0; i < n; ++i) {
        const int v = std::min<int>(image[i], 16383);
        hist[v] = static_cast<uint16_t>(hist[v] + 1);
    }

    // 2. Bounds. A scan that never passes its threshold ends at the far end of its walk (low at
    // 16383, peak and high at 0); low stays below 16383 so that high fits above it.
    const uint32_t thrLow = uint32_t{t.lowCut} * height * width / 1000;
    const uint32_t thrHigh = uint32_t{t.highCut} * height * width / 1000;
    const uint32_t thrPeak = std::min<uint32_t>(thrHigh, 16);
    int32_t low = -1;
    uint32_t sum = 0;
    for (int32_t v = 0; v <= 16383; ++v) {
        sum += hist[v];
        if (sum > thrLow) {
            low = v;
            break;
        }
    }
    if (low < 0) low = 16383;
    int32_t peak = -1;
    int32_t high = -1;
    uint32_t s = 0;
    for (int32_t v = 16383; v >= 1; --v) {
        s += hist[v];
        if (s > thrPeak) {
            peak = v;
            break;
        }
    }
    if (peak >= 0) {
        if (s > thrHigh) {
            high = peak - 1;
        } else {
            for (int32_t v = peak - 1; v >= 1; --v) {
                s += hist[v];
                if (s > thrHigh) {
                    high = v;
                    break;
                }
            }
        }
    }
    if (peak < 0) peak = 0;
    if (high < 0) high = 0;
    if (low > 16382) low = 16382;
    if (high <= low) high = low + 1;
    if (peak < high) peak = high;

    // 3. Means.
    Stats st{};
    st.low = static_cast<uint16_t>(low);
    st.high = static_cast<uint16_t>(high);
    st.peak = static_cast<uint16_t>(peak);
    st.mean = Mean(hist, low, high - 1);
    st.lowMean = Mean(hist, low, st.mean - 1);
    st.highMean = Mean(hist, st.mean, high);

    // 4. Table.
    if (t.mode == AGC_MODE_HISTEQ) {
        uint32_t total = 0;
        for (int v = 0; v <= 16383; ++v) {
            if (hist[v] > 32) hist[v] = 32;
            total += hist[v];
        }
        uint32_t run = 0;
        for (int v = 0; v <= 16383; ++v) {
            run += hist[v];
            lut[v] =
                static_cast<uint8_t>(total == 0 ? 0 : run * 255 / total);  // nothing counted: 0
        }
        const auto g =
            static_cast<uint16_t>(std::min<uint32_t>(high - low, t.minSpan) * 256 / t.minSpan);
        const int32_t offset = t.brightness - ((lut[st.mean] * g) >> 8);
        for (int v = 0; v <= 16383; ++v) lut[v] = Clamp255(offset + ((lut[v] * g) >> 8));
    } else if (t.mode == AGC_MODE_SPECIAL) {
        const uint16_t d = std::min(static_cast<uint16_t>(st.mean - st.lowMean),
                                    static_cast<uint16_t>(st.highMean - st.mean));
        const uint32_t span = std::max<uint32_t>(static_cast<uint16_t>(6 * d), t.minSpan);
        const auto gain = static_cast<uint16_t>(t.contrast * 256u / span);
        const int32_t offset = t.brightness - static_cast<int32_t>((uint32_t{st.mean} * gain) >> 8);
        const auto knee = static_cast<uint16_t>(st.mean + 4 * d);
        bool linear = knee >= peak;
        int32_t kneeLevel = 0;
        if (!linear) {
            kneeLevel = static_cast<int16_t>(((uint32_t{knee} * gain) >> 8) + offset);
            linear = kneeLevel >= 255;
        }
        if (!linear) {
            const auto slope = static_cast<uint16_t>((255 - kneeLevel) * 256 / (peak - knee));
            linear = slope >= gain;
        }
        if (linear) {
            LinearTable(gain, offset, lut);
        } else {
            for (int64_t v = 0; v <= knee; ++v) {
                lut[v] = static_cast<uint8_t>(std::max<int64_t>(0, offset + ((v * gain) >> 8)));
            }
            uint32_t total = 0;
            for (int v = knee + 1; v <= 16383; ++v) {
                if (hist[v] > 4) hist[v] = 4;
                total += hist[v];
            }
            uint32_t cum = 0;
            for (int v = knee + 1; v <= 16383; ++v) {
                cum += hist[v];
                // Nothing counted above the knee: the tail stays at kneeLevel.
                const uint32_t up = total == 0 ? 0 : (255 - kneeLevel) * cum / total;
                lut[v] = static_cast<uint8_t>(std::min<uint32_t>(255, kneeLevel + up));
            }
        }
    } else {
        const uint32_t span = std::max<uint32_t>(high - low, t.minSpan);
        const auto gain = static_cast<uint16_t>(t.contrast * 256u / span);
        const int32_t offset = t.brightness - static_cast<int32_t>((uint32_t{st.mean} * gain) >> 8);
        LinearTable(gain, offset, lut);
    }

    // 5. Mapping.
    for (uint64_t i = 0; i < n; ++i) gray[i] = lut[std::min<int>(image[i], 16383)];
    return st;
}

}  // namespace kx::agc::reference
