// The gain control's passes over pixels and over the 16,384-entry table: counting, the linear
// stretch computed directly, and the table look-up. SSE2 (every x86-64 has it) with a plain
// fallback elsewhere; both give the same bytes.
#include <algorithm>
#include <atomic>
#include <cstring>

#include "agc_internal.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kx::agc {
namespace {

inline uint8_t LinearLevel(uint32_t v, uint16_t gain, int32_t offset) {
    return static_cast<uint8_t>(std::clamp(offset + static_cast<int32_t>((v * gain) >> 8), 0, 255));
}

inline uint32_t Limited(uint16_t sample) {
    return sample > kMaxValue ? kMaxValue : sample;
}

#if defined(__SSE2__)

// min(sample, 16383) in each 16-bit lane.
inline __m128i LimitSamples(__m128i s) {
    return _mm_sub_epi16(s, _mm_subs_epu16(s, _mm_set1_epi16(static_cast<int16_t>(kMaxValue))));
}

// offset + ((v * gain) >> 8) for eight values below 2^14, saturated to 16 bits: the product has
// at most 30 bits, so its two 16-bit halves are joined into 32-bit lanes.
inline __m128i LinearLanes(__m128i v, __m128i gain, __m128i offset) {
    const __m128i lo = _mm_mullo_epi16(v, gain);
    const __m128i hi = _mm_mulhi_epu16(v, gain);
    const __m128i a = _mm_add_epi32(_mm_srli_epi32(_mm_unpacklo_epi16(lo, hi), 8), offset);
    const __m128i b = _mm_add_epi32(_mm_srli_epi32(_mm_unpackhi_epi16(lo, hi), 8), offset);
    return _mm_packs_epi32(a, b);
}

// Sixteen levels clamped to 0 .. 255 from sixteen values.
inline __m128i LinearBytes(__m128i v0, __m128i v1, __m128i gain, __m128i offset) {
    return _mm_packus_epi16(LinearLanes(v0, gain, offset), LinearLanes(v1, gain, offset));
}

inline __m128i Load(const uint16_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

#endif

bool CpuHasAvx2() {
#if defined(KX_AGC_HAVE_AVX2)
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
#else
    return false;
#endif
}

std::atomic<bool> g_narrowOnly{false};  // set by tests only

}  // namespace

bool WideKernels() {
    return CpuHasAvx2() && !g_narrowOnly.load(std::memory_order_relaxed);
}

void SetWideKernels(bool on) {
    g_narrowOnly.store(!on, std::memory_order_relaxed);
}

void CountValues(const uint16_t* image, size_t count, uint16_t* hist) {
    // Neighbouring pixels often share a value, and increments of one counter close together wait
    // for each other (or are replayed). Pixels therefore count into four sets in turn, the first
    // in the block and three on the stack, which are added at the end; 16-bit sums wrap exactly
    // as one set would.
    alignas(16) uint16_t more[3][kValues];
    uint16_t* const s1 = more[0];
    uint16_t* const s2 = more[1];
    uint16_t* const s3 = more[2];
    std::memset(hist, 0, kValues * sizeof *hist);
    std::memset(more, 0, sizeof more);
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i top = _mm_set1_epi16(static_cast<int16_t>(0xC000));
    for (; i + 16 <= count; i += 16) {
        const __m128i a = Load(image + i);
        const __m128i b = Load(image + i + 8);
        // Sixteen equal samples (flat or saturated areas) take a single addition.
        const __m128i first = _mm_shuffle_epi32(_mm_shufflelo_epi16(a, 0), 0);
        if (_mm_movemask_epi8(
                _mm_and_si128(_mm_cmpeq_epi16(a, first), _mm_cmpeq_epi16(b, first))) == 0xFFFF) {
            const uint32_t value = Limited(image[i]);
            hist[value] = static_cast<uint16_t>(hist[value] + 16);
            continue;
        }
        const uint16_t* p = image + i;
        const __m128i high = _mm_and_si128(_mm_or_si128(a, b), top);
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(high, _mm_setzero_si128())) != 0xFFFF) {
            for (int j = 0; j < 16; j += 4) {  // some sample above 16383: limit each
                ++hist[Limited(p[j])];
                ++s1[Limited(p[j + 1])];
                ++s2[Limited(p[j + 2])];
                ++s3[Limited(p[j + 3])];
            }
            continue;
        }
        // The indices are loaded again rather than taken from the vector: cheaper here.
        for (int j = 0; j < 16; j += 4) {
            ++hist[p[j]];
            ++s1[p[j + 1]];
            ++s2[p[j + 2]];
            ++s3[p[j + 3]];
        }
    }
#endif
    for (; i < count; ++i) ++hist[Limited(image[i])];
    uint32_t v = 0;
#if defined(__SSE2__)
    for (; v < kValues; v += 8) {
        auto* h = reinterpret_cast<__m128i*>(hist + v);
        const __m128i sum = _mm_add_epi16(_mm_add_epi16(Load(s1 + v), Load(s2 + v)), Load(s3 + v));
        _mm_storeu_si128(h, _mm_add_epi16(_mm_loadu_si128(h), sum));
    }
#endif
    for (; v < kValues; ++v) hist[v] = static_cast<uint16_t>(hist[v] + s1[v] + s2[v] + s3[v]);
}

void MapLinear(const uint16_t* image, size_t count, uint16_t gain, int32_t offset, uint8_t* gray) {
    size_t i = 0;
#if defined(KX_AGC_HAVE_AVX2)
    if (WideKernels()) i = MapLinearWide(image, count, gain, offset, gray);
#endif
#if defined(__SSE2__)
    const __m128i g = _mm_set1_epi16(static_cast<int16_t>(gain));
    const __m128i o = _mm_set1_epi32(offset);
    for (; i + 16 <= count; i += 16) {
        const __m128i v0 = LimitSamples(Load(image + i));
        const __m128i v1 = LimitSamples(Load(image + i + 8));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(gray + i), LinearBytes(v0, v1, g, o));
    }
#endif
    for (; i < count; ++i) gray[i] = LinearLevel(Limited(image[i]), gain, offset);
}

void FillLinear(uint16_t gain, int32_t offset, uint8_t* lut) {
    uint32_t v = 0;
#if defined(__SSE2__)
    const __m128i g = _mm_set1_epi16(static_cast<int16_t>(gain));
    const __m128i o = _mm_set1_epi32(offset);
    const __m128i step = _mm_set1_epi16(16);
    __m128i v0 = _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7);
    __m128i v1 = _mm_setr_epi16(8, 9, 10, 11, 12, 13, 14, 15);
    for (; v < kValues; v += 16) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(lut + v), LinearBytes(v0, v1, g, o));
        v0 = _mm_add_epi16(v0, step);
        v1 = _mm_add_epi16(v1, step);
    }
#endif
    for (; v < kValues; ++v) lut[v] = LinearLevel(v, gain, offset);
}

uint32_t LimitCounters(uint16_t* hist, uint32_t first, uint32_t last, uint16_t cap,
                       uint32_t* before) {
    uint32_t total = 0;
    uint32_t raw = 0;
    uint32_t v = first;
#if defined(__SSE2__)
    const __m128i c = _mm_set1_epi16(static_cast<int16_t>(cap));
    const __m128i zero = _mm_setzero_si128();
    __m128i totals = zero;
    __m128i raws = zero;
    for (; v + 8 <= last + 1; v += 8) {
        auto* h = reinterpret_cast<__m128i*>(hist + v);
        const __m128i x = _mm_loadu_si128(h);
        const __m128i limited = _mm_sub_epi16(x, _mm_subs_epu16(x, c));
        _mm_storeu_si128(h, limited);
        raws = _mm_add_epi32(
            raws, _mm_add_epi32(_mm_unpacklo_epi16(x, zero), _mm_unpackhi_epi16(x, zero)));
        totals = _mm_add_epi32(totals, _mm_add_epi32(_mm_unpacklo_epi16(limited, zero),
                                                     _mm_unpackhi_epi16(limited, zero)));
    }
    alignas(16) uint32_t lanes[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), totals);
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes + 4), raws);
    total = lanes[0] + lanes[1] + lanes[2] + lanes[3];
    raw = lanes[4] + lanes[5] + lanes[6] + lanes[7];
#endif
    for (; v <= last; ++v) {
        raw += hist[v];
        hist[v] = std::min(hist[v], cap);
        total += hist[v];
    }
    *before = raw;
    return total;
}

void ScaleLevels(uint8_t* levels, uint16_t g, int32_t offset) {
    uint32_t v = 0;
#if defined(__SSE2__)
    // level x g <= 255 x 256 fits 16 bits; offset + (that >> 8) lies within -255 .. 510.
    const __m128i gg = _mm_set1_epi16(static_cast<int16_t>(g));
    const __m128i o = _mm_set1_epi16(static_cast<int16_t>(offset));
    const __m128i zero = _mm_setzero_si128();
    for (; v < kValues; v += 16) {
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(levels + v));
        const __m128i lo =
            _mm_add_epi16(_mm_srli_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(b, zero), gg), 8), o);
        const __m128i hi =
            _mm_add_epi16(_mm_srli_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(b, zero), gg), 8), o);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(levels + v), _mm_packus_epi16(lo, hi));
    }
#endif
    for (; v < kValues; ++v) {
        levels[v] = static_cast<uint8_t>(std::clamp(offset + ((levels[v] * g) >> 8), 0, 255));
    }
}

void MapThroughLut(const uint16_t* image, size_t count, const uint8_t* lut, uint8_t* gray) {
    size_t i = 0;
#if defined(KX_AGC_HAVE_AVX2)
    if (WideKernels()) i = MapThroughLutWide(image, count, lut, gray);
#endif
#if defined(__SSE2__)
    // The look-ups are scalar. As in CountValues, half the indices are loaded again and half are
    // taken from the vector, which also tells whether any sample needs limiting.
    const __m128i top = _mm_set1_epi16(static_cast<int16_t>(0xC000));
    for (; i + 16 <= count; i += 16) {
        const __m128i a = Load(image + i);
        const __m128i b = Load(image + i + 8);
        const uint16_t* p = image + i;
        uint8_t* out = gray + i;
        const __m128i high = _mm_and_si128(_mm_or_si128(a, b), top);
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(high, _mm_setzero_si128())) != 0xFFFF) {
            for (int j = 0; j < 16; ++j) out[j] = lut[Limited(p[j])];
            continue;
        }
        const auto lo = static_cast<uint64_t>(_mm_cvtsi128_si64(b));
        const auto hi = static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(b, b)));
        // Read all eight before writing: a byte store might alias the samples.
        const uint8_t l0 = lut[p[0]], l1 = lut[p[1]], l2 = lut[p[2]], l3 = lut[p[3]];
        const uint8_t l4 = lut[p[4]], l5 = lut[p[5]], l6 = lut[p[6]], l7 = lut[p[7]];
        out[0] = l0;
        out[1] = l1;
        out[2] = l2;
        out[3] = l3;
        out[4] = l4;
        out[5] = l5;
        out[6] = l6;
        out[7] = l7;
        out[8] = lut[lo & 0xFFFF];
        out[9] = lut[(lo >> 16) & 0xFFFF];
        out[10] = lut[(lo >> 32) & 0xFFFF];
        out[11] = lut[lo >> 48];
        out[12] = lut[hi & 0xFFFF];
        out[13] = lut[(hi >> 16) & 0xFFFF];
        out[14] = lut[(hi >> 32) & 0xFFFF];
        out[15] = lut[hi >> 48];
    }
#endif
    for (; i < count; ++i) gray[i] = lut[Limited(image[i])];
}

void MapKnee(const uint16_t* image, size_t count, uint16_t gain, int32_t offset, uint16_t knee,
             const uint8_t* lut, uint8_t* gray) {
    size_t i = 0;
#if defined(KX_AGC_HAVE_AVX2)
    if (WideKernels()) i = MapKneeWide(image, count, gain, offset, knee, lut, gray);
#endif
#if defined(__SSE2__)
    const __m128i g = _mm_set1_epi16(static_cast<int16_t>(gain));
    const __m128i o = _mm_set1_epi32(offset);
    const __m128i k = _mm_set1_epi16(static_cast<int16_t>(knee));  // values and knee < 2^14
    for (; i + 16 <= count; i += 16) {
        const __m128i v0 = LimitSamples(Load(image + i));
        const __m128i v1 = LimitSamples(Load(image + i + 8));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(gray + i), LinearBytes(v0, v1, g, o));
        auto tail = static_cast<uint32_t>(
            _mm_movemask_epi8(_mm_packs_epi16(_mm_cmpgt_epi16(v0, k), _mm_cmpgt_epi16(v1, k))));
        while (tail != 0) {
            const size_t j = i + static_cast<size_t>(__builtin_ctz(tail));
            gray[j] = lut[Limited(image[j])];
            tail &= tail - 1;
        }
    }
#else
    (void)gain;
    (void)offset;
    (void)knee;
#endif
    // The table holds the linear form up to the knee too.
    for (; i < count; ++i) gray[i] = lut[Limited(image[i])];
}

}  // namespace kx::agc
