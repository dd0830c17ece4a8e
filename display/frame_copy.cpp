// Frame copy rules: plain block moves when the surface is in the frame's own format, and the few
// per-byte conversions that a substitute surface needs.
#include "frame_copy.h"

#include <algorithm>
#include <cstring>

#include "orvenna.h"

namespace orvenna {
namespace {

// Copies `rows` rows of `len` bytes between two row-strided images.
void CopyPlane(const uint8_t* src, ptrdiff_t src_stride, uint8_t* dst, ptrdiff_t dst_pitch,
               size_t len, size_t rows) {
    if (len == 0 || rows == 0) return;
    if (src_stride == static_cast<ptrdiff_t>(len)) {
        CopyRows(src, dst, len, dst_pitch, rows);
        return;
    }
    for (size_t r = 0; r < rows; ++r) {
        std::memcpy(dst, src, len);
        src += src_stride;
        dst += dst_pitch;
    }
}

struct Images {
    const uint8_t* src;
    PlaneLayout s;
    uint8_t* dst;
    PlaneLayout d;

    const uint8_t* SrcRow(int plane, size_t row) const {
        return src + s.offset[plane] + row * static_cast<size_t>(s.pitch[plane]);
    }
    uint8_t* DstRow(int plane, size_t row) const {
        return dst + d.offset[plane] + row * static_cast<size_t>(d.pitch[plane]);
    }
    // Copies source plane `from` into surface plane `to`, as much of it as both hold. A surface
    // chroma plane one row taller than the frame's (odd heights) repeats the frame's last row.
    void CopySamePlane(int from, int to) const {
        const uint32_t len = std::min(s.row_bytes[from], d.row_bytes[to]);
        const uint32_t rows = std::min(s.rows[from], d.rows[to]);
        CopyPlane(SrcRow(from, 0), s.pitch[from], DstRow(to, 0), d.pitch[to], len, rows);
        if (to > 0 && rows > 0) {
            for (uint32_t r = rows; r < d.rows[to]; ++r) {
                std::memcpy(DstRow(to, r), DstRow(to, rows - 1), len);
            }
        }
    }
    uint32_t Rows() const { return std::min(s.rows[0], d.rows[0]); }
};

// RGB24 to RGB32: B, G, R becomes B, G, R, 0.
void Rgb24ToRgb32(const Images& im, uint32_t width) {
    for (uint32_t r = 0; r < im.Rows(); ++r) {
        const uint8_t* s = im.SrcRow(0, r);
        uint8_t* d = im.DstRow(0, r);
        for (uint32_t x = 0; x < width; ++x, s += 3, d += 4) {
            d[0] = s[0];
            d[1] = s[1];
            d[2] = s[2];
            d[3] = 0;
        }
    }
}

// YVYU to YUY2: Y0 V Y1 U becomes Y0 U Y1 V; a lone pixel at the end of an odd row is copied.
void YvyuToYuy2(const Images& im, uint32_t width) {
    const size_t len = 2 * static_cast<size_t>(width);
    for (uint32_t r = 0; r < im.Rows(); ++r) {
        const uint8_t* s = im.SrcRow(0, r);
        uint8_t* d = im.DstRow(0, r);
        size_t i = 0;
        for (; i + 4 <= len; i += 4) {
            d[i] = s[i];
            d[i + 1] = s[i + 3];
            d[i + 2] = s[i + 2];
            d[i + 3] = s[i + 1];
        }
        std::memcpy(d + i, s + i, len - i);
    }
}

// IUYV to UYVY: the frame holds the even picture lines first, then the odd ones.
void IuyvToUyvy(const Images& im, uint32_t frame_height, uint32_t width) {
    const size_t len = 2 * static_cast<size_t>(width);
    const uint32_t even_lines = (frame_height + 1) / 2;
    for (uint32_t line = 0; line < im.Rows(); ++line) {
        const uint32_t src_row = line % 2 == 0 ? line / 2 : even_lines + line / 2;
        std::memcpy(im.DstRow(0, line), im.SrcRow(0, src_row), len);
    }
}

// IYU2 to UYVY: each pixel pair U0 Y0 V0 U1 Y1 V1 becomes U0 Y0 V0 Y1.
void Iyu2ToUyvy(const Images& im, uint32_t width) {
    for (uint32_t r = 0; r < im.Rows(); ++r) {
        const uint8_t* s = im.SrcRow(0, r);
        uint8_t* d = im.DstRow(0, r);
        for (uint32_t pair = 0; pair < width / 2; ++pair, s += 6, d += 4) {
            d[0] = s[0];
            d[1] = s[1];
            d[2] = s[2];
            d[3] = s[4];
        }
    }
}

// YV16 to YV12: luma as it is, each chroma row of the result the mean of two frame rows.
void Yv16ToYv12(const Images& im) {
    im.CopySamePlane(0, 0);
    for (int plane = 1; plane <= 2; ++plane) {
        const uint32_t src_rows = im.s.rows[plane];
        const uint32_t rows = std::min((src_rows + 1) / 2, im.d.rows[plane]);
        const uint32_t len = std::min(im.s.row_bytes[plane], im.d.row_bytes[plane]);
        for (uint32_t r = 0; r < rows; ++r) {
            // An odd height leaves the last row without a partner; it stands for itself.
            const uint8_t* a = im.SrcRow(plane, size_t{2} * r);
            const uint8_t* b = im.SrcRow(plane, std::min<size_t>(size_t{2} * r + 1, src_rows - 1));
            uint8_t* d = im.DstRow(plane, r);
            for (uint32_t x = 0; x < len; ++x) {
                d[x] = static_cast<uint8_t>((a[x] + b[x] + 1) >> 1);
            }
        }
    }
}

}  // namespace

void CopyRows(const uint8_t*& source, uint8_t*& dest, size_t len, ptrdiff_t pitch, size_t rows) {
    if (len == 0 || rows == 0) return;
    if (pitch == static_cast<ptrdiff_t>(len)) {
        std::memcpy(dest, source, len * rows);
        source += len * rows;
        dest += len * rows;
        return;
    }
    for (size_t r = 0; r < rows; ++r) {
        std::memcpy(dest, source, len);
        source += len;
        dest += pitch;
    }
}

bool CopyFrame(const FrameSource& frame, const SurfaceView& surface) {
    if (frame.bytes == nullptr || surface.bytes == nullptr) return false;
    if (frame.format == ORVD_FORMAT_YUV9) return false;  // the surface keeps its old content

    Images im{frame.bytes, {}, surface.bytes, {}};
    if (!FramePlanes(frame.format, frame.width, frame.height, &im.s) ||
        !SurfacePlanes(surface.format, surface.width, surface.height, surface.pitch, &im.d) ||
        im.d.bytes > surface.capacity) {
        return false;
    }
    const uint32_t width = std::min(frame.width, surface.width);

    if (frame.format == surface.format) {
        for (int plane = 0; plane < im.s.count; ++plane) im.CopySamePlane(plane, plane);
        return true;
    }
    switch (frame.format * 100 + surface.format) {
        case ORVD_FORMAT_RGB24 * 100 + ORVD_FORMAT_RGB32:
            Rgb24ToRgb32(im, width);
            return true;
        case ORVD_FORMAT_YVYU * 100 + ORVD_FORMAT_YUY2:
            YvyuToYuy2(im, width);
            return true;
        case ORVD_FORMAT_YV12 * 100 + ORVD_FORMAT_IYUV:
        case ORVD_FORMAT_IYUV * 100 + ORVD_FORMAT_YV12:
            // The same planes with the two chroma planes in the other order.
            im.CopySamePlane(0, 0);
            im.CopySamePlane(1, 2);
            im.CopySamePlane(2, 1);
            return true;
        case ORVD_FORMAT_YV16 * 100 + ORVD_FORMAT_YV12:
            Yv16ToYv12(im);
            return true;
        case ORVD_FORMAT_IUYV * 100 + ORVD_FORMAT_UYVY:
            IuyvToUyvy(im, frame.height, width);
            return true;
        case ORVD_FORMAT_IYU2 * 100 + ORVD_FORMAT_UYVY:
            Iyu2ToUyvy(im, width);
            return true;
        default:
            return false;
    }
}

}  // namespace orvenna
