// Destination rectangles and black bars of the display modes.
#include <gtest/gtest.h>

#include <ostream>

#include "letterbox.h"

// Compared and printed in the expectations below.
static bool operator==(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
static std::ostream& operator<<(std::ostream& os, const RECT& r) {
    return os << "(" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << ")";
}

namespace orvenna {
namespace {

TEST(DisplayModes, GiveTheirDestinationsAndBars) {
    struct Case {
        const char* what;
        uint32_t mode;
        RECT window;
        RECT dest;
        int bar_count;
        RECT bars[2];
    };
    const Case cases[] = {
        {"16:9 in 800 x 600: bars of 75 above and below",
         2,
         {100, 50, 900, 650},
         {100, 125, 900, 575},
         2,
         {{100, 50, 900, 125}, {100, 575, 900, 650}}},
        {"4:3 in 640 x 480: the whole window, two empty bars",
         1,
         {10, 20, 650, 500},
         {10, 20, 650, 500},
         2,
         {{10, 20, 650, 20}, {10, 500, 650, 500}}},
        {"4:3 in 1000 x 480: bars of 180 left and right",
         1,
         {0, 0, 1000, 480},
         {180, 0, 820, 480},
         2,
         {{0, 0, 180, 480}, {820, 0, 1000, 480}}},
        {"4:3 left of the primary monitor",
         1,
         {-1000, -480, 0, 0},
         {-820, -480, -180, 0},
         2,
         {{-1000, -480, -820, 0}, {-180, -480, 0, 0}}},
        {"16:9 rounds the picture height down",
         2,
         {0, 0, 101, 100},
         {0, 22, 101, 78},
         2,
         {{0, 0, 101, 22}, {0, 78, 101, 100}}},
        {"fill: the window, no bars", 0, {5, 6, 300, 200}, {5, 6, 300, 200}, 0, {}},
        {"mode 7: empty", 7, {5, 6, 300, 200}, {0, 0, 0, 0}, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const AspectFit fit = DestinationForMode(c.mode, c.window);
        EXPECT_EQ(fit.dest, c.dest) << fit.dest;
        ASSERT_EQ(fit.bar_count, c.bar_count);
        for (int i = 0; i < c.bar_count; ++i) EXPECT_EQ(fit.bars[i], c.bars[i]) << fit.bars[i];
    }
}

TEST(FitAspect, RefusesAspectsThatAreNotPositive) {
    const AspectFit fit = FitAspectRect(RECT{0, 0, 640, 480}, 0, 3);
    EXPECT_EQ(fit.dest, (RECT{0, 0, 0, 0}));
    EXPECT_EQ(fit.bar_count, 0);
}

}  // namespace
}  // namespace orvenna
