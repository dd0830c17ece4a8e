// The live picture drawn by Glintra's X11 picture path and written by cairo.
#include "live_picture.h"

#include <cairo.h>

#include <vector>

#include "camera_link.h"
#include "picture.h"

namespace kestrix {

bool WriteLivePicture(const glintra::GreyPicture& grey, const std::string& path) {
    if (grey.width <= 0) return false;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, grey.width, grey.height);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) return false;
    cairo_surface_flush(surface);
    const glintra::RgbTarget target{cairo_image_surface_get_data(surface),
                                    cairo_image_surface_get_stride(surface), grey.width,
                                    grey.height};
    std::vector<uint8_t> scratch;
    glintra::RenderGrey(grey, true, scratch, target);
    glintra::OverlayPainter painter;
    painter.Begin(target);
    painter.DrawRect(kCentreBoxRect, kCentreBoxColour, 1);
    painter.End();
    cairo_surface_mark_dirty(surface);
    const bool ok = cairo_surface_write_to_png(surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(surface);
    return ok;
}

}  // namespace kestrix
