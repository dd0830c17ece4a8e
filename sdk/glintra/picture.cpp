// Scaling to RGB and overlay drawing of the X11 drawing thread, on libyuv and cairo.
#include "picture.h"

#include <cairo.h>

#include <libyuv/convert_argb.h>
#include <libyuv/scale.h>

#include <algorithm>
#include <cmath>

namespace glintra {

void RenderGrey(const GreyPicture& grey, bool bilinear, std::vector<uint8_t>& scratch,
                const RgbTarget& target) {
    // Scaling the grey plane before widening it to 32 bits moves a quarter of the bytes; with the
    // three colour channels equal the result is the same as scaling the RGB image.
    const uint8_t* plane = grey.pixels.data();
    int planeStride = grey.width;
    if (grey.width != target.width || grey.height != target.height) {
        const size_t size = static_cast<size_t>(target.width) * static_cast<size_t>(target.height);
        if (scratch.size() != size) scratch.resize(size);
        libyuv::ScalePlane(grey.pixels.data(), grey.width, grey.width, grey.height, scratch.data(),
                           target.width, target.width, target.height,
                           bilinear ? libyuv::kFilterBilinear : libyuv::kFilterNone);
        plane = scratch.data();
        planeStride = target.width;
    }
    // Full-range grey: g becomes exactly RGB(g, g, g), where a video-range matrix would stretch it.
    libyuv::J400ToARGB(plane, planeStride, target.pixels, target.stride, target.width,
                       target.height);
}

OverlayPainter::~OverlayPainter() {
    Release();
}

void OverlayPainter::Release() {
    if (m_cairo) cairo_destroy(m_cairo);
    if (m_surface) cairo_surface_destroy(m_surface);
    m_cairo = nullptr;
    m_surface = nullptr;
}

void OverlayPainter::Begin(const RgbTarget& target) {
    if (target.pixels != m_target.pixels || target.stride != m_target.stride ||
        target.width != m_target.width || target.height != m_target.height) {
        Release();
        m_target = target;
    } else if (m_surface) {
        cairo_surface_mark_dirty(m_surface);  // libyuv wrote the pixels behind cairo's back
    }
}

void OverlayPainter::End() {
    if (m_surface) cairo_surface_flush(m_surface);
}

bool OverlayPainter::DrawRect(const float rect[4], const float colour[4], int lineWidth) {
    PlacedRect box;
    if (!PlaceRect(rect, colour, lineWidth, m_target.width, m_target.height, box)) return false;
    if (!m_cairo) {
        m_surface = cairo_image_surface_create_for_data(
            m_target.pixels, CAIRO_FORMAT_RGB24, m_target.width, m_target.height, m_target.stride);
        m_cairo = cairo_create(m_surface);
        if (cairo_status(m_cairo) != CAIRO_STATUS_SUCCESS) return false;
        cairo_set_antialias(m_cairo, CAIRO_ANTIALIAS_NONE);
    }
    cairo_set_source_rgba(m_cairo, box.red, box.green, box.blue, box.alpha);
    const double w = static_cast<double>(box.x1 - box.x0);
    const double h = static_cast<double>(box.y1 - box.y0);
    if (box.lineWidth == 0) {
        cairo_rectangle(m_cairo, static_cast<double>(box.x0), static_cast<double>(box.y0), w, h);
        cairo_fill(m_cairo);
    } else {
        // The outline lies inside the box: its outer edge is on the box's pixel edges.
        const double half = box.lineWidth / 2.0;
        cairo_set_line_width(m_cairo, box.lineWidth);
        cairo_rectangle(m_cairo, static_cast<double>(box.x0) + half,
                        static_cast<double>(box.y0) + half, w - box.lineWidth, h - box.lineWidth);
        cairo_stroke(m_cairo);
    }
    return true;
}

}  // namespace glintra
