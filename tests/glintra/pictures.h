// Grey pictures in the form Glintra takes them (UYVY, the grey level in Y), the RGB value each
// level shows as, and where red overlay pixels landed in an image read back.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <vector>

namespace glintra_test {

inline std::vector<uint8_t> Picture(int width, int height, const std::function<uint8_t(int x, int y)>& grey) {
    std::vector<uint8_t> out;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            out.push_back(0x80);
            out.push_back(grey(x, y));
        }
    }
    return out;
}

inline std::vector<uint8_t> Flat(int width, int height, uint8_t grey) {
    return Picture(width, height, [=](int, int) { return grey; });
}

inline uint32_t Grey(int g) { return static_cast<uint32_t>(g) * 0x010101u; }
constexpr uint32_t kRed = 0xff0000;

// Inclusive bounds of the red pixels and their number; x0 > x1 when there are none. `Image` has
// width, height and At(x, y) as 0xRRGGBB.
struct RedBox {
    int x0, x1, y0, y1, count;
    bool operator==(const RedBox&) const = default;
};
template <typename Image>
RedBox FindRed(const Image& image) {
    RedBox box{image.width, -1, image.height, -1, 0};
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            if (image.At(x, y) != kRed) continue;
            box = {std::min(box.x0, x), std::max(box.x1, x), std::min(box.y0, y), std::max(box.y1, y), box.count + 1};
        }
    }
    return box;
}

}  // namespace glintra_test
