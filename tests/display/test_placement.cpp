// Following the window: which windows can be drawn to, and where each device draws the window on
// one display and across monitors.
#include "fake_display_fixture.h"

namespace orvenna {
namespace {

using PlacementTest = FakeDisplayTest;

const RECT kLeft{0, 0, 1920, 1080};
const RECT kRight{1920, 0, 3840, 1080};
const RECT kUpperLeft{-1280, -200, 0, 824};  // the desktop: (-1280, -200) to (1920, 1080)
const RECT kHidden{-1, -1, -1, -1};          // the device does not draw the window


// A window's client area on the screen -> what a refresh answers and where each device draws.
TEST_F(PlacementTest, TheWindowIsDrawnWhereItIsOnEachMonitor) {
    struct Row {
        std::vector<RECT> monitors;
        RECT client;
        int32_t result;
        std::vector<RECT> dest;  // per device, when the result is ORVD_OK
    };
    const Row rows[] = {
        {{kLeft}, {100, 50, 740, 530}, ORVD_OK, {{100, 50, 740, 530}}},
        // The driver entry is never drawn to beside monitors.
        {{kLeft, kRight}, {2000, 100, 2640, 580}, ORVD_OK, {kHidden, kHidden, {80, 100, 720, 580}}},
        {{kLeft, kRight},
         {1600, 10, 2240, 490},
         ORVD_OK,
         {kHidden, {1600, 10, 2240, 490}, {-320, 10, 320, 490}}},
        {{kLeft, kRight}, {100, 100, 500, 400}, ORVD_OK, {kHidden, {100, 100, 500, 400}, kHidden}},
        // Touching is not overlapping.
        {{kLeft, kRight}, {1920, 100, 2320, 400}, ORVD_OK, {kHidden, kHidden, {0, 100, 400, 400}}},
        // The client area must be at least 10 x 10.
        {{kLeft}, {100, 100, 110, 110}, ORVD_OK, {{100, 100, 110, 110}}},
        {{kLeft}, {100, 100, 740, 109}, ORVD_E_NOT_READY, {}},
        {{kLeft}, {100, 100, 109, 580}, ORVD_E_NOT_READY, {}},
        {{kLeft}, {100, 100, 100, 100}, ORVD_E_NOT_READY, {}},
        // A window wholly off the desktop is not drawn.
        {{kLeft, kUpperLeft}, {-1380, 0, -1280, 100}, ORVD_E_NOT_READY, {}},
        {{kLeft, kUpperLeft},
         {-1379, 0, -1279, 100},
         ORVD_OK,
         {kHidden, kHidden, {-99, 200, 1, 300}}},
        {{kLeft, kUpperLeft}, {1920, 0, 2020, 100}, ORVD_E_NOT_READY, {}},
        {{kLeft, kUpperLeft}, {1919, 0, 2019, 100}, ORVD_OK, {kHidden, {1919, 0, 2019, 100}, kHidden}},
        {{kLeft, kUpperLeft}, {0, -300, 100, -200}, ORVD_E_NOT_READY, {}},
        {{kLeft, kUpperLeft}, {0, 1080, 100, 1180}, ORVD_E_NOT_READY, {}},
        {{kLeft, kUpperLeft},
         {-5000, -5000, 5000, 5000},
         ORVD_OK,
         {kHidden, {-5000, -5000, 5000, 5000}, {-3720, -4800, 6280, 5200}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.client.left << "," << row.client.top << ","
                                          << row.client.right << "," << row.client.bottom);
        UseNewFake();
        Fake().SetMonitors(row.monitors);
        const int32_t handle = NewHandleOn(row.client);
        ASSERT_EQ(ORVD_RefreshDisplay(handle), row.result);
        for (DWORD i = 0; i < row.dest.size(); ++i) {
            const DeviceSurfaceSet* set = EngineOf(handle)->DeviceSet(i);
            ASSERT_NE(set, nullptr);
            EXPECT_EQ(set->bVisible, !(row.dest[i] == kHidden)) << "device " << i;
            if (set->bVisible) {
                EXPECT_EQ(set->rcDest, row.dest[i]) << "device " << i;
            }
        }
    }
}

TEST_F(PlacementTest, MovingTheWindowMovesItsDevices) {
    Fake().SetMonitors({kLeft, kRight});
    HWND window = 0;
    const int32_t handle = NewHandleOn(RECT{100, 100, 500, 400}, &window);
    ASSERT_EQ(ORVD_RefreshDisplay(handle), ORVD_OK);
    Fake().MoveWindow(window, RECT{1920, 100, 2320, 400});
    ASSERT_EQ(ORVD_RefreshDisplay(handle), ORVD_OK);
    EXPECT_FALSE(EngineOf(handle)->DeviceSet(1)->bVisible);
    EXPECT_EQ(EngineOf(handle)->DeviceSet(2)->rcDest, (RECT{0, 100, 400, 400}));
}

TEST_F(PlacementTest, MissingHiddenAndDestroyedWindowsAreNotReady) {
    const int32_t handle = NewHandle();
    unsigned char pixels[64 * 48 * 2] = {};
    tagORVD_FRAME frame{pixels, 0, ORVD_FORMAT_UYVY, 64, 48};
    EXPECT_EQ(ORVD_DisplayFrame(handle, &frame), ORVD_E_NOT_READY);  // no window yet
    EXPECT_EQ(ORVD_RefreshDisplay(handle), ORVD_E_NOT_READY);

    const HWND hwnd = Fake().AddWindow(RECT{0, 0, 320, 240});
    EXPECT_EQ(ORVD_SetDisplayWindow(handle, hwnd), ORVD_OK);
    EXPECT_EQ(ORVD_RefreshDisplay(handle), ORVD_OK);  // before the first frame: nothing to draw
    Fake().SetWindowVisible(hwnd, false);
    EXPECT_EQ(ORVD_RefreshDisplay(handle), ORVD_E_NOT_READY);
    EXPECT_EQ(ORVD_DisplayFrame(handle, &frame), ORVD_E_NOT_READY);
    EXPECT_EQ(Fake().CountCalls("IDirectDrawSurface7::Lock"), 0u);
    EXPECT_EQ(Fake().CountCalls("IDirectDrawSurface7::Blt"), 0u);
    // The frame's shape is kept even when the window cannot be drawn to.
    EXPECT_EQ(EngineOf(handle)->Geometry().dwWidth, 64u);
    EXPECT_EQ(EngineOf(handle)->CurrentFrame().dwFormat, DWORD{ORVD_FORMAT_UYVY});
    Fake().SetWindowVisible(hwnd, true);
    EXPECT_EQ(ORVD_RefreshDisplay(handle), ORVD_OK);
    Fake().DestroyWindow(hwnd);
    EXPECT_EQ(ORVD_RefreshDisplay(handle), ORVD_E_NOT_READY);
}

}  // namespace
}  // namespace orvenna
