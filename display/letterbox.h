// Where a frame lands in the display window for each display mode, and the black bars beside it.
#pragma once

#include <cstdint>

#include "platform/ddraw_layer.h"

namespace orvenna {

// Display modes of ORVD_SetDisplayMode; any other value gives an empty destination.
inline constexpr uint32_t kDisplayModeFill = 0;
inline constexpr uint32_t kDisplayMode4x3 = 1;
inline constexpr uint32_t kDisplayMode16x9 = 2;

// The destination rectangle of the frame and the bars to fill black, all in the coordinates of
// the window rectangle they were computed from. The fitted modes always give two bars (either pair
// may be empty when the window already has the picture's shape); filling the window gives none.
struct AspectFit {
    RECT dest{};
    RECT bars[2]{};
    int bar_count = 0;
};

// The largest centred aspect_w:aspect_h rectangle inside `window`. The window is too wide when
// width / aspect_w > height / aspect_h (truncating divisions); then the bars are left and right,
// otherwise above and below. Aspects that are not positive give an empty destination.
AspectFit FitAspectRect(const RECT& window, int aspect_w, int aspect_h);

// The destination and bars for display mode `mode` in the window rectangle `window`.
AspectFit DestinationForMode(uint32_t mode, const RECT& window);

}  // namespace orvenna
