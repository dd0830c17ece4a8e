// The drawing thread's picture path without X: grey levels through conversion and scaling, and the
// pixels that overlay rectangles cover.
#include "picture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace glintra {
namespace {

std::vector<uint8_t> Uyvy(int width, int height, uint8_t (*grey)(int x, int y)) {
    std::vector<uint8_t> out;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            out.push_back(0x80);
            out.push_back(grey(x, y));
        }
    }
    return out;
}

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

uint32_t Grey(int g) {
    return static_cast<uint32_t>(g) * 0x010101u;
}

TEST(GlintraPicture, ScalingKeepsFlatAreasAtTheirGreyLevel) {
    // Left half 40, right half 210; away from the seam the levels are exact up and down.
    const auto picture = Uyvy(64, 32, [](int x, int) { return uint8_t(x < 32 ? 40 : 210); });
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

struct Box {
    int x0, x1, y0, y1;  // inclusive bounds of the red pixels; x0 > x1 when none
    int count;
};

Box RedPixels(const Image& image) {
    Box box{image.width, -1, image.height, -1, 0};
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            if (image.At(x, y) != 0xff0000) continue;
            box = {std::min(box.x0, x), std::max(box.x1, x), std::min(box.y0, y),
                   std::max(box.y1, y), box.count + 1};
        }
    }
    return box;
}

TEST(GlintraPicture, RectanglesCoverTheirNormalisedPixels) {
    const float red[4] = {1, 0, 0, 1};
    struct Case {
        float rect[4];
        int lineWidth;
        Box expected;
    };
    const Case cases[] = {
        // The centre box of the live view on a 420 x 266 window: a one-pixel outline.
        {{0.45f, 0.55f, 0.45f, 0.55f}, 1, {189, 230, 120, 145, 2 * 42 + 2 * 24}},
        {{0.45f, 0.55f, 0.45f, 0.55f}, 3, {189, 230, 120, 145, 2 * 3 * 42 + 2 * 3 * 20}},
        {{0.45f, 0.55f, 0.45f, 0.55f}, 0, {189, 230, 120, 145, 42 * 26}},
        // Swapped edges mean the same box.
        {{0.55f, 0.45f, 0.55f, 0.45f}, 1, {189, 230, 120, 145, 2 * 42 + 2 * 24}},
        // Far outside the picture: clipped, no overflow.
        {{-1e30f, 1e30f, -1e30f, 1e30f}, 0, {0, 419, 0, 265, 420 * 266}},
        {{2.0f, 3.0f, 0.0f, 1.0f}, 1, {420, -1, 266, -1, 0}},
    };
    for (const auto& c : cases) {
        Image image(420, 266);
        std::fill(image.pixels.begin(), image.pixels.end(), Grey(100));
        OverlayPainter painter;
        painter.Begin(image.Target());
        ASSERT_TRUE(painter.DrawRect(c.rect, red, c.lineWidth));
        painter.End();
        const Box got = RedPixels(image);
        EXPECT_EQ(got.count, c.expected.count) << c.rect[0] << " w" << c.lineWidth;
        if (c.expected.count == 0) continue;
        EXPECT_EQ(got.x0, c.expected.x0);
        EXPECT_EQ(got.x1, c.expected.x1);
        EXPECT_EQ(got.y0, c.expected.y0);
        EXPECT_EQ(got.y1, c.expected.y1);
    }
}

TEST(GlintraPicture, PainterKeptAcrossPicturesDrawsIntoEachAndFollowsANewTarget) {
    const float red[4] = {1, 0, 0, 1};
    const float centre[4] = {0.45f, 0.55f, 0.45f, 0.55f};
    OverlayPainter painter;
    Image small(420, 266);
    Image large(1280, 1024);
    for (Image* image : {&small, &small, &large, &small}) {
        // Each picture arrives with fresh pixels, as after a conversion.
        std::fill(image->pixels.begin(), image->pixels.end(), Grey(50));
        painter.Begin(image->Target());
        ASSERT_TRUE(painter.DrawRect(centre, red, 1));
        painter.End();
        const Box got = RedPixels(*image);
        EXPECT_EQ(got.x0, std::lround(0.45f * image->width)) << image->width;
        EXPECT_EQ(got.y1 + 1, std::lround(0.55f * image->height)) << image->width;
    }
}

TEST(GlintraPicture, TranslucentColourBlendsAndOutOfRangeChannelsClamp) {
    Image image(10, 10);
    std::fill(image.pixels.begin(), image.pixels.end(), Grey(0));
    const float all[4] = {0, 1, 0, 1};
    const float colour[4] = {4.0f, -1.0f, 0.0f, 0.5f};
    OverlayPainter painter;
    painter.Begin(image.Target());
    ASSERT_TRUE(painter.DrawRect(all, colour, 0));
    painter.End();
    const uint32_t got = image.At(5, 5);
    EXPECT_NEAR(static_cast<int>(got >> 16), 128, 1);
    EXPECT_EQ(got & 0xffff, 0u);
}

TEST(GlintraPicture, RefusesNonFiniteValuesAndNegativeWidths) {
    Image image(8, 8);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const float good[4] = {0, 1, 0, 1};
    const float badRect[4] = {0, nan, 0, 1};
    const float badColour[4] = {1, 0, inf, 1};
    OverlayPainter painter;
    painter.Begin(image.Target());
    EXPECT_FALSE(painter.DrawRect(badRect, good, 1));
    EXPECT_FALSE(painter.DrawRect(good, badColour, 1));
    EXPECT_FALSE(painter.DrawRect(good, good, -1));
    EXPECT_TRUE(painter.DrawRect(good, good, 1));
}

}  // namespace
}  // namespace glintra
