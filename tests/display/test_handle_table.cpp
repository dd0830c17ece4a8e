// The nine exports over the handle table: range checks, handing out and reusing indices,
// engine kinds, slots filled on demand, results without an engine, the setters' checks.
#include <atomic>
#include <stdexcept>
#include <thread>

#include "fake_display_fixture.h"
#include "handle_table.h"

namespace orvenna {
namespace {

using HandleTableTest = FakeDisplayTest;

constexpr int32_t kUnwritten = 4242;

tagORVD_FRAME SomeFrame() {
    static unsigned char pixels[16 * 16 * 4] = {};
    return tagORVD_FRAME{pixels, 0, ORVD_FORMAT_RGB32, 16, 16};
}

void ORVD_CALL IgnoreDC(int32_t, ORVD_HDC, intptr_t) {}

// Each export other than ORVD_InitByDisEngine, called on `handle`, with what it answers for a
// slot without an engine.
struct ExportCase {
    const char* name;
    int32_t (*call)(int32_t handle);
    int32_t without_engine;
};

const ExportCase kExports[] = {
    {"SetDisplayWindow", [](int32_t h) { return ORVD_SetDisplayWindow(h, 0x1000); },
     ORVD_E_NOT_READY},
    {"SetDisplayRect",
     [](int32_t h) {
         tagRECT rect{1, 2, 3, 4};
         return ORVD_SetDisplayRect(h, &rect);
     },
     ORVD_E_NOT_READY},
    {"DisplayFrame",
     [](int32_t h) {
         tagORVD_FRAME frame = SomeFrame();
         return ORVD_DisplayFrame(h, &frame);
     },
     ORVD_E_NOT_READY},
    {"RefreshDisplay", [](int32_t h) { return ORVD_RefreshDisplay(h); }, ORVD_E_NOT_READY},
    {"SetRotationAngle", [](int32_t h) { return ORVD_SetRotationAngle(h, 90); }, ORVD_E_NOT_READY},
    {"RegisterDCCallback", [](int32_t h) { return ORVD_RegisterDCCallback(h, &IgnoreDC, 7); },
     ORVD_OK},
    {"SetDisplayMode", [](int32_t h) { return ORVD_SetDisplayMode(h, 1); }, ORVD_OK},
    {"Release", [](int32_t h) { return ORVD_Release(h); }, ORVD_OK},
};

// The values are the callers' binary interface.
TEST(ResultCodes, KeepTheirValues) {
    EXPECT_EQ(static_cast<uint32_t>(ORVD_E_FAIL), 0x80000000u);
    EXPECT_EQ(static_cast<uint32_t>(ORVD_E_PARAM), 0x80000001u);
    EXPECT_EQ(static_cast<uint32_t>(ORVD_E_HANDLE), 0x80000002u);
    EXPECT_EQ(static_cast<uint32_t>(ORVD_E_DDRAW), 0x80000004u);
    EXPECT_EQ(static_cast<uint32_t>(ORVD_E_UNSUPPORTED), 0x80000005u);
    EXPECT_EQ(static_cast<uint32_t>(ORVD_E_NOT_READY), 0x80000006u);
}

TEST_F(HandleTableTest, HandlesOutsideTheTableAreRefusedBeforeAnythingElse) {
    for (const ExportCase& e : kExports) {
        for (int32_t handle : {-1, 500, INT32_MIN, INT32_MAX}) {
            EXPECT_EQ(e.call(handle), ORVD_E_HANDLE) << e.name << " " << handle;
        }
    }
    for (int32_t i = 0; i < ORVD_MAX_HANDLES; ++i) {
        ASSERT_EQ(testing::SlotStateForTesting(i), kSlotNeverUsed) << i;
    }
    // The first and the last index pass.
    for (const ExportCase& e : kExports) {
        for (int32_t handle : {0, 499}) {
            EXPECT_EQ(e.call(handle), e.without_engine) << e.name << " " << handle;
        }
    }
}

TEST_F(HandleTableTest, HandsOutTheLowestFreeIndexAndReusesReleasedOnes) {
    EXPECT_EQ(NewHandle(), 0);
    EXPECT_EQ(NewHandle(), 1);
    EXPECT_EQ(NewHandle(), 2);
    EXPECT_EQ(ORVD_Release(1), ORVD_OK);
    EXPECT_EQ(ORVD_Release(0), ORVD_OK);
    EXPECT_EQ(testing::SlotStateForTesting(0), kSlotReleased);
    EXPECT_EQ(NewHandle(), 0);
    EXPECT_EQ(testing::SlotStateForTesting(0), kSlotEngine);
    EXPECT_EQ(NewHandle(), 1);
    EXPECT_EQ(NewHandle(), 3);
}

TEST_F(HandleTableTest, NullHandleOutIsRefusedWithoutTakingAnIndex) {
    EXPECT_EQ(ORVD_InitByDisEngine(nullptr, ORVD_ENGINE_DDRAW), ORVD_E_PARAM);
    EXPECT_EQ(testing::SlotStateForTesting(0), kSlotNeverUsed);
    EXPECT_EQ(NewHandle(), 0);
}

TEST_F(HandleTableTest, RefusedEngineKindsReleaseTheIndexAndLeaveTheHandleUnwritten) {
    struct Case {
        int32_t kind;
        int32_t expected;
    };
    const Case cases[] = {{1, ORVD_E_UNSUPPORTED}, {2, ORVD_E_UNSUPPORTED},
                          {3, ORVD_E_FAIL},        {7, ORVD_E_FAIL},
                          {-1, ORVD_E_FAIL},       {INT32_MIN, ORVD_E_FAIL}};
    for (const Case& c : cases) {
        int32_t handle = kUnwritten;
        EXPECT_EQ(ORVD_InitByDisEngine(&handle, static_cast<tagORVD_ENGINE>(c.kind)), c.expected)
            << c.kind;
        EXPECT_EQ(handle, kUnwritten) << c.kind;
        EXPECT_EQ(testing::SlotStateForTesting(0), kSlotReleased) << c.kind;
        // A released index stays without an engine until it is handed out again.
        EXPECT_EQ(ORVD_SetDisplayMode(0, 2), ORVD_OK);
        EXPECT_EQ(ORVD_RefreshDisplay(0), ORVD_E_NOT_READY);
        EXPECT_EQ(testing::SlotStateForTesting(0), kSlotReleased);
    }
    EXPECT_EQ(NewHandle(), 0);
}

TEST_F(HandleTableTest, AnIndexFilledOnDemandIsSkippedUntilReleased) {
    EXPECT_EQ(ORVD_SetDisplayWindow(7, Fake().AddWindow({0, 0, 100, 100})), ORVD_E_NOT_READY);
    EXPECT_EQ(testing::SlotStateForTesting(7), kSlotOnDemand);
    EXPECT_EQ(testing::EngineForTesting(7), nullptr);
    for (int32_t expected = 0; expected < 7; ++expected) EXPECT_EQ(NewHandle(), expected);
    EXPECT_EQ(NewHandle(), 8);

    for (const ExportCase& e : kExports) {
        if (e.call == kExports[7].call) continue;  // Release comes last
        EXPECT_EQ(e.call(7), e.without_engine) << e.name;
        EXPECT_EQ(testing::SlotStateForTesting(7), kSlotOnDemand) << e.name;
    }
    EXPECT_EQ(ORVD_Release(7), ORVD_OK);
    EXPECT_EQ(NewHandle(), 7);
}

// A released index, handed out before or never used, answers as a slot without an engine and is
// not filled on demand again.
TEST_F(HandleTableTest, ReleasedIndicesAnswerWithoutAnEngineAndStayReleased) {
    for (const int32_t handle : {NewHandle(), 42}) {
        EXPECT_EQ(ORVD_Release(handle), ORVD_OK);
        for (const ExportCase& e : kExports) {
            EXPECT_EQ(e.call(handle), e.without_engine) << e.name;
            EXPECT_EQ(testing::SlotStateForTesting(handle), kSlotReleased) << e.name;
        }
    }
}

TEST_F(HandleTableTest, AFullTableRefusesAnotherEngineWithoutWritingTheHandle) {
    for (int32_t expected = 0; expected < ORVD_MAX_HANDLES; ++expected) {
        int32_t handle = -1;
        ASSERT_EQ(ORVD_InitByDisEngine(&handle, ORVD_ENGINE_DDRAW), ORVD_OK);
        ASSERT_EQ(handle, expected);
    }
    int32_t handle = kUnwritten;
    EXPECT_EQ(ORVD_InitByDisEngine(&handle, ORVD_ENGINE_DDRAW), ORVD_E_FAIL);
    EXPECT_EQ(handle, kUnwritten);
    EXPECT_EQ(ORVD_Release(321), ORVD_OK);
    EXPECT_EQ(NewHandle(), 321);
}

TEST_F(HandleTableTest, FailedAllocationsGiveUpTheirIndex) {
    testing::FailAllocationsForTesting(1, 0);  // the slot: the next index is tried
    EXPECT_EQ(NewHandle(), 1);
    EXPECT_EQ(testing::SlotStateForTesting(0), kSlotNeverUsed);
    testing::FailAllocationsForTesting(0, 1);  // the engine: refused, the index released
    int32_t handle = kUnwritten;
    EXPECT_EQ(ORVD_InitByDisEngine(&handle, ORVD_ENGINE_DDRAW), ORVD_E_FAIL);
    EXPECT_EQ(handle, kUnwritten);
    EXPECT_EQ(testing::SlotStateForTesting(0), kSlotReleased);
    EXPECT_EQ(NewHandle(), 0);
}

TEST_F(HandleTableTest, AnEngineWhoseDirectDrawSetUpFailedStillGetsItsHandle) {
    Fake().SetDirectDrawLoaded(false);
    const int32_t handle = NewHandle();
    EXPECT_EQ(handle, 0);
    ASSERT_NE(EngineOf(handle), nullptr);
    EXPECT_FALSE(EngineOf(handle)->IsInitialised());
    EXPECT_EQ(ORVD_SetDisplayWindow(handle, Fake().AddWindow({0, 0, 100, 100})), ORVD_OK);
    tagORVD_FRAME frame = SomeFrame();
    EXPECT_EQ(ORVD_DisplayFrame(handle, &frame), ORVD_E_NOT_READY);
}

TEST_F(HandleTableTest, SetDisplayWindowKeepsTheOldWindowWhenGivenSomethingElse) {
    const int32_t handle = NewHandle();
    const HWND window = Fake().AddWindow({0, 0, 100, 100});
    const HWND gone = Fake().AddWindow({0, 0, 100, 100});
    Fake().DestroyWindow(gone);
    EXPECT_EQ(ORVD_SetDisplayWindow(handle, window), ORVD_OK);
    for (HWND bad : {HWND{0}, gone, HWND{0xDEAD}}) {
        EXPECT_EQ(ORVD_SetDisplayWindow(handle, bad), ORVD_E_PARAM);
        EXPECT_EQ(EngineOf(handle)->Window(), window);
    }
}

TEST_F(HandleTableTest, SetDisplayRectChecksEveryCoordinateAndNullClears) {
    const int32_t handle = NewHandle();
    tagRECT good{10, 20, 30, 40};
    EXPECT_EQ(ORVD_SetDisplayRect(handle, &good), ORVD_OK);
    const tagRECT bad[] = {
        {-1, 0, 10, 10}, {0, -1, 10, 10}, {0, 0, -1, 10}, {0, 0, 10, -1}, {INT32_MIN, 0, 0, 0}};
    for (tagRECT rect : bad) {
        EXPECT_EQ(ORVD_SetDisplayRect(handle, &rect), ORVD_E_PARAM);
        const RECT kept = EngineOf(handle)->DisplayRect();
        EXPECT_EQ(kept.left, 10);
        EXPECT_EQ(kept.bottom, 40);
    }
    EXPECT_EQ(ORVD_SetDisplayRect(handle, nullptr), ORVD_OK);
    const RECT cleared = EngineOf(handle)->DisplayRect();
    EXPECT_EQ(cleared.left | cleared.top | cleared.right | cleared.bottom, 0);
}

TEST_F(HandleTableTest, AnExceptionInsideAnEngineBecomesFailureAndFreesTheLock) {
    const int32_t handle = NewHandle();
    Fake().SetWindowCallsThrow(true);
    EXPECT_EQ(ORVD_SetDisplayWindow(handle, 0x1000), ORVD_E_FAIL);
    Fake().SetWindowCallsThrow(false);
    std::atomic<int32_t> from_other_thread{1};
    std::thread other([&] { from_other_thread = ORVD_SetDisplayMode(handle, 1); });
    other.join();
    EXPECT_EQ(from_other_thread.load(), ORVD_OK);
}

TEST_F(HandleTableTest, UnloadReleasesEverySlotAndResetsTheStates) {
    NewHandle();
    NewHandle();
    ORVD_SetDisplayMode(9, 0);
    ORVD_Release(1);
    testing::ResetLibraryForTesting();
    for (int32_t i : {0, 1, 9}) EXPECT_EQ(testing::SlotStateForTesting(i), kSlotNeverUsed) << i;
    EXPECT_EQ(Fake().LiveObjects(), 0);
    EXPECT_EQ(NewHandle(), 0);
}

}  // namespace
}  // namespace orvenna
