// Aspect fitting of the display modes.
#include "letterbox.h"

namespace orvenna {
namespace {

RECT Rect(int64_t l, int64_t t, int64_t r, int64_t b) {
    return RECT{static_cast<LONG>(l), static_cast<LONG>(t), static_cast<LONG>(r),
                static_cast<LONG>(b)};
}

}  // namespace

AspectFit FitAspectRect(const RECT& window, int aspect_w, int aspect_h) {
    AspectFit fit;
    if (aspect_w <= 0 || aspect_h <= 0) return fit;
    // 64-bit products: a window's size times the aspect stays exact however large the window.
    const int64_t l = window.left, t = window.top, r = window.right, b = window.bottom;
    const int64_t w = r - l;
    const int64_t h = b - t;
    fit.bar_count = 2;
    if (w / aspect_w > h / aspect_h) {
        const int64_t d = (w - h * aspect_w / aspect_h) / 2;
        fit.bars[0] = Rect(l, t, l + d, b);
        fit.bars[1] = Rect(r - d, t, r, b);
        fit.dest = Rect(l + d, t, r - d, b);
    } else {
        const int64_t d = (h - w * aspect_h / aspect_w) / 2;
        fit.bars[0] = Rect(l, t, r, t + d);
        fit.bars[1] = Rect(l, b - d, r, b);
        fit.dest = Rect(l, t + d, r, b - d);
    }
    return fit;
}

AspectFit DestinationForMode(uint32_t mode, const RECT& window) {
    switch (mode) {
        case kDisplayModeFill: {
            AspectFit fit;
            fit.dest = window;
            return fit;
        }
        case kDisplayMode4x3:
            return FitAspectRect(window, 4, 3);
        case kDisplayMode16x9:
            return FitAspectRect(window, 16, 9);
        default:
            return AspectFit{};
    }
}

}  // namespace orvenna
