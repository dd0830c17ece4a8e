// The linear stretch of the gain control with 256-bit vectors, for processors with AVX2 (chosen
// at run time): twice the pixels per step of the SSE2 kernels, the same bytes.
#include "agc_internal.h"

#if defined(KX_AGC_HAVE_AVX2)
#include <immintrin.h>

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
