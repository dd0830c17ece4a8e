// The camera's raw frame layout: the 56-byte tagged header, the image CRC, the parameter row that
// travels in image row H - 2, and the texts the display panel shows for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace kestrix {

constexpr int32_t kFrameHeaderSize = 56;
constexpr uint32_t kFrameMagic1 = 0x12345678;
constexpr uint32_t kFrameMagic2 = 0x87654321;
constexpr int32_t kFrameBufferSize = 2000000;  // assembly, image, gray and display buffers
constexpr int32_t kMaxImageBytes = kFrameBufferSize - kFrameHeaderSize;

// What a header's blocks set. A field a header does not carry keeps the earlier header's value,
// so the worker keeps one of these across frames.
struct FrameHeaderState {
    uint32_t m_nFrameFormat = 0;  // "MRF_" format code
    int32_t m_nWidth = 0;         // "MRF_" width in pixels
    int32_t m_nHeight = 0;        // "MRF_" height in pixels
    uint32_t m_nFrameCrc = 0;     // "CRC_" field as its 4 bytes read in host order
    bool m_bCrcPresent = false;   // set by the first "CRC_" block, never cleared
};

// True when both magic words match; the tagged blocks have then been read into `state`. The block
// walk never reads past byte 56, never stands still or steps back. A "MRF_" block whose size is not
// a sane image (width or height not positive, or an image that cannot fit the 2,000,000-byte
// assembly buffer behind its header) makes the candidate no header at all, and nothing is set.
bool ParseFrameHeader(const uint8_t* p, FrameHeaderState& state);

// CRC-32/MPEG-2 (poly 0x04C11DB7, init 0xFFFFFFFF, no reflection, no final xor) of `length` bytes,
// returned with its four bytes reversed: the value equals a "CRC_" block's field read in host
// order. A length of 0 or less gives 0xFFFFFFFF.
uint32_t FrameCrc32(const void* data, int32_t length);

// The byte-at-a-time table method; the reference that the fast path must match.
uint32_t FrameCrc32Bytewise(const void* data, int32_t length);

// Writes a 56-byte header: magic words, a "MRF_" block and, when asked, a "CRC_" block that stores
// `crc` as FrameCrc32 returns it. The rest of the block list is zero.
void WriteFrameHeader(uint8_t* out, uint16_t format, int32_t width, int32_t height, bool withCrc,
                      uint32_t crc);

// The fourteen parameter words at the start of image row H - 2, little-endian as they arrived.
struct DeviceParams {
    uint16_t focalPlaneTemp;
    uint16_t cavityTemp;
    uint16_t pcbTemp;
    uint16_t vitec;
    uint16_t eocc;
    uint16_t tecLevel;
    uint16_t frozenFrame;
    uint16_t tecRampFrame;
    uint16_t row;
    uint16_t column;
    uint16_t integrationTime;
    uint16_t bValue;
    uint16_t reserved;
    uint16_t responsivityLevel;
};
constexpr int kDeviceParamCount = 14;
static_assert(sizeof(DeviceParams) == 2 * kDeviceParamCount);

// Reads the parameter row of an image of width x height 16-bit pixels; nothing when the image is
// too small to hold it (fewer than 2 rows or 14 columns).
std::optional<DeviceParams> ReadDeviceParams(const uint8_t* image, int32_t width, int32_t height);

// Mean of the 5 x 5 pixels around the image centre, each read as a signed 16-bit value as it
// arrived, truncated; nothing when the image has fewer than 5 rows or columns.
std::optional<int32_t> CentreGrayValue(const uint8_t* image, int32_t width, int32_t height);

// The seven readouts of the display panel, in the order in which they are updated.
enum ReadoutIndex { kFocalPlane, kCavity, kPcb, kVitec, kEocc, kTec, kBValue, kReadoutCount };
constexpr int kReadoutControlIds[kReadoutCount] = {1052, 1054, 1056, 1058, 1053, 1055, 1057};

struct ReadoutTexts {
    char text[kReadoutCount][24];  // UTF-8, NUL-terminated; empty when the row cannot be read
};

// Temperature word: low 13 bits are hundredths of a degree, any high bit set makes it negative.
float DecodeTemperature(uint16_t word);
void FormatReadouts(const DeviceParams& params, ReadoutTexts& out);
void ClearReadouts(ReadoutTexts& out);

}  // namespace kestrix
