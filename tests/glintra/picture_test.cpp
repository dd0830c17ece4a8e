// The drawing thread's picture path without X: grey levels through conversion and scaling, and the
// pixels that overlay rectangles cover.
#include "picture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <tuple>
#include <vector>

#include "pictures.h"

namespace glintra {
namespace {

using namespace glintra_test;

struct Image {
    Image(int w, int h) : width(w), height(h), pixels(static_cast<size_t>(w) * h, 0xdeadbeef) {}
    RgbTarget Target() {
        return {reinterpret_cast<uint8_t*>(pixels.data()), width * 4, width, height};
    }
    uint32_t At(int x, int y) const {
        return pixels[static_cast<size_t>(y) * width + x] & 0xffffff;
    }
    int width;
    int height;
    std::vector<uint32_t> pixels;
};

TEST(GlintraPicture, ScalingKeepsFlatAreasAtTheirGreyLevel) {
    // Left half 40, right half 210; away from the seam the levels are exact up and down.
    const auto picture = Picture(64, 32, [](int x, int) { return uint8_t(x < 32 ? 40 : 210); });
    GreyPicture grey;
    ExtractGrey(picture.data(), 64, 32, grey);
    std::vector<uint8_t> scratch;
    for (const auto& [w, h] : {std::pair{420, 266}, std::pair{17, 9}, std::pair{64, 32}}) {
        for (bool bilinear : {true, false}) {
            Image image(w, h);
            RenderGrey(grey, bilinear, scratch, image.Target());
            EXPECT_EQ(image.At(w / 8, h / 2), Grey(40)) << w << "x" << h;
            EXPECT_EQ(image.At(w - 1 - w / 8, h - 1), Grey(210)) << w << "x" << h;
        }
    }
}

// Draws one rectangle over fresh grey 100 pixels, as after a conversion; whether it was taken.
bool Draw(OverlayPainter& painter, Image& image, const float rect[4], const float colour[4], int lineWidth) {
    std::fill(image.pixels.begin(), image.pixels.end(), Grey(100));
    painter.Begin(image.Target());
    const bool taken = painter.DrawRect(rect, colour, lineWidth);
    painter.End();
    return taken;
}

TEST(GlintraPicture, RectanglesCoverTheirNormalisedPixels) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    constexpr RedBox kNone{420, -1, 266, -1, 0};
    struct Case {
        const char* name;
        float rect[4];
        float colour[4];
        int lineWidth;
        bool taken;
        RedBox expected;
    } cases[] = {
        // The centre box of the live view on a 420 x 266 window: a one-pixel outline.
        {"outline", {0.45f, 0.55f, 0.45f, 0.55f}, {1, 0, 0, 1}, 1, true, {189, 230, 120, 145, 2 * 42 + 2 * 24}},
        {"3 wide", {0.45f, 0.55f, 0.45f, 0.55f}, {1, 0, 0, 1}, 3, true, {189, 230, 120, 145, 6 * 42 + 6 * 20}},
        {"filled", {0.45f, 0.55f, 0.45f, 0.55f}, {1, 0, 0, 1}, 0, true, {189, 230, 120, 145, 42 * 26}},
        {"swapped edges", {0.55f, 0.45f, 0.55f, 0.45f}, {1, 0, 0, 1}, 1, true, {189, 230, 120, 145, 2 * 42 + 2 * 24}},
        // Far outside the picture: clipped, no overflow.
        {"huge", {-1e30f, 1e30f, -1e30f, 1e30f}, {1, 0, 0, 1}, 0, true, {0, 419, 0, 265, 420 * 266}},
        {"beside the picture", {2.0f, 3.0f, 0.0f, 1.0f}, {1, 0, 0, 1}, 1, true, kNone},
        {"channels out of range clamp", {0, 1, 0, 1}, {4.0f, -1.0f, 0.0f, 1.0f}, 0, true, {0, 419, 0, 265, 420 * 266}},
        {"NaN edge", {0, nan, 0, 1}, {1, 0, 0, 1}, 1, false, kNone},
        {"infinite colour", {0, 1, 0, 1}, {1, 0, inf, 1}, 1, false, kNone},
        {"negative width", {0, 1, 0, 1}, {1, 0, 0, 1}, -1, false, kNone},
    };
    Image image(420, 266);
    for (const auto& c : cases) {
        OverlayPainter painter;
        EXPECT_EQ(Draw(painter, image, c.rect, c.colour, c.lineWidth), c.taken) << c.name;
        const RedBox got = FindRed(image);
        EXPECT_EQ(std::tie(got.x0, got.x1, got.y0, got.y1, got.count),
                  std::tie(c.expected.x0, c.expected.x1, c.expected.y0, c.expected.y1, c.expected.count))
            << c.name;
    }
    // Half-transparent red over black is half red.
    const float all[4] = {0, 1, 0, 1}, halfRed[4] = {1, 0, 0, 0.5f};
    OverlayPainter painter;
    Draw(painter, image, all, halfRed, 0);
    EXPECT_NEAR(static_cast<int>(image.At(5, 5) >> 16), (255 + 100) / 2, 1);
    EXPECT_EQ(image.At(5, 5) & 0xffff, Grey(100) / 2 & 0xffff);
}

TEST(GlintraPicture, PainterKeptAcrossPicturesDrawsIntoEachAndFollowsANewTarget) {
    const float centre[4] = {0.45f, 0.55f, 0.45f, 0.55f}, red[4] = {1, 0, 0, 1};
    OverlayPainter painter;
    Image small(420, 266), large(1280, 1024);
    for (Image* image : {&small, &small, &large, &small}) {
        ASSERT_TRUE(Draw(painter, *image, centre, red, 1));
        const RedBox got = FindRed(*image);
        EXPECT_EQ(got.x0, std::lround(0.45f * image->width)) << image->width;
        EXPECT_EQ(got.y1 + 1, std::lround(0.55f * image->height)) << image->width;
    }
}

}  // namespace
}  // namespace glintra
