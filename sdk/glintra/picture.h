// The picture path of the drawing thread: grey plane from the two-bytes-per-pixel picture, scaled
// 32-bit RGB for the window, and the overlay rectangles drawn over it.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

// cairo's own names, declared here so that users of this header need not see cairo.
typedef struct _cairo cairo_t;
typedef struct _cairo_surface cairo_surface_t;

namespace glintra {

// A grey plane: one byte per pixel, rows packed.
struct GreyPicture {
    std::vector<uint8_t> pixels;
    int width = 0;
    int height = 0;
};

// Takes the grey bytes (every second byte) of a width x height picture in UYVY order into `out`.
// `out` reallocates only when the picture grows past what it held before.
void ExtractGrey(const uint8_t* uyvy, int width, int height, GreyPicture& out);

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
class OverlayPainter {
  public:
    OverlayPainter() = default;
    ~OverlayPainter();
    OverlayPainter(const OverlayPainter&) = delete;
    OverlayPainter& operator=(const OverlayPainter&) = delete;

    // Starts a picture in `target`, whose pixels were rewritten since the last one.
    void Begin(const RgbTarget& target);
    // Ends the picture: every rectangle is in the pixels.
    void End();

    // rect: left, right, top, bottom in 0..1 of the target; colour: RGBA in 0..1 (clamped);
    // lineWidth: outline width in pixels, 0 fills. false on non-finite values or a negative width.
    bool DrawRect(const float rect[4], const float colour[4], int lineWidth);

  private:
    void Release();

    RgbTarget m_target;
    cairo_surface_t* m_surface = nullptr;
    cairo_t* m_cairo = nullptr;
};

}  // namespace glintra
