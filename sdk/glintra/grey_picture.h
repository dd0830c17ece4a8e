// The part of the picture path that every window system shares: the grey plane taken from the
// caller's picture, and where an overlay rectangle lands in the drawn picture.
#pragma once

#include <cstdint>
#include <vector>

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

// A rectangle of GLT_DrawRect placed on a width x height picture.
struct PlacedRect {
    long x0 = 0, x1 = 0, y0 = 0, y1 = 0;  // pixel edges, x0 <= x1 and y0 <= y1; may lie outside
    double red = 0, green = 0, blue = 0, alpha = 0;  // 0..1
    int lineWidth = 0;  // outline width inside the edges; 0 fills the whole box
};

// rect: left, right, top, bottom in 0..1 of the picture; colour: RGBA in 0..1 (clamped);
// lineWidth: outline width in pixels, 0 fills. false on non-finite values or a negative width.
bool PlaceRect(const float rect[4], const float colour[4], int lineWidth, int width, int height,
               PlacedRect& out);

// A box to fill, in pixel edges (x0 <= x1, y0 <= y1); it may lie partly outside the picture.
struct Band {
    long x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

// The boxes that draw `box`: the box itself when it is filled, else its outline as the top and
// bottom bands and the two sides between them. returns: how many, 1 or 4.
int BoxBands(const PlacedRect& box, Band (&bands)[4]);

// What GLT_DrawRect draws into while the overlay callback runs: the picture just drawn.
class OverlayCanvas {
  public:
    virtual ~OverlayCanvas() = default;
    // The arguments of GLT_DrawRect; false when PlaceRect refuses them.
    virtual bool DrawRect(const float rect[4], const float colour[4], int lineWidth) = 0;
};

}  // namespace glintra
