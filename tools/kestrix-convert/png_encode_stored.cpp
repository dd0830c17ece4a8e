// PNG encoding without a library, for the Windows build where there is no libpng: the image data
// go into zlib's stored (uncompressed) deflate blocks, which every PNG reader takes. The files are
// larger than libpng's, the pixels the same.
#include "png_encode.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>
#include <string_view>

namespace kestrix {
namespace {

constexpr size_t kMaxStoredBlock = 65535;

// CRC-32 as PNG chunks carry it (reflected, polynomial 0xEDB88320).
uint32_t ChunkCrc(const uint8_t* data, size_t size, uint32_t crc = 0xFFFFFFFFu) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

void PutBig32(std::vector<uint8_t>& out, uint32_t v) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                              static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
    out.insert(out.end(), bytes, bytes + 4);
}

// Length, type, data and the CRC over type and data.
void PutChunk(std::vector<uint8_t>& out, std::string_view type, const std::vector<uint8_t>& data) {
    PutBig32(out, static_cast<uint32_t>(data.size()));
    const size_t typeAt = out.size();
    out.insert(out.end(), type.begin(), type.end());
    out.insert(out.end(), data.begin(), data.end());
    PutBig32(out, ChunkCrc(out.data() + typeAt, out.size() - typeAt) ^ 0xFFFFFFFFu);
}

// The zlib stream of `raw` in stored blocks, with its Adler-32 at the end.
std::vector<uint8_t> StoredZlib(const std::vector<uint8_t>& raw) {
    std::vector<uint8_t> z;
    z.reserve(raw.size() + raw.size() / kMaxStoredBlock * 5 + 11);
    z.push_back(0x78);  // deflate, 32 KB window
    z.push_back(0x01);  // no preset dictionary; 0x7801 is a multiple of 31
    size_t offset = 0;
    do {
        const size_t length = std::min(kMaxStoredBlock, raw.size() - offset);
        const bool last = offset + length == raw.size();
        z.push_back(last ? 1 : 0);  // BFINAL, BTYPE 00 (stored)
        const uint16_t len = static_cast<uint16_t>(length);
        const uint16_t nlen = static_cast<uint16_t>(~len);
        const uint8_t lengths[4] = {static_cast<uint8_t>(len), static_cast<uint8_t>(len >> 8),
                                    static_cast<uint8_t>(nlen), static_cast<uint8_t>(nlen >> 8)};
        z.insert(z.end(), lengths, lengths + 4);
        z.insert(z.end(), raw.begin() + static_cast<ptrdiff_t>(offset),
                 raw.begin() + static_cast<ptrdiff_t>(offset + length));
        offset += length;
    } while (offset < raw.size());
    uint32_t a = 1, b = 0;
    for (const uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    PutBig32(z, (b << 16) | a);
    return z;
}

}  // namespace

bool EncodePng(PngPixels kind, const void* pixels, int32_t width, int32_t height,
               std::vector<uint8_t>* png) {
    if (!pixels || !png || width <= 0 || height <= 0) return false;
    const bool rgb = kind == PngPixels::kRgb8, wide = kind == PngPixels::kGray16;
    const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
    const size_t rowBytes = w * (rgb ? 3 : wide ? 2 : 1);
    try {
        png->clear();
        // Each row: filter type 0 (none), then its samples, 16-bit ones most significant first.
        std::vector<uint8_t> raw((rowBytes + 1) * h);
        for (size_t y = 0; y < h; ++y) {
            uint8_t* row = raw.data() + y * (rowBytes + 1) + 1;
            if (wide) {
                const auto* samples = static_cast<const uint16_t*>(pixels) + y * w;
                for (size_t x = 0; x < w; ++x) {
                    row[2 * x] = static_cast<uint8_t>(samples[x] >> 8);
                    row[2 * x + 1] = static_cast<uint8_t>(samples[x]);
                }
            } else {
                std::memcpy(row, static_cast<const uint8_t*>(pixels) + y * rowBytes, rowBytes);
            }
        }
        std::vector<uint8_t> header;
        PutBig32(header, static_cast<uint32_t>(width));
        PutBig32(header, static_cast<uint32_t>(height));
        // Bit depth, colour type (2 RGB, 0 grey), deflate, adaptive filters, no interlace.
        const uint8_t rest[5] = {static_cast<uint8_t>(wide ? 16 : 8), static_cast<uint8_t>(rgb ? 2 : 0),
                                 0, 0, 0};
        header.insert(header.end(), rest, rest + 5);

        static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        png->assign(kSignature, kSignature + 8);
        PutChunk(*png, "IHDR", header);
        PutChunk(*png, "IDAT", StoredZlib(raw));
        PutChunk(*png, "IEND", {});
    } catch (const std::exception&) {  // no memory for an image this size
        return false;
    }
    return true;
}

}  // namespace kestrix
