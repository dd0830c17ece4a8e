// Glintra without X: the C API's argument checks and handles, a handle without any X display,
// and the pixels that overlay rectangles cover.
#include "glintra.h"
#include "picture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <limits>
#include <string>
#include <thread>
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
        EXPECT_TRUE(FindRed(image) == c.expected) << c.name;
    }
    // Half-transparent red over grey is half red.
    const float all[4] = {0, 1, 0, 1}, halfRed[4] = {1, 0, 0, 0.5f};
    OverlayPainter painter;
    Draw(painter, image, all, halfRed, 0);
    EXPECT_NEAR(static_cast<int>(image.At(5, 5) >> 16), (255 + 100) / 2, 1);
    EXPECT_EQ(image.At(5, 5) & 0xffff, Grey(100) / 2 & 0xffff);
}

const float kRect[4] = {0.45f, 0.55f, 0.45f, 0.55f};
const float kOpaqueRed[4] = {1, 0, 0, 1};

void IgnoreOverlay(void*, int32_t, int32_t, int32_t, int32_t, int32_t) {}

TEST(GlintraApi, BadHandlesAndArgumentsGiveZeroAndWithoutADisplayOnlyDisplayFails) {
    unsetenv("DISPLAY");
    const GLT_HANDLE good = GLT_CreateHandle();
    ASSERT_NE(good, 0);
    ASSERT_NE(GLT_AddSubPort(good, 0, 0), 0);
    const GLT_HANDLE destroyed = GLT_CreateHandle();
    ASSERT_NE(GLT_DestroyHandle(destroyed), 0);
    const std::vector<uint8_t> picture(size_t{32}, 0x80);
    const uint8_t* pixels = picture.data();

    struct Case {
        std::string what;
        std::function<int32_t()> call;
    };
    std::vector<Case> cases;
    for (GLT_HANDLE bad : {0, -1, 123456789, destroyed}) {
        const std::string h = " on handle " + std::to_string(bad);
        cases.push_back({"Init" + h, [=] { return GLT_Init(bad, 8, 0, 1); }});
        cases.push_back({"AddSubPort" + h, [=] { return GLT_AddSubPort(bad, 0, 0); }});
        cases.push_back({"SetCallBack" + h, [=] { return GLT_SetCallBack(bad, 0, 2, IgnoreOverlay, nullptr); }});
        cases.push_back({"UpdateFrameData" + h, [=] { return GLT_UpdateFrameData(bad, pixels, 4, 4, 0); }});
        cases.push_back({"Display" + h, [=] { return GLT_Display(bad, 0, 1); }});
        cases.push_back({"DelSubPort" + h, [=] { return GLT_DelSubPort(bad, 0); }});
        cases.push_back({"DestroyHandle" + h, [=] { return GLT_DestroyHandle(bad); }});
    }
    cases.insert(cases.end(), {
        {"Init with another format", [=] { return GLT_Init(good, 7, 0, 1); }},
        {"Init with an unknown filter", [=] { return GLT_Init(good, 8, 0, 2); }},
        {"AddSubPort 1", [=] { return GLT_AddSubPort(good, 1, 0); }},
        {"SetCallBack on sub-port 1", [=] { return GLT_SetCallBack(good, 1, 2, IgnoreOverlay, nullptr); }},
        {"SetCallBack of kind 1", [=] { return GLT_SetCallBack(good, 0, 1, IgnoreOverlay, nullptr); }},
        {"UpdateFrameData without image", [=] { return GLT_UpdateFrameData(good, nullptr, 4, 4, 0); }},
        {"UpdateFrameData width 0", [=] { return GLT_UpdateFrameData(good, pixels, 0, 4, 0); }},
        {"UpdateFrameData height -1", [=] { return GLT_UpdateFrameData(good, pixels, 4, -1, 0); }},
        {"UpdateFrameData too wide", [=] { return GLT_UpdateFrameData(good, pixels, GLT_MAX_SIDE + 1, 1, 0); }},
        {"Display before any picture", [=] { return GLT_Display(good, 0, 1); }},
        {"DrawRect outside the callback", [=] { return GLT_DrawRect(good, kRect, kOpaqueRed, 1); }},
        {"DrawRect without rect", [=] { return GLT_DrawRect(good, nullptr, kOpaqueRed, 1); }},
        {"DrawRect without colour", [=] { return GLT_DrawRect(good, kRect, nullptr, 1); }},
        {"DelSubPort 1", [=] { return GLT_DelSubPort(good, 1); }},
    });
    for (const auto& c : cases) EXPECT_EQ(c.call(), 0) << c.what;

    // What the handle refused left it working.
    EXPECT_NE(GLT_Init(good, GLT_FORMAT_GREY_UYVY, 0, GLT_SCALE_BILINEAR), 0);
    EXPECT_NE(GLT_SetCallBack(good, 0, GLT_CALLBACK_OVERLAY, IgnoreOverlay, nullptr), 0);
    EXPECT_NE(GLT_UpdateFrameData(good, pixels, 4, 4, 0), 0);
    EXPECT_EQ(GLT_Display(good, 0, 0x200001), 0) << "no X display";
    EXPECT_EQ(GLT_Display(good, 0, 0x200001), 0) << "no X display, second try";
    EXPECT_NE(GLT_DelSubPort(good, 0), 0);
    EXPECT_EQ(GLT_DelSubPort(good, 0), 0) << "deleted twice";
    EXPECT_EQ(GLT_SetCallBack(good, 0, 2, IgnoreOverlay, nullptr), 0) << "sub-port deleted";
    EXPECT_EQ(GLT_Display(good, 0, 1), 0) << "sub-port deleted";
    EXPECT_NE(GLT_DestroyHandle(good), 0);
}

TEST(GlintraApi, HandlesAreDistinctAndSurviveConcurrentUse) {
    // Four threads create, feed and destroy handles at once; each sees only its own handles.
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            const std::vector<uint8_t> picture(size_t{32} * 8 * 2, 0x80);
            for (int i = 0; i < 200; ++i) {
                const GLT_HANDLE h = GLT_CreateHandle();
                const bool ok = h != 0 && GLT_AddSubPort(h, 0, 0) &&
                                GLT_UpdateFrameData(h, picture.data(), 32, 8, 0) &&
                                GLT_DestroyHandle(h) && !GLT_DestroyHandle(h);
                if (!ok) ++failures[t];
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace glintra
