// Surface sizes by pixel format.
#include "platform/surface_layout.h"

#include <limits>

namespace orvenna::platform {

namespace {

enum class Kind { kUnknown, kPacked, kPlanar420, kPlanar422, kNv12, kYuv9 };

struct FormatShape {
    Kind kind = Kind::kUnknown;
    uint64_t row_bytes = 0;  // bytes of one row of the first plane
};

FormatShape ShapeOf(const DDPIXELFORMAT& format, DWORD width) {
    const uint64_t w = width;
    const uint64_t pairs = (w + 1) / 2;
    if ((format.dwFlags & DDPF_RGB) != 0) {
        switch (format.dwRGBBitCount) {
            case 8:
            case 16:
            case 24:
            case 32:
                return {Kind::kPacked, w * (format.dwRGBBitCount / 8)};
            default:
                return {};
        }
    }
    if ((format.dwFlags & DDPF_FOURCC) == 0) return {};
    switch (format.dwFourCC) {
        case MAKEFOURCC('U', 'Y', 'V', 'Y'):
        case MAKEFOURCC('Y', 'U', 'Y', '2'):
        case MAKEFOURCC('Y', 'V', 'Y', 'U'):
        case MAKEFOURCC('I', 'U', 'Y', 'V'):
            return {Kind::kPacked, pairs * 4};
        case MAKEFOURCC('I', 'Y', 'U', '2'):
            return {Kind::kPacked, pairs * 6};
        case MAKEFOURCC('Y', 'V', '1', '2'):
        case MAKEFOURCC('I', 'Y', 'U', 'V'):
            return {Kind::kPlanar420, w};
        case MAKEFOURCC('Y', 'V', '1', '6'):
            return {Kind::kPlanar422, w};
        case MAKEFOURCC('N', 'V', '1', '2'):
            return {Kind::kNv12, w};
        case MAKEFOURCC('Y', 'U', 'V', '9'):
            return {Kind::kYuv9, w};
        default:
            return {};
    }
}

}  // namespace

SurfaceLayout ComputeSurfaceLayout(const DDPIXELFORMAT& format, DWORD width, DWORD height,
                                   DWORD extra_pitch, DWORD alignment) {
    SurfaceLayout layout;
    const FormatShape shape = ShapeOf(format, width);
    if (shape.kind == Kind::kUnknown || width == 0 || height == 0) return layout;
    if (alignment == 0 || (alignment & (alignment - 1)) != 0) alignment = 4;
    const uint64_t pitch =
        ((shape.row_bytes + alignment - 1) & ~uint64_t{alignment - 1}) + extra_pitch;
    const uint64_t h = height;
    uint64_t bytes = pitch * h;
    switch (shape.kind) {
        case Kind::kPlanar420:
            bytes += 2 * (pitch / 2) * ((h + 1) / 2);
            break;
        case Kind::kPlanar422:
            bytes += 2 * (pitch / 2) * h;
            break;
        case Kind::kNv12:
            bytes += pitch * ((h + 1) / 2);
            break;
        case Kind::kYuv9:
            bytes += 2 * (pitch / 4) * ((h + 3) / 4);
            break;
        default:
            break;
    }
    // Keep surfaces to what a LONG pitch and a sane allocation can describe.
    if (pitch > static_cast<uint64_t>(std::numeric_limits<LONG>::max()) ||
        bytes > (uint64_t{1} << 31)) {
        return layout;
    }
    layout.bKnown = true;
    layout.lPitch = static_cast<LONG>(pitch);
    layout.nBytes = static_cast<size_t>(bytes);
    return layout;
}

}  // namespace orvenna::platform
