// The X11 drawing thread's picture path: the grey plane scaled to 32-bit RGB for the window, and
// the overlay rectangles drawn over it.
#pragma once

#include "grey_picture.h"

#include <cstdint>
#include <memory>
#include <vector>

// cairo's own names, declared here so that users of this header need not see cairo.
typedef struct _cairo cairo_t;
typedef struct _cairo_surface cairo_surface_t;

namespace glintra {

// A 32-bit RGB image (0x00RRGGBB per pixel in host order) that the caller owns.
struct RgbTarget {
    uint8_t* pixels = nullptr;
    int stride = 0;  // bytes per row
    int width = 0;
    int height = 0;
};

// Scales `grey` to the target's size (bilinear when `bilinear`, else nearest) and writes it as
// RGB(g, g, g). `scratch` holds the scaled grey plane between calls.
void RenderGrey(const GreyPicture& grey, bool bilinear, std::vector<uint8_t>& scratch,
                const RgbTarget& target);

// Draws rectangles over an RgbTarget. The cairo surface is made on the first rectangle and kept for
// the following pictures of the same target.
class OverlayPainter : public OverlayCanvas {
  public:
    OverlayPainter() = default;
    ~OverlayPainter() override;
    OverlayPainter(const OverlayPainter&) = delete;
    OverlayPainter& operator=(const OverlayPainter&) = delete;

    // Starts a picture in `target`, whose pixels were rewritten since the last one.
    void Begin(const RgbTarget& target);
    // Ends the picture: every rectangle is in the pixels.
    void End();

    bool DrawRect(const float rect[4], const float colour[4], int lineWidth) override;

  private:
    void Release();

    RgbTarget m_target;
    cairo_surface_t* m_surface = nullptr;
    cairo_t* m_cairo = nullptr;
};

}  // namespace glintra
