// Frame header parse and encode, the image CRC, and the parameter-row decodings.
#include "frame_format.h"

#include <array>
#include <cstdio>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KX_HAVE_CLMUL 1
#endif

namespace kestrix {
namespace {

uint32_t LoadLe32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;  // the frame is little-endian, and so is every host this builds for
}

void StoreLe32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

constexpr uint32_t kPoly = 0x04C11DB7;

// The most-significant-bit-first table of the polynomial, and the byte-reversed form of it that
// the reference method uses with its byte-reversed register.
constexpr std::array<uint32_t, 256> MakeMsbTable() {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t r = i << 24;
        for (int k = 0; k < 8; ++k) r = (r & 0x80000000u) ? (r << 1) ^ kPoly : r << 1;
        t[i] = r;
    }
    return t;
}
constexpr std::array<uint32_t, 256> kMsbTable = MakeMsbTable();

constexpr std::array<uint32_t, 256> MakeReversedTable() {
    std::array<uint32_t, 256> t{};
    for (int i = 0; i < 256; ++i) t[i] = __builtin_bswap32(kMsbTable[i]);
    return t;
}
constexpr std::array<uint32_t, 256> kReversedTable = MakeReversedTable();
static_assert(kReversedTable[1] == 0xB71DC104 && kReversedTable[2] == 0x6E3B8209);

// Plain MSB-first CRC update in the normal (not byte-reversed) register form.
uint32_t CrcUpdateMsb(uint32_t crc, const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) crc = (crc << 8) ^ kMsbTable[(crc >> 24) ^ p[i]];
    return crc;
}

#ifdef KX_HAVE_CLMUL
// x^n mod P, as a 32-bit polynomial (degree < 32).
constexpr uint64_t XPowMod(int n) {
    uint32_t r = 1;
    for (int i = 0; i < n; ++i) r = (r & 0x80000000u) ? (r << 1) ^ kPoly : r << 1;
    return r;
}

// Folding with carry-less multiplication. Each 128-bit lane holds 16 message bytes, first byte
// most significant. Moving a lane D bits further along the message multiplies it by x^D: its high
// half by x^(D+64) mod P, its low half by x^D mod P, both products fitting in 96 bits. Four lanes
// run side by side to hide the multiplier's latency. What remains is a 128-bit value congruent to
// the message (with the initial register folded into its first four bytes), whose CRC the table
// method finishes.
#define KX_CLMUL_TARGET __attribute__((target("pclmul,ssse3,sse4.1")))

KX_CLMUL_TARGET inline __m128i LoadSwapped(const uint8_t* q, __m128i swap) {
    return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q)), swap);
}

KX_CLMUL_TARGET inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
    return _mm_xor_si128(
        _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x11), _mm_clmulepi64_si128(x, k, 0x00)), next);
}

KX_CLMUL_TARGET uint32_t CrcClmul(uint32_t crc, const uint8_t* p, size_t n) {
    const __m128i kSwap = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m128i k512 = _mm_set_epi64x(XPowMod(512 + 64), XPowMod(512));
    const __m128i k128 = _mm_set_epi64x(XPowMod(128 + 64), XPowMod(128));
    auto load = [&](const uint8_t* q) KX_CLMUL_TARGET { return LoadSwapped(q, kSwap); };
    auto fold = [](__m128i x, __m128i k, __m128i next) KX_CLMUL_TARGET {
        return Fold(x, k, next);
    };

    __m128i x0 = _mm_xor_si128(load(p), _mm_set_epi32(static_cast<int>(crc), 0, 0, 0));
    __m128i x1 = load(p + 16), x2 = load(p + 32), x3 = load(p + 48);
    p += 64;
    n -= 64;
    while (n >= 64) {
        x0 = fold(x0, k512, load(p));
        x1 = fold(x1, k512, load(p + 16));
        x2 = fold(x2, k512, load(p + 32));
        x3 = fold(x3, k512, load(p + 48));
        p += 64;
        n -= 64;
    }
    x1 = fold(x0, k128, x1);
    x2 = fold(x1, k128, x2);
    x3 = fold(x2, k128, x3);
    while (n >= 16) {
        x3 = fold(x3, k128, load(p));
        p += 16;
        n -= 16;
    }
    alignas(16) uint8_t rest[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(rest), _mm_shuffle_epi8(x3, kSwap));
    return CrcUpdateMsb(CrcUpdateMsb(0, rest, 16), p, n);
}

bool CpuHasClmul() {
    static const bool has = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return has;
}
#endif

}  // namespace

bool ParseFrameHeader(const uint8_t* p, FrameHeaderState& state) {
    if (!p) return false;
    if (LoadLe32(p) != kFrameMagic1 || LoadLe32(p + 4) != kFrameMagic2) return false;

    // The blocks are read into locals first: a header that announces an impossible image sets
    // nothing, so one bad header cannot leave a half-updated size, format or CRC behind.
    bool haveMrf = false, haveCrc = false;
    uint16_t format = 0;
    int32_t width = 0, height = 0;
    uint32_t crc = 0;

    int32_t remaining = static_cast<int32_t>(LoadLe32(p + 8));
    int32_t pos = 12;
    while (remaining > 0) {
        if (pos + 8 > kFrameHeaderSize) break;
        const uint8_t* block = p + pos;
        const int32_t dataLength = static_cast<int32_t>(LoadLe32(block + 4));
        if (dataLength < 0) break;
        if (std::memcmp(block, "MRF_", 4) == 0) {
            if (pos + 8 + 12 > kFrameHeaderSize) break;
            std::memcpy(&format, block + 8, 2);
            width = static_cast<int32_t>(LoadLe32(block + 12));
            height = static_cast<int32_t>(LoadLe32(block + 16));
            haveMrf = true;
        } else if (std::memcmp(block, "CRC_", 4) == 0) {
            if (pos + 8 + 8 > kFrameHeaderSize) break;
            crc = LoadLe32(block + 12);
            haveCrc = true;
        }
        if (dataLength > kFrameHeaderSize) break;  // the next block would lie past byte 56
        remaining -= 8 + dataLength;
        pos += 8 + dataLength;
    }

    if (haveMrf) {
        if (width <= 0 || height <= 0) return false;
        if (static_cast<int64_t>(width) * height * 2 > kMaxImageBytes) return false;
        state.m_nFrameFormat = format;
        state.m_nWidth = width;
        state.m_nHeight = height;
    }
    if (haveCrc) {
        state.m_nFrameCrc = crc;
        state.m_bCrcPresent = true;
    }
    return true;
}

uint32_t FrameCrc32Bytewise(const void* data, int32_t length) {
    uint32_t reg = 0xFFFFFFFFu;
    if (!data || length <= 0) return reg;
    const auto* p = static_cast<const uint8_t*>(data);
    for (int32_t i = 0; i < length; ++i) reg = (reg >> 8) ^ kReversedTable[(reg ^ p[i]) & 0xFF];
    return reg;
}

uint32_t FrameCrc32(const void* data, int32_t length) {
    if (!data || length <= 0) return 0xFFFFFFFFu;
    const auto* p = static_cast<const uint8_t*>(data);
#ifdef KX_HAVE_CLMUL
    if (length >= 64 && CpuHasClmul()) {
        return __builtin_bswap32(CrcClmul(0xFFFFFFFFu, p, static_cast<size_t>(length)));
    }
#endif
    return __builtin_bswap32(CrcUpdateMsb(0xFFFFFFFFu, p, static_cast<size_t>(length)));
}

void WriteFrameHeader(uint8_t* out, uint16_t format, int32_t width, int32_t height, bool withCrc,
                      uint32_t crc) {
    std::memset(out, 0, kFrameHeaderSize);
    StoreLe32(out, kFrameMagic1);
    StoreLe32(out + 4, kFrameMagic2);
    StoreLe32(out + 8, 44);
    uint8_t* mrf = out + 12;
    std::memcpy(mrf, "MRF_", 4);
    StoreLe32(mrf + 4, 12);
    std::memcpy(mrf + 8, &format, 2);
    StoreLe32(mrf + 12, static_cast<uint32_t>(width));
    StoreLe32(mrf + 16, static_cast<uint32_t>(height));
    uint8_t* next = mrf + 20;  // 24 bytes remain: a "CRC_" block of 8 data bytes and padding
    if (withCrc) {
        std::memcpy(next, "CRC_", 4);
        StoreLe32(next + 4, 8);
        StoreLe32(next + 12, crc);
        next += 16;
    }
    std::memcpy(next, "PAD_", 4);
    StoreLe32(next + 4, static_cast<uint32_t>(out + kFrameHeaderSize - next - 8));
}

std::optional<DeviceParams> ReadDeviceParams(const uint8_t* image, int32_t width, int32_t height) {
    if (!image || width < kDeviceParamCount || height < 2) return std::nullopt;
    DeviceParams params;
    std::memcpy(&params, image + static_cast<size_t>(height - 2) * width * 2, sizeof params);
    return params;
}

std::optional<int32_t> CentreGrayValue(const uint8_t* image, int32_t width, int32_t height) {
    if (!image || width < 5 || height < 5) return std::nullopt;
    int32_t sum = 0;
    for (int32_t y = height / 2 - 2; y <= height / 2 + 2; ++y) {
        for (int32_t x = width / 2 - 2; x <= width / 2 + 2; ++x) {
            int16_t v;
            std::memcpy(&v, image + (static_cast<size_t>(y) * width + x) * 2, 2);
            sum += v;
        }
    }
    return sum / 25;
}

float DecodeTemperature(uint16_t word) {
    const float value = static_cast<float>((word & 0x1FFF) / 100.0);
    return word > 0x1FFF ? -value : value;
}

void FormatReadouts(const DeviceParams& params, ReadoutTexts& out) {
    auto& t = out.text;
    std::snprintf(t[kFocalPlane], sizeof t[0], "%.2f℃", DecodeTemperature(params.focalPlaneTemp));
    std::snprintf(t[kCavity], sizeof t[0], "%.2f℃", DecodeTemperature(params.cavityTemp));
    std::snprintf(t[kPcb], sizeof t[0], "%.2f℃", DecodeTemperature(params.pcbTemp));
    std::snprintf(t[kVitec], sizeof t[0], "%.2f", static_cast<float>(params.vitec / 100.0));
    std::snprintf(t[kEocc], sizeof t[0], "%d", static_cast<int16_t>(params.eocc));
    std::snprintf(t[kTec], sizeof t[0], "%d", static_cast<int16_t>(params.tecLevel));
    std::snprintf(t[kBValue], sizeof t[0], "%d", static_cast<int16_t>(params.bValue));
}

void ClearReadouts(ReadoutTexts& out) {
    for (auto& text : out.text) text[0] = '\0';
}

}  // namespace kestrix
