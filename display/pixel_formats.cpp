// The pixel-format table, the substitutes and the plane layouts of frames and surfaces.
#include "pixel_formats.h"

#include "orvenna.h"

namespace orvenna {
namespace {

// Frames and surfaces above this size are refused; it keeps every byte count far from overflow.
constexpr uint32_t kMaxSide = 32768;

DDPIXELFORMAT RgbFormat(DWORD bits, DWORD r, DWORD g, DWORD b) {
    DDPIXELFORMAT pf{};
    pf.dwSize = sizeof(DDPIXELFORMAT);
    pf.dwFlags = DDPF_RGB;
    pf.dwRGBBitCount = bits;
    pf.dwRBitMask = r;
    pf.dwGBitMask = g;
    pf.dwBBitMask = b;
    return pf;
}

DDPIXELFORMAT FourCCFormat(char a, char b, char c, char d) {
    DDPIXELFORMAT pf{};
    pf.dwSize = sizeof(DDPIXELFORMAT);
    pf.dwFlags = DDPF_FOURCC;
    pf.dwFourCC = MAKEFOURCC(a, b, c, d);
    return pf;
}

// Bytes of one picture row of the packed formats (or of the luma plane of the planar ones).
// Surfaces hold whole pixel pairs of the 4:2:2 formats; frames end with the last pixel's bytes.
uint64_t RowBytes(unsigned format, uint64_t width, bool surface) {
    const uint64_t pairs = surface ? (width + 1) / 2 : width / 2;
    switch (format) {
        case ORVD_FORMAT_RGB555:
        case ORVD_FORMAT_RGB565:
            return 2 * width;
        case ORVD_FORMAT_UYVY:
        case ORVD_FORMAT_YUY2:
        case ORVD_FORMAT_YVYU:
        case ORVD_FORMAT_IUYV:
            return surface ? 4 * pairs : 2 * width;
        case ORVD_FORMAT_IYU2:
            return surface ? 6 * pairs : 3 * width;
        case ORVD_FORMAT_RGB24:
            return 3 * width;
        case ORVD_FORMAT_RGB32:
            return 4 * width;
        default:
            return width;
    }
}

void AddPlane(PlaneLayout* l, ptrdiff_t pitch, uint64_t row_bytes, uint64_t rows) {
    const int i = l->count++;
    l->offset[i] = l->bytes;
    l->pitch[i] = pitch;
    l->row_bytes[i] = static_cast<uint32_t>(row_bytes);
    l->rows[i] = static_cast<uint32_t>(rows);
    l->bytes += static_cast<size_t>(pitch) * rows;
}

// Builds the planes. A surface's chroma planes cover odd sizes (halves rounded up) and its rows
// are `pitch` apart; a frame's planes are packed and its halves rounded down.
bool Planes(unsigned format, uint32_t width, uint32_t height, ptrdiff_t pitch, bool surface,
            PlaneLayout* out) {
    if (out == nullptr || format >= kPixelFormatCount || width > kMaxSide || height > kMaxSide) {
        return false;
    }
    const uint64_t w = width;
    const uint64_t h = height;
    const uint64_t up = surface ? 1 : 0;
    const uint64_t row = RowBytes(format, w, surface);
    const auto p = static_cast<ptrdiff_t>(surface ? static_cast<uint64_t>(pitch) : row);
    if (surface && (pitch < 0 || static_cast<uint64_t>(pitch) < row)) return false;

    PlaneLayout l;
    AddPlane(&l, p, row, h);
    switch (format) {
        case ORVD_FORMAT_YV12:
        case ORVD_FORMAT_IYUV:
        case ORVD_FORMAT_YV16: {
            const uint64_t rows = format == ORVD_FORMAT_YV16 ? h : (h + up) / 2;
            const uint64_t len = (w + up) / 2;
            const ptrdiff_t cp = surface ? p / 2 : static_cast<ptrdiff_t>(len);
            if (static_cast<uint64_t>(cp) < len) return false;
            AddPlane(&l, cp, len, rows);
            AddPlane(&l, cp, len, rows);
            break;
        }
        case ORVD_FORMAT_NV12:
            AddPlane(&l, p, surface ? 2 * ((w + 1) / 2) : w, (h + up) / 2);
            if (static_cast<uint64_t>(p) < l.row_bytes[1]) return false;
            break;
        case ORVD_FORMAT_YUV9: {
            const uint64_t len = (w + 3 * up) / 4;
            const ptrdiff_t cp = surface ? p / 4 : static_cast<ptrdiff_t>(len);
            if (static_cast<uint64_t>(cp) < len) return false;
            AddPlane(&l, cp, len, (h + 3 * up) / 4);
            AddPlane(&l, cp, len, (h + 3 * up) / 4);
            break;
        }
        default:
            break;
    }
    *out = l;
    return true;
}

}  // namespace

const DDPIXELFORMAT kPixelFormatTable[kPixelFormatCount] = {
    RgbFormat(16, 0x7C00, 0x03E0, 0x001F),        // 0 RGB555
    RgbFormat(16, 0xF800, 0x07E0, 0x001F),        // 1 RGB565
    RgbFormat(24, 0xFF0000, 0x00FF00, 0x0000FF),  // 2 RGB24
    RgbFormat(32, 0xFF0000, 0x00FF00, 0x0000FF),  // 3 RGB32
    FourCCFormat('U', 'Y', 'V', 'Y'),             // 4
    FourCCFormat('Y', 'V', '1', '2'),             // 5
    FourCCFormat('Y', 'U', 'Y', '2'),             // 6
    FourCCFormat('Y', 'U', 'V', '9'),             // 7
    FourCCFormat('Y', 'V', 'Y', 'U'),             // 8
    FourCCFormat('I', 'Y', 'U', 'V'),             // 9
    FourCCFormat('Y', 'V', '1', '6'),             // 10
    FourCCFormat('N', 'V', '1', '2'),             // 11
    FourCCFormat('I', 'U', 'Y', 'V'),             // 12
    FourCCFormat('I', 'Y', 'U', '2'),             // 13
};

int SubstituteFormat(unsigned format) {
    switch (format) {
        case ORVD_FORMAT_RGB24:
            return ORVD_FORMAT_RGB32;
        case ORVD_FORMAT_YV12:
            return ORVD_FORMAT_IYUV;
        case ORVD_FORMAT_YVYU:
            return ORVD_FORMAT_YUY2;
        case ORVD_FORMAT_IYUV:
        case ORVD_FORMAT_YV16:
            return ORVD_FORMAT_YV12;
        case ORVD_FORMAT_IUYV:
        case ORVD_FORMAT_IYU2:
            return ORVD_FORMAT_UYVY;
        default:
            return -1;
    }
}

bool ChooseFallbackFormat(int32_t& substitute, unsigned format) {
    const int candidate = SubstituteFormat(format);
    if (substitute != -1 || candidate < 0) return false;
    substitute = candidate;
    return true;
}

int FormatFromPixelFormat(const DDPIXELFORMAT& pf) {
    for (unsigned code = 0; code < kPixelFormatCount; ++code) {
        const DDPIXELFORMAT& known = kPixelFormatTable[code];
        if ((pf.dwFlags & DDPF_FOURCC) != 0) {
            if ((known.dwFlags & DDPF_FOURCC) != 0 && known.dwFourCC == pf.dwFourCC) {
                return static_cast<int>(code);
            }
        } else if ((pf.dwFlags & DDPF_RGB) != 0 && (known.dwFlags & DDPF_RGB) != 0 &&
                   known.dwRGBBitCount == pf.dwRGBBitCount && known.dwRBitMask == pf.dwRBitMask &&
                   known.dwGBitMask == pf.dwGBitMask && known.dwBBitMask == pf.dwBBitMask) {
            return static_cast<int>(code);
        }
    }
    return -1;
}

size_t FrameByteCount(unsigned format, uint32_t width, uint32_t height) {
    PlaneLayout l;
    if (format == ORVD_FORMAT_YUV9 || !FramePlanes(format, width, height, &l)) return 0;
    return l.bytes;
}

bool SurfacePlanes(unsigned format, uint32_t width, uint32_t height, ptrdiff_t pitch,
                   PlaneLayout* out) {
    return Planes(format, width, height, pitch, true, out);
}

bool FramePlanes(unsigned format, uint32_t width, uint32_t height, PlaneLayout* out) {
    return Planes(format, width, height, 0, false, out);
}

}  // namespace orvenna
