// The gain control's kernels for processors with AVX2 (chosen at run time): the linear stretch
// with 256-bit vectors, twice the pixels per step of the SSE2 kernels, and the table look-up with
// byte inserts; the same bytes as the SSE2 kernels.
#include "agc_internal.h"

#if defined(KX_AGC_HAVE_AVX2)
#include <immintrin.h>

#include <algorithm>
#include <cstring>

namespace kx::agc {
namespace {

#define KX_AVX2 __attribute__((target("avx2")))

// offset + ((v * gain) >> 8) for sixteen values below 2^14, saturated to 16 bits (see the SSE2
// kernel). Unpacking and packing both work within 128-bit lanes, so the order comes out right.
KX_AVX2 inline __m256i LinearLanes(__m256i v, __m256i gain, __m256i offset) {
    const __m256i lo = _mm256_mullo_epi16(v, gain);
    const __m256i hi = _mm256_mulhi_epu16(v, gain);
    const __m256i a = _mm256_add_epi32(_mm256_srli_epi32(_mm256_unpacklo_epi16(lo, hi), 8), offset);
    const __m256i b = _mm256_add_epi32(_mm256_srli_epi32(_mm256_unpackhi_epi16(lo, hi), 8), offset);
    return _mm256_packs_epi32(a, b);
}

// Puts the bytes of a lane-wise pack of two 16-lane vectors back into pixel order.
KX_AVX2 inline __m256i InPixelOrder(__m256i packed) {
    return _mm256_permute4x64_epi64(packed, 0xD8);
}

KX_AVX2 inline __m256i LoadLimited(const uint16_t* p) {
    return _mm256_min_epu16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)),
                            _mm256_set1_epi16(static_cast<int16_t>(kMaxValue)));
}

// The table's bytes for the four samples in `four` (none above 16383), into bytes First ..
// First + 3 of r.
template <int First>
KX_AVX2 inline __m128i InsertLookUps(__m128i r, const uint8_t* lut, uint64_t four) {
    r = _mm_insert_epi8(r, lut[four & 0xFFFF], First);
    r = _mm_insert_epi8(r, lut[(four >> 16) & 0xFFFF], First + 1);
    r = _mm_insert_epi8(r, lut[(four >> 32) & 0xFFFF], First + 2);
    return _mm_insert_epi8(r, lut[four >> 48], First + 3);
}

}  // namespace

KX_AVX2 size_t MapLinearWide(const uint16_t* image, size_t count, uint16_t gain, int32_t offset,
                             uint8_t* gray) {
    const __m256i g = _mm256_set1_epi16(static_cast<int16_t>(gain));
    const __m256i o = _mm256_set1_epi32(offset);
    size_t i = 0;
    for (; i + 32 <= count; i += 32) {
        const __m256i v0 = LoadLimited(image + i);
        const __m256i v1 = LoadLimited(image + i + 16);
        const __m256i bytes = _mm256_packus_epi16(LinearLanes(v0, g, o), LinearLanes(v1, g, o));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(gray + i), InPixelOrder(bytes));
    }
    return i;
}

KX_AVX2 size_t MapThroughLutWide(const uint16_t* image, size_t count, const uint8_t* lut,
                                 uint8_t* gray) {
    // The look-ups themselves stay scalar (a gather is slower here); their bytes are inserted
    // into a vector and stored sixteen at a time, which leaves the loads as the only limit. The
    // indices come from four 64-bit loads, tested together for samples that need limiting.
    size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        uint64_t a, b, c, d;
        std::memcpy(&a, image + i, sizeof a);
        std::memcpy(&b, image + i + 4, sizeof b);
        std::memcpy(&c, image + i + 8, sizeof c);
        std::memcpy(&d, image + i + 12, sizeof d);
        if (((a | b | c | d) & 0xC000C000C000C000u) != 0) {
            for (size_t j = i; j < i + 16; ++j)
                gray[j] = lut[std::min<uint16_t>(image[j], kMaxValue)];
            continue;
        }
        __m128i r = _mm_setzero_si128();
        r = InsertLookUps<0>(r, lut, a);
        r = InsertLookUps<4>(r, lut, b);
        r = InsertLookUps<8>(r, lut, c);
        r = InsertLookUps<12>(r, lut, d);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(gray + i), r);
    }
    return i;
}

KX_AVX2 size_t MapKneeWide(const uint16_t* image, size_t count, uint16_t gain, int32_t offset,
                           uint16_t knee, const uint8_t* lut, uint8_t* gray) {
    const __m256i g = _mm256_set1_epi16(static_cast<int16_t>(gain));
    const __m256i o = _mm256_set1_epi32(offset);
    const __m256i k = _mm256_set1_epi16(static_cast<int16_t>(knee));  // values and knee < 2^14
    size_t i = 0;
    for (; i + 32 <= count; i += 32) {
        const __m256i v0 = LoadLimited(image + i);
        const __m256i v1 = LoadLimited(image + i + 16);
        const __m256i bytes = _mm256_packus_epi16(LinearLanes(v0, g, o), LinearLanes(v1, g, o));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(gray + i), InPixelOrder(bytes));
        const __m256i above =
            _mm256_packs_epi16(_mm256_cmpgt_epi16(v0, k), _mm256_cmpgt_epi16(v1, k));
        auto tail = static_cast<uint32_t>(_mm256_movemask_epi8(InPixelOrder(above)));
        while (tail != 0) {
            const size_t j = i + static_cast<size_t>(__builtin_ctz(tail));
            gray[j] = lut[image[j] > kMaxValue ? kMaxValue : image[j]];
            tail &= tail - 1;
        }
    }
    return i;
}

}  // namespace kx::agc

#endif
