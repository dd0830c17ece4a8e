// libyuv does the work: one conversion to 32 bits at the source size, then one bilinear scale
// straight into the clipped destination.
#include "platform/x11_convert.h"

#include <algorithm>
#include <utility>

#include <libyuv/convert_argb.h>
#include <libyuv/planar_functions.h>
#include <libyuv/scale_argb.h>

#include "orvenna.h"

namespace orvenna::platform {
namespace {

struct Clip {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// The part of `rect` inside the image, in image coordinates.
Clip ClipToImage(const XrgbImage& image, const RECT& rect) {
    const int left = std::max<int>(rect.left, 0);
    const int top = std::max<int>(rect.top, 0);
    const int right = std::min<int>(rect.right, image.width);
    const int bottom = std::min<int>(rect.bottom, image.height);
    if (right <= left || bottom <= top) return {};
    return {left, top, right - left, bottom - top};
}

uint8_t* PixelAt(const XrgbImage& image, int x, int y) {
    return image.pixels + static_cast<ptrdiff_t>(y) * image.stride + static_cast<ptrdiff_t>(x) * 4;
}

// The source pixels (x, y), x and y even, start at these byte offsets into each plane.
void PartOffsets(unsigned format, const PlaneLayout& l, int x, int y, size_t out[3]) {
    size_t luma_bytes = 1;  // per pixel of the first plane
    switch (format) {
        case ORVD_FORMAT_RGB32:
            luma_bytes = 4;
            break;
        case ORVD_FORMAT_RGB555:
        case ORVD_FORMAT_RGB565:
        case ORVD_FORMAT_UYVY:
        case ORVD_FORMAT_YUY2:
            luma_bytes = 2;
            break;
        default:
            break;
    }
    const auto row = [&](int plane, int r) { return static_cast<size_t>(r) * l.pitch[plane]; };
    out[0] = row(0, y) + static_cast<size_t>(x) * luma_bytes;
    out[1] = out[2] = 0;
    switch (format) {
        case ORVD_FORMAT_YV12:
        case ORVD_FORMAT_IYUV:
            out[1] = row(1, y / 2) + static_cast<size_t>(x / 2);
            out[2] = row(2, y / 2) + static_cast<size_t>(x / 2);
            break;
        case ORVD_FORMAT_YV16:
            out[1] = row(1, y) + static_cast<size_t>(x / 2);
            out[2] = row(2, y) + static_cast<size_t>(x / 2);
            break;
        case ORVD_FORMAT_NV12:
            out[1] = row(1, y / 2) + static_cast<size_t>(x);
            break;
        default:
            break;
    }
}

// Converts the w × h part of the source at (x, y), both even, into 32-bit pixels at `dst`. The
// layout was checked by the caller.
bool ConvertPart(const SurfaceView& src, const PlaneLayout& l, int x, int y, int w, int h,
                 uint8_t* dst, int dst_stride) {
    size_t part[3];
    PartOffsets(src.format, l, x, y, part);
    const uint8_t* p0 = src.bytes + l.offset[0] + part[0];
    const uint8_t* p1 = src.bytes + l.offset[1] + part[1];
    const uint8_t* p2 = src.bytes + l.offset[2] + part[2];
    const int s0 = static_cast<int>(l.pitch[0]);
    const int s1 = static_cast<int>(l.pitch[1]);
    const int s2 = static_cast<int>(l.pitch[2]);
    int result = -1;
    switch (src.format) {
        case ORVD_FORMAT_RGB555:
            result = libyuv::ARGB1555ToARGB(p0, s0, dst, dst_stride, w, h);
            break;
        case ORVD_FORMAT_RGB565:
            result = libyuv::RGB565ToARGB(p0, s0, dst, dst_stride, w, h);
            break;
        case ORVD_FORMAT_RGB32:
            result = libyuv::ARGBCopy(p0, s0, dst, dst_stride, w, h);
            break;
        case ORVD_FORMAT_UYVY:
            result = libyuv::UYVYToARGB(p0, s0, dst, dst_stride, w, h);
            break;
        case ORVD_FORMAT_YUY2:
            result = libyuv::YUY2ToARGB(p0, s0, dst, dst_stride, w, h);
            break;
        case ORVD_FORMAT_YV12:  // V plane first
            result = libyuv::I420ToARGB(p0, s0, p2, s2, p1, s1, dst, dst_stride, w, h);
            break;
        case ORVD_FORMAT_IYUV:
            result = libyuv::I420ToARGB(p0, s0, p1, s1, p2, s2, dst, dst_stride, w, h);
            break;
        case ORVD_FORMAT_YV16:  // V plane first
            result = libyuv::I422ToARGB(p0, s0, p2, s2, p1, s1, dst, dst_stride, w, h);
            break;
        case ORVD_FORMAT_NV12:
            result = libyuv::NV12ToARGB(p0, s0, p1, s1, dst, dst_stride, w, h);
            break;
        default:
            break;
    }
    return result == 0;
}

bool ConvertWhole(const SurfaceView& src, const PlaneLayout& l, uint8_t* dst, int dst_stride) {
    return ConvertPart(src, l, 0, 0, static_cast<int>(src.width), static_cast<int>(src.height), dst,
                       dst_stride);
}

// The source columns (or rows) that scaling `size` of them onto `dest_size` reads for the
// destination's [from, from + count): with a margin for the filter, both ends on a multiple of
// `align` (a power of two, 8 or more, so even) or at the source's end.
std::pair<int, int> SourceSpan(int64_t from, int64_t count, int size, int64_t dest_size,
                               int64_t align) {
    constexpr int64_t kMargin = 8;
    int64_t low = from * size / dest_size - kMargin;
    int64_t high = ((from + count) * size + dest_size - 1) / dest_size + kMargin;
    low = std::max<int64_t>(low, 0) & ~(align - 1);
    high = std::min<int64_t>((high + align - 1) & ~(align - 1), size);
    return {static_cast<int>(low), static_cast<int>(high)};
}

}  // namespace

bool X11CanConvert(unsigned format) {
    switch (format) {
        case ORVD_FORMAT_RGB555:
        case ORVD_FORMAT_RGB565:
        case ORVD_FORMAT_RGB32:
        case ORVD_FORMAT_UYVY:
        case ORVD_FORMAT_YV12:
        case ORVD_FORMAT_YUY2:
        case ORVD_FORMAT_IYUV:
        case ORVD_FORMAT_YV16:
        case ORVD_FORMAT_NV12:
            return true;
        default:
            return false;
    }
}

uint8_t* ConvertScratch::Reserve(size_t bytes) {
    if (m_buffer.size() < bytes) m_buffer.resize(bytes);
    return m_buffer.data();
}

bool ConvertAndScale(const SurfaceView& source, const XrgbImage& target, const RECT& dest,
                     ConvertScratch& scratch, const RECT* clip_to) {
    PlaneLayout layout;
    if (source.bytes == nullptr || target.pixels == nullptr || !X11CanConvert(source.format) ||
        source.width == 0 || source.height == 0 ||
        !SurfacePlanes(source.format, source.width, source.height, source.pitch, &layout) ||
        layout.bytes > source.capacity) {
        return false;
    }
    const int64_t dest_w = int64_t{dest.right} - dest.left;
    const int64_t dest_h = int64_t{dest.bottom} - dest.top;
    if (dest_w <= 0 || dest_h <= 0 || dest_w > 32768 || dest_h > 32768) return false;
    RECT visible = dest;
    if (clip_to != nullptr) {
        visible.left = std::max(visible.left, clip_to->left);
        visible.top = std::max(visible.top, clip_to->top);
        visible.right = std::min(visible.right, clip_to->right);
        visible.bottom = std::min(visible.bottom, clip_to->bottom);
    }
    const Clip clip = ClipToImage(target, visible);
    if (clip.width == 0) return true;

    const int sw = static_cast<int>(source.width);
    const int sh = static_cast<int>(source.height);
    const bool same_size = dest_w == sw && dest_h == sh;
    const bool whole =
        clip.x == dest.left && clip.y == dest.top && clip.width == dest_w && clip.height == dest_h;
    if (same_size && whole) {
        return ConvertWhole(source, layout, PixelAt(target, clip.x, clip.y),
                            static_cast<int>(target.stride));
    }

    const int into_x = clip.x - dest.left;  // where the visible part starts inside `dest`
    const int into_y = clip.y - dest.top;
    // 32-bit pixels of the source: the surface itself when it is RGB32, else converted. Only the
    // part that the visible part reads is converted (a window across two monitors is drawn in two
    // parts), into memory of its own width, so that it is written and read back in order.
    const uint8_t* part = source.bytes;  // holds the source's pixels from (part_x, part_y) on
    int part_x = 0;
    int part_y = 0;
    int argb_stride = static_cast<int>(source.pitch);
    if (source.format != ORVD_FORMAT_RGB32) {
        // Columns by 32: libyuv's row conversions take their vector path only for rows of a
        // multiple of 32 pixels, and are about twice as slow on the others.
        const auto [x0, x1] = SourceSpan(into_x, clip.width, sw, dest_w, 32);
        const auto [y0, y1] = SourceSpan(into_y, clip.height, sh, dest_h, 8);
        if (x1 <= x0 || y1 <= y0) return false;
        argb_stride = (x1 - x0) * 4;
        uint8_t* converted = scratch.Reserve(static_cast<size_t>(argb_stride) * (y1 - y0));
        if (!ConvertPart(source, layout, x0, y0, x1 - x0, y1 - y0, converted, argb_stride)) {
            return false;
        }
        part = converted;
        part_x = x0;
        part_y = y0;
    }
    if (same_size) {
        return libyuv::ARGBCopy(part + static_cast<ptrdiff_t>(into_y - part_y) * argb_stride +
                                    static_cast<ptrdiff_t>(into_x - part_x) * 4,
                                argb_stride, PixelAt(target, clip.x, clip.y),
                                static_cast<int>(target.stride), clip.width, clip.height) == 0;
    }
    // Where the source's pixel (0, 0) would be, for the scaler, which reads only inside the part.
    const auto argb = reinterpret_cast<uintptr_t>(part) -
                      static_cast<uintptr_t>(static_cast<ptrdiff_t>(part_y) * argb_stride +
                                             static_cast<ptrdiff_t>(part_x) * 4);
    // The scaler takes the origin of the whole destination rectangle and writes only the clip; the
    // origin may lie outside the image, so it is formed as an address rather than a pointer step.
    const auto origin = reinterpret_cast<uintptr_t>(PixelAt(target, clip.x, clip.y)) -
                        static_cast<uintptr_t>(static_cast<ptrdiff_t>(into_y) * target.stride +
                                               static_cast<ptrdiff_t>(into_x) * 4);
    return libyuv::ARGBScaleClip(
               reinterpret_cast<const uint8_t*>(argb),  // NOLINT(performance-no-int-to-ptr)
               argb_stride, sw, sh,
               reinterpret_cast<uint8_t*>(origin),  // NOLINT(performance-no-int-to-ptr)
               static_cast<int>(target.stride), static_cast<int>(dest_w), static_cast<int>(dest_h),
               into_x, into_y, clip.width, clip.height, libyuv::kFilterBilinear) == 0;
}

void FillXrgb(const XrgbImage& target, const RECT& rect, uint32_t colour) {
    if (target.pixels == nullptr) return;
    const Clip clip = ClipToImage(target, rect);
    if (clip.width == 0) return;
    libyuv::ARGBRect(target.pixels, static_cast<int>(target.stride), clip.x, clip.y, clip.width,
                     clip.height, colour);
}

}  // namespace orvenna::platform
