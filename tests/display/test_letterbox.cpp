// Destination rectangles and black bars of the display modes.
#include "fake_display_fixture.h"  // RECT compared and printed
#include "letterbox.h"

namespace orvenna {
namespace {

TEST(DisplayModes, GiveTheirDestinationsAndBars) {
    struct Case {
        uint32_t mode;
        RECT window;
        std::vector<RECT> fit;  // the destination, then the bars
    };
    const Case cases[] = {
        // 16:9 in 800 x 600: bars of 75 above and below.
        {2, {100, 50, 900, 650}, {{100, 125, 900, 575}, {100, 50, 900, 125}, {100, 575, 900, 650}}},
        // 4:3 in 640 x 480: the whole window, two empty bars.
        {1, {10, 20, 650, 500}, {{10, 20, 650, 500}, {10, 20, 650, 20}, {10, 500, 650, 500}}},
        // 4:3 in 1000 x 480: bars of 180 left and right.
        {1, {0, 0, 1000, 480}, {{180, 0, 820, 480}, {0, 0, 180, 480}, {820, 0, 1000, 480}}},
        // 4:3 left of and above the primary monitor.
        {1, {-100, -48, 0, 0}, {{-82, -48, -18, 0}, {-100, -48, -82, 0}, {-18, -48, 0, 0}}},
        // 16:9 rounds the picture height down.
        {2, {0, 0, 101, 100}, {{0, 22, 101, 78}, {0, 0, 101, 22}, {0, 78, 101, 100}}},
        // Fill: the window, no bars; any other mode: empty.
        {0, {5, 6, 300, 200}, {{5, 6, 300, 200}}},
        {7, {5, 6, 300, 200}, {{0, 0, 0, 0}}},
    };
    for (const Case& c : cases) {
        const AspectFit fit = DestinationForMode(c.mode, c.window);
        std::vector<RECT> got{fit.dest};
        got.insert(got.end(), fit.bars, fit.bars + fit.bar_count);
        EXPECT_EQ(got, c.fit) << "mode " << c.mode << " in " << c.window;
    }
    // Aspects that are not positive give an empty destination.
    const AspectFit fit = FitAspectRect(RECT{0, 0, 640, 480}, 0, 3);
    EXPECT_EQ(fit.dest, (RECT{0, 0, 0, 0}));
    EXPECT_EQ(fit.bar_count, 0);
}

}  // namespace
}  // namespace orvenna
