// The C API's contract where no drawing is involved: results on bad handles and bad arguments,
// and a handle without any X display.
#include "glintra.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

const float kRect[4] = {0.45f, 0.55f, 0.45f, 0.55f};
const float kRed[4] = {1, 0, 0, 1};

void IgnoreOverlay(void*, int32_t, int32_t, int32_t, int32_t, int32_t) {}

TEST(GlintraApi, BadHandlesAndArgumentsGiveZero) {
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
        {"DrawRect outside the callback", [=] { return GLT_DrawRect(good, kRect, kRed, 1); }},
        {"DrawRect without rect", [=] { return GLT_DrawRect(good, nullptr, kRed, 1); }},
        {"DrawRect without colour", [=] { return GLT_DrawRect(good, kRect, nullptr, 1); }},
        {"DelSubPort 1", [=] { return GLT_DelSubPort(good, 1); }},
    });
    for (const auto& c : cases) EXPECT_EQ(c.call(), 0) << c.what;

    // What the handle refused left it working.
    EXPECT_NE(GLT_Init(good, GLT_FORMAT_GREY_UYVY, 0, GLT_SCALE_BILINEAR), 0);
    EXPECT_NE(GLT_SetCallBack(good, 0, GLT_CALLBACK_OVERLAY, IgnoreOverlay, nullptr), 0);
    EXPECT_NE(GLT_UpdateFrameData(good, pixels, 4, 4, 0), 0);
    EXPECT_NE(GLT_DelSubPort(good, 0), 0);
    EXPECT_EQ(GLT_DelSubPort(good, 0), 0) << "deleted twice";
    EXPECT_EQ(GLT_SetCallBack(good, 0, 2, IgnoreOverlay, nullptr), 0) << "sub-port deleted";
    EXPECT_EQ(GLT_Display(good, 0, 1), 0) << "sub-port deleted";
    EXPECT_NE(GLT_DestroyHandle(good), 0);
}

TEST(GlintraApi, WithoutDisplayCreationWorksAndDisplayFails) {
    unsetenv("DISPLAY");
    const GLT_HANDLE handle = GLT_CreateHandle();
    ASSERT_NE(handle, 0);
    EXPECT_NE(GLT_Init(handle, 8, 0, 1), 0);
    EXPECT_NE(GLT_AddSubPort(handle, 0, 0), 0);
    EXPECT_NE(GLT_SetCallBack(handle, 0, 2, IgnoreOverlay, nullptr), 0);
    const std::vector<uint8_t> picture(size_t{64} * 48 * 2, 0x80);
    EXPECT_NE(GLT_UpdateFrameData(handle, picture.data(), 64, 48, 0), 0);
    EXPECT_EQ(GLT_Display(handle, 0, 0x200001), 0);
    EXPECT_EQ(GLT_Display(handle, 0, 0x200001), 0) << "second try";
    EXPECT_NE(GLT_DelSubPort(handle, 0), 0);
    EXPECT_NE(GLT_DestroyHandle(handle), 0);
}

TEST(GlintraApi, HandlesAreDistinctAndSurviveConcurrentUse) {
    // Four threads create, feed and destroy handles at once; each sees only its own handles.
    std::vector<std::thread> threads;
    threads.reserve(4);
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
