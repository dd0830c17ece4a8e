// Automatic gain control: the C entry points, the mode presets, and the per-frame work between
// the pixel kernels (bounds and means from the histogram, the look-up table of each mode).
#include <algorithm>
#include <cstring>
#include <new>
#include <thread>

#include "agc_internal.h"

namespace kx::agc {
namespace {

static_assert(offsetof(AgcContext, mode) == 0 && offsetof(AgcContext, lowCut) == 1 &&
                  offsetof(AgcContext, highCut) == 2 && offsetof(AgcContext, brightness) == 3 &&
                  offsetof(AgcContext, contrast) == 4 && offsetof(AgcContext, minSpan) == 6 &&
                  offsetof(AgcContext, width) == 8 && offsetof(AgcContext, height) == 12 &&
                  offsetof(AgcContext, lut) == 16 && offsetof(AgcContext, hist) == 24,
              "the context record's fields keep their places in the work block");
static_assert(sizeof(AgcContext) <= kLutOffset, "the context record fits in front of the table");
static_assert(kHistOffset + sizeof(uint16_t) * kValues == AGC_MEM_SIZE);
static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(uint64_t{255} * AGC_MAX_PIXELS <= UINT32_MAX);

uint8_t Clamp255(int32_t x) {
    return static_cast<uint8_t>(std::clamp(x, 0, 255));
}

// First value >= from whose counter is non-zero, kValues when there is none.
uint32_t FirstNonZero(const uint16_t* hist, uint32_t from) {
    uint32_t v = from;
    while (v < kValues && (v % 4 != 0) && hist[v] == 0) ++v;
    for (; v + 4 <= kValues; v += 4) {
        uint64_t four;
        std::memcpy(&four, hist + v, sizeof four);
        if (four != 0) break;
    }
    while (v < kValues && hist[v] == 0) ++v;
    return v;
}

// Last value whose counter is non-zero, -1 when there is none.
int32_t LastNonZero(const uint16_t* hist) {
    int32_t v = kValues;
    for (; v >= 4; v -= 4) {
        uint64_t four;
        std::memcpy(&four, hist + v - 4, sizeof four);
        if (four != 0) break;
    }
    do {
        --v;
    } while (v >= 0 && hist[v] == 0);
    return v;
}

// Walks down from value `from` to 1 (0 is never visited), adding counters into sum, and returns
// the first value at which sum exceeds threshold, or -1. Blocks of eight counters that cannot
// reach the threshold are added at once.
int32_t ScanDown(const uint16_t* hist, int32_t from, uint32_t threshold, uint32_t& sum) {
    int32_t v = from;
    while (v >= 8) {
        uint32_t block = 0;
        for (int32_t k = 0; k < 8; ++k) block += hist[v - k];
        if (sum + block > threshold) break;
        sum += block;
        v -= 8;
    }
    for (; v >= 1; --v) {
        sum += hist[v];
        if (sum > threshold) return v;
    }
    return -1;
}

struct Sums {
    uint64_t count = 0;     // pixels
    uint64_t weighted = 0;  // sum of value x pixels
};

// A small image fills few of the 16,384 counters, and a scene leaves long runs of them empty: the
// loops over value ranges below pass over each aligned block of kBlock empty counters at once.
constexpr uint32_t kBlock = 16;

// True when the kBlock counters from value v on are all 0.
bool BlockEmpty(const uint16_t* hist, uint32_t v) {
    uint64_t words[4];
    static_assert(sizeof words == kBlock * sizeof *hist);
    std::memcpy(words, hist + v, sizeof words);
    return (words[0] | words[1] | words[2] | words[3]) == 0;
}

Sums RangeSums(const uint16_t* hist, int32_t first, int32_t last) {
    Sums s;
    int32_t v = std::max(first, 0);
    while (v <= last) {
        // The rest of v's block, within the range.
        const int32_t end = std::min((v | int32_t{kBlock - 1}) + 1, last + 1);
        if (end - v == int32_t{kBlock} && BlockEmpty(hist, static_cast<uint32_t>(v))) {
            v = end;
            continue;
        }
        for (; v < end; ++v) {
            s.count += hist[v];
            s.weighted += static_cast<uint64_t>(v) * hist[v];
        }
    }
    return s;
}

// Rounded half up from the exact sums, in double precision; a range without pixels gives 0.
uint16_t RoundedMean(const Sums& s) {
    if (s.count == 0) return 0;
    const double mean = static_cast<double>(s.weighted) / static_cast<double>(s.count);
    return static_cast<uint16_t>(mean + 0.5);  // NOLINT(bugprone-incorrect-roundings): half up
}

// lut[v] = clamp(base + levels x (hist[first] + ... + hist[v]) / total) for v = first .. last,
// total > 0 being the sum over all of first .. last. Instead of a division per entry, the running
// sum is compared with the smallest sum that reaches the next step, ceil(step x total / levels).
void SpreadLevels(const uint16_t* hist, uint32_t first, uint32_t last, uint32_t total,
                  uint32_t levels, int32_t base, uint8_t* lut) {
    uint32_t sum = 0;
    uint32_t step = 0;
    uint64_t next = (uint64_t{total} + levels - 1) / levels;
    uint8_t level = Clamp255(base);
    for (uint32_t v = first; v <= last;) {
        const uint32_t end = std::min((v | (kBlock - 1)) + 1, last + 1);
        if (end - v == kBlock && BlockEmpty(hist, v)) {
            // The sum stays below the next step: the level holds.
            std::memset(lut + v, level, kBlock);
            v = end;
            continue;
        }
        for (; v < end; ++v) {
            sum += hist[v];
            if (sum >= next) {
                do {
                    ++step;
                    next = ((uint64_t{step} + 1) * total + levels - 1) / levels;
                } while (sum >= next);
                level = Clamp255(base + static_cast<int32_t>(step));
            }
            lut[v] = level;
        }
    }
}

void ConvertLine(const Tuning& t, const Stats& s, const uint16_t* image, size_t count,
                 uint8_t* gray, uint8_t* lut) {
    const uint32_t span = std::max<uint32_t>(s.high - s.low, t.minSpan);  // high > low
    const auto gain = static_cast<uint16_t>((t.contrast * 256u) / span);
    const int32_t offset = t.brightness - static_cast<int32_t>((uint32_t{s.mean} * gain) >> 8);
    FillLinear(gain, offset, lut);
    MapLinear(image, count, gain, offset, gray);
}

void ConvertHisteq(const Tuning& t, const Stats& s, const uint16_t* image, size_t count,
                   uint8_t* gray, uint8_t* lut, uint16_t* hist) {
    // The equalised levels cdf[v] = (limited counters up to v) x 255 / total go into the table
    // first; below the first and above the last non-zero counter they are 0 and 255. When every
    // counter has wrapped to 0 there is nothing to equalise: cdf is 0 throughout, and the whole
    // frame shows at the brightness level.
    std::memset(lut, 0, kValues);
    const uint32_t first = FirstNonZero(hist, 0);
    if (first < kValues) {
        const auto last = static_cast<uint32_t>(LastNonZero(hist));
        uint32_t before = 0;
        const uint32_t total = LimitCounters(hist, first, last, 32, &before);
        SpreadLevels(hist, first, last, total, 255, 0, lut);
        std::memset(lut + last + 1, 255, kValues - last - 1);
    }
    // Flat scenes (span below minSpan) get a proportionally smaller swing around brightness.
    const uint32_t minSpan = t.minSpan != 0 ? t.minSpan : 1;  // no preset has 0; never divide by it
    const auto g =
        static_cast<uint16_t>(std::min<uint32_t>(s.high - s.low, minSpan) * 256 / minSpan);
    const int32_t offset = t.brightness - ((lut[s.mean] * g) >> 8);
    ScaleLevels(lut, g, offset);
    MapThroughLut(image, count, lut, gray);
}

void ConvertSpecial(const Tuning& t, const Stats& s, const uint16_t* image, size_t count,
                    uint8_t* gray, uint8_t* lut, uint16_t* hist) {
    const auto d = std::min(static_cast<uint16_t>(s.mean - s.lowMean),
                            static_cast<uint16_t>(s.highMean - s.mean));
    uint32_t span = std::max<uint32_t>(static_cast<uint16_t>(6 * d), t.minSpan);
    span = std::max<uint32_t>(span, 1);
    const auto gain = static_cast<uint16_t>((t.contrast * 256u) / span);
    const int32_t offset = t.brightness - static_cast<int32_t>((uint32_t{s.mean} * gain) >> 8);
    const auto knee = static_cast<uint16_t>(s.mean + 4 * d);

    // Every entry up to the knee is the linear form (these stay below kneeLevel < 255, so the
    // clamp at white never acts on them); above it the hot tail may be equalised instead.
    FillLinear(gain, offset, lut);
    bool linear = knee >= s.peak;
    int32_t kneeLevel = 0;
    if (!linear) {
        kneeLevel =
            static_cast<int16_t>(static_cast<int32_t>((uint32_t{knee} * gain) >> 8) + offset);
        linear = kneeLevel >= 255;
    }
    if (!linear) {
        const auto slope = static_cast<uint16_t>(((255 - kneeLevel) * 256) / (s.peak - knee));
        linear = slope >= gain;
    }
    if (linear) {
        MapLinear(image, count, gain, offset, gray);
        return;
    }

    // The tail above the knee, each counter limited to 4, is spread over kneeLevel .. 255. With
    // no counts above the knee (possible only when counters wrapped, or when the bounds were
    // lifted over an empty range) the tail stays at kneeLevel.
    uint32_t tailPixels = 0;  // before limiting, to choose the mapping kernel
    const uint32_t first = FirstNonZero(hist, knee + 1u);
    if (first < kValues) {
        const auto last = static_cast<uint32_t>(LastNonZero(hist));
        const uint32_t total = LimitCounters(hist, first, last, 4, &tailPixels);
        SpreadLevels(hist, first, last, total, static_cast<uint32_t>(255 - kneeLevel), kneeLevel,
                     lut);
        std::memset(lut + last + 1, 255, kValues - last - 1);  // cum == total: 255 exactly
    }
    std::memset(lut + knee + 1, Clamp255(kneeLevel), first - (knee + 1u));

    // The tail is usually a small share of the scene: compute the rest, look up the tail only.
    if (tailPixels <= count / 4) {
        MapKnee(image, count, gain, offset, knee, lut, gray);
    } else {
        MapThroughLut(image, count, lut, gray);
    }
}

}  // namespace

Tuning PresetFor(uint8_t mode, uint8_t contrastBefore) {
    switch (mode) {
        case AGC_MODE_HISTEQ:
            return {AGC_MODE_HISTEQ, 20, 20, 96, contrastBefore, 160};
        case AGC_MODE_SPECIAL:
            return {AGC_MODE_SPECIAL, 10, 20, 80, 150, 120};
        default:
            return {AGC_MODE_LINE, 20, 20, 100, 220, 160};
    }
}

Stats FindStats(const uint16_t* hist, const Tuning& tuning, uint32_t width, uint32_t height) {
    const uint32_t thrLow = tuning.lowCut * height * width / 1000;
    const uint32_t thrHigh = tuning.highCut * height * width / 1000;
    const uint32_t thrPeak = std::min<uint32_t>(thrHigh, 16);

    // A scan that never passes its threshold (the wrapped counters hold too few counts, or the
    // pixels sit at 0, which the downward scans never visit) ends at the far end of its walk:
    // low at 16383, peak and high at 0. The adjustments below then restore
    // 0 <= low < high <= peak <= 16383; low stops at 16382 so that high fits above it.
    uint32_t low = kMaxValue;
    uint32_t sum = 0;
    for (uint32_t v = FirstNonZero(hist, 0); v < kValues; ++v) {
        sum += hist[v];
        if (sum > thrLow) {
            low = v;
            break;
        }
    }

    uint32_t peak = 0;
    uint32_t high = 0;
    uint32_t above = 0;
    const int32_t peakAt = ScanDown(hist, LastNonZero(hist), thrPeak, above);
    if (peakAt >= 1) {
        peak = static_cast<uint32_t>(peakAt);
        if (above > thrHigh) {
            high = peak - 1;
        } else {
            high = static_cast<uint32_t>(std::max(ScanDown(hist, peakAt - 1, thrHigh, above), 0));
        }
    }
    low = std::min(low, kMaxValue - 1);
    if (high <= low) high = low + 1;
    if (peak < high) peak = high;

    Stats s{};
    s.low = static_cast<uint16_t>(low);
    s.high = static_cast<uint16_t>(high);
    s.peak = static_cast<uint16_t>(peak);
    const auto lo = static_cast<int32_t>(low);
    const auto hi = static_cast<int32_t>(high);
    const Sums bulk = RangeSums(hist, lo, hi - 1);
    s.mean = RoundedMean(bulk);
    const Sums below = RangeSums(hist, lo, s.mean - 1);
    s.lowMean = RoundedMean(below);
    if (s.mean >= low) {  // mean .. high is the bulk without its part below mean, plus high
        const Sums rest{bulk.count - below.count + hist[high],
                        bulk.weighted - below.weighted + uint64_t{high} * hist[high]};
        s.highMean = RoundedMean(rest);
    } else {  // the bulk had no pixels and mean is 0
        s.highMean = RoundedMean(RangeSums(hist, s.mean, hi));
    }
    return s;
}

void ConvertFrame(const Tuning& tuning, uint32_t width, uint32_t height, const uint16_t* image,
                  uint8_t* gray, uint8_t* lut, uint16_t* hist) {
    const size_t count = size_t{width} * height;
    CountValues(image, count, hist);
    const Stats stats = FindStats(hist, tuning, width, height);
    switch (tuning.mode) {
        case AGC_MODE_HISTEQ:
            ConvertHisteq(tuning, stats, image, count, gray, lut, hist);
            break;
        case AGC_MODE_SPECIAL:
            ConvertSpecial(tuning, stats, image, count, gray, lut, hist);
            break;
        default:
            ConvertLine(tuning, stats, image, count, gray, lut);
            break;
    }
}

}  // namespace kx::agc

namespace {

using kx::agc::Tuning;

class TuningGuard {
  public:
    explicit TuningGuard(AgcContext* ctx) : m_lock(ctx->tuningLock) {
        while (m_lock.exchange(true, std::memory_order_acquire)) std::this_thread::yield();
    }
    ~TuningGuard() { m_lock.store(false, std::memory_order_release); }
    TuningGuard(const TuningGuard&) = delete;
    TuningGuard& operator=(const TuningGuard&) = delete;

  private:
    std::atomic<bool>& m_lock;
};

void LoadTuning(AgcContext* ctx, const Tuning& t) {
    ctx->mode = t.mode;
    ctx->lowCut = t.lowCut;
    ctx->highCut = t.highCut;
    ctx->brightness = t.brightness;
    ctx->contrast = t.contrast;
    ctx->minSpan = t.minSpan;
}

}  // namespace

extern "C" {

int32_t AGC_GetMemSize(const AgcParams* /*params*/, int32_t* size) {
    if (!size) return AGC_E_NULLPTR;
    *size = AGC_MEM_SIZE;
    return AGC_OK;
}

int32_t AGC_Create(const AgcParams* params, void* block, int32_t blockSize, AgcHandle* handle) {
    if (!params || !block || !handle) return AGC_E_NULLPTR;
    if (blockSize < AGC_MEM_SIZE || reinterpret_cast<uintptr_t>(block) % alignof(AgcContext) != 0)
        return AGC_E_MEMSIZE;
    // The width and height come from a stream header. Beyond AGC_MAX_PIXELS a per-mille count
    // (cut x height x width, cut up to 255) would no longer fit 32 bits.
    if (params->width <= 0 || params->height <= 0 ||
        int64_t{params->width} * params->height > AGC_MAX_PIXELS)
        return AGC_E_SIZE;

    auto* bytes = static_cast<uint8_t*>(block);
    std::memset(bytes, 0, AGC_MEM_SIZE);
    // The record lives in the caller's block, which the caller frees; nothing to destroy.
    auto* ctx = new (block) AgcContext{};  // NOLINT(cppcoreguidelines-owning-memory)
    ctx->width = static_cast<uint32_t>(params->width);
    ctx->height = static_cast<uint32_t>(params->height);
    ctx->lut = bytes + kx::agc::kLutOffset;
    ctx->hist = reinterpret_cast<uint16_t*>(bytes + kx::agc::kHistOffset);
    LoadTuning(ctx, kx::agc::PresetFor(AGC_MODE_LINE, 0));
    *handle = ctx;
    return AGC_OK;
}

int32_t AGC_SetMode(AgcHandle handle, int32_t mode) {
    if (!handle) return AGC_E_NULLPTR;
    if (mode != AGC_MODE_LINE && mode != AGC_MODE_HISTEQ && mode != AGC_MODE_SPECIAL)
        return AGC_E_MODE;
    TuningGuard guard(handle);
    LoadTuning(handle, kx::agc::PresetFor(static_cast<uint8_t>(mode), handle->contrast));
    return AGC_OK;
}

int32_t AGC_Process(AgcHandle handle, const uint16_t* image, uint8_t* gray) {
    if (!handle || !image || !gray) return AGC_E_NULLPTR;
    Tuning tuning;
    {
        TuningGuard guard(handle);
        tuning = {handle->mode,       handle->lowCut,   handle->highCut,
                  handle->brightness, handle->contrast, handle->minSpan};
    }
    kx::agc::ConvertFrame(tuning, handle->width, handle->height, image, gray, handle->lut,
                          handle->hist);
    return AGC_OK;
}

}  // extern "C"
