// Following the window: which windows can be drawn to, and where each device draws the window on
// one display and across monitors. Recovery after DirectDraw reports a lost surface: restoring in
// place, rebuilding the shared device table and every engine's surfaces, waiting for a device,
// and a device that never comes back.
#include "device_table.h"
#include "fake_display_fixture.h"

namespace orvenna {
namespace {

using PlacementTest = FakeDisplayTest;
using platform::FakeBackend;

const RECT kLeft{0, 0, 1920, 1080};
const RECT kRight{1920, 0, 3840, 1080};
const RECT kUpperLeft{-1280, -200, 0, 824};  // the desktop: (-1280, -200) to (1920, 1080)
const RECT kHidden{-1, -1, -1, -1};          // the device does not draw the window

// A window's client area on the screen -> where each device draws it (no device: not ready).
TEST_F(PlacementTest, TheWindowIsDrawnWhereItIsOnEachMonitor) {
    const std::vector<RECT> one{kLeft}, two{kLeft, kRight}, corner{kLeft, kUpperLeft};
    struct Row {
        std::vector<RECT> monitors;
        RECT client;
        std::vector<RECT> dest;  // per device
    };
    const Row rows[] = {
        {one, {100, 50, 740, 530}, {{100, 50, 740, 530}}},
        // The driver entry is never drawn to beside monitors.
        {two, {2000, 100, 2640, 580}, {kHidden, kHidden, {80, 100, 720, 580}}},
        {two, {1600, 10, 2240, 490}, {kHidden, {1600, 10, 2240, 490}, {-320, 10, 320, 490}}},
        {two, {100, 100, 500, 400}, {kHidden, {100, 100, 500, 400}, kHidden}},
        // Touching is not overlapping.
        {two, {1920, 100, 2320, 400}, {kHidden, kHidden, {0, 100, 400, 400}}},
        // The client area must be at least 10 x 10.
        {one, {100, 100, 110, 110}, {{100, 100, 110, 110}}},
        {one, {100, 100, 740, 109}, {}},
        {one, {100, 100, 109, 580}, {}},
        {one, {100, 100, 100, 100}, {}},
        // A window wholly off the desktop is not drawn.
        {corner, {-1380, 0, -1280, 100}, {}},
        {corner, {-1379, 0, -1279, 100}, {kHidden, kHidden, {-99, 200, 1, 300}}},
        {corner, {1920, 0, 2020, 100}, {}},
        {corner, {1919, 0, 2019, 100}, {kHidden, {1919, 0, 2019, 100}, kHidden}},
        {corner, {0, -300, 100, -200}, {}},
        {corner, {0, 1080, 100, 1180}, {}},
        {corner,
         {-5000, -5000, 5000, 5000},
         {kHidden, {-5000, -5000, 5000, 5000}, {-3720, -4800, 6280, 5200}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.client);
        UseNewFake();
        Fake().SetMonitors(row.monitors);
        const int32_t handle = NewHandleOn(row.client);
        ASSERT_EQ(ORVD_RefreshDisplay(handle), row.dest.empty() ? ORVD_E_NOT_READY : ORVD_OK);
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

TEST_F(PlacementTest, MissingHiddenAndDestroyedWindowsAreNotReadyAndAMovedOneIsFollowed) {
    Fake().SetMonitors({kLeft, kRight});
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
    EXPECT_TRUE(EngineOf(handle)->DeviceSet(1)->bVisible);
    Fake().MoveWindow(hwnd, RECT{1920, 100, 2320, 400});
    ASSERT_EQ(ORVD_RefreshDisplay(handle), ORVD_OK);
    EXPECT_FALSE(EngineOf(handle)->DeviceSet(1)->bVisible);
    EXPECT_EQ(EngineOf(handle)->DeviceSet(2)->rcDest, (RECT{0, 100, 400, 400}));
    Fake().DestroyWindow(hwnd);
    EXPECT_EQ(ORVD_RefreshDisplay(handle), ORVD_E_NOT_READY);
}

// Two handles show a frame; then the monitors change to `plugged`, the surfaces of the `lost`
// devices (a bit each) are lost, for good unless restorable, a call fails and the device stays
// busy for `busy` tests: the next frame of handle 0 gives `result` after the calls counted; then,
// with the device working again, both handles show again.
TEST_F(PlacementTest, ALostSurfaceIsRecoveredAndEveryHandleShowsAgain) {
    const std::vector<RECT> one{kLeft}, two{kLeft, kRight}, right{kRight};
    struct Row {
        const char* what;
        const std::vector<RECT>& monitors;
        const std::vector<RECT>* plugged;
        unsigned lost;
        bool restorable;
        const char* failing;
        HRESULT error;
        int busy;
        int32_t result;
        size_t rebuilds;
        DWORD devices_after;
    };
    const Row rows[] = {
        {"restored in place", one, nullptr, 1, true, nullptr, 0, 0, ORVD_OK, 0, 1},
        {"lost on the blit", one, nullptr, 0, false, "IDirectDrawSurface7::Blt", DDERR_SURFACELOST,
         0, ORVD_E_DDRAW, 0, 1},
        {"primary not restorable: the devices and the engine's surfaces are made again", one,
         nullptr, 1, false, nullptr, 0, 0, ORVD_E_DDRAW, 1, 1},
        {"waits while the device cannot be drawn to", one, nullptr, 1, false,
         "IDirectDraw7::RestoreDisplayMode", DDERR_GENERIC, 5, ORVD_E_DDRAW, 1, 1},
        // The second lock finds the old surface orphaned, and its recovery sets up again.
        {"the rebuild fails", one, nullptr, 1, false, "IDirectDraw7::GetCaps", DDERR_GENERIC, 0,
         ORVD_E_DDRAW, 2, 1},
        {"a second monitor plugged in", one, &two, 1, false, nullptr, 0, 0, ORVD_E_DDRAW, 3, 3},
        {"the monitor under handle 0 unplugged", two, &right, 6, false, nullptr, 0, 0, ORVD_E_DDRAW,
         1, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        UseNewFake();
        Fake().SetMonitors(row.monitors);
        const int32_t first = NewHandleOn(RECT{100, 100, 420, 340});
        const int32_t second = NewHandleOn(RECT{1700, 100, 2100, 400});
        ASSERT_EQ(Show(first, ORVD_FORMAT_UYVY, 64, 48), ORVD_OK);
        ASSERT_EQ(Show(second, ORVD_FORMAT_UYVY, 64, 48), ORVD_OK);
        Fake().ClearCalls();
        if (row.plugged != nullptr) Fake().SetMonitors(*row.plugged);
        for (int device = 0; device < 3; ++device) {
            if ((row.lost >> device & 1) == 0) continue;
            Fake().LoseSurfaces(device);
            Fake().SetRestoreFails(device, !row.restorable);
        }
        if (row.failing != nullptr) Fake().FailCall(row.failing, row.error);
        Fake().SetCoopFailures(0, row.busy);
        EXPECT_EQ(Show(first, ORVD_FORMAT_UYVY, 64, 48), row.result);
        EXPECT_EQ(Fake().CountCalls("IDirectDrawSurface7::Restore"), 2u);
        EXPECT_EQ(Fake().CountCalls("DirectDrawCreateEx"), row.rebuilds);
        // One test more than the device stays busy for, and a sleep after each busy one.
        EXPECT_EQ(Fake().CountCalls("IDirectDraw7::TestCooperativeLevel"),
                  row.busy > 0 ? size_t(row.busy) + 1 : 0u);
        EXPECT_EQ(Fake().SleepCalls(), size_t(row.busy));

        for (int device = 0; device < 3; ++device) Fake().SetRestoreFails(device, false);
        Fake().ClearFailures();
        // The other handle rebuilds its own surfaces on the new table, not the table again.
        EXPECT_EQ(Show(second, ORVD_FORMAT_UYVY, 64, 48), ORVD_OK);
        EXPECT_EQ(Show(first, ORVD_FORMAT_UYVY, 64, 48), ORVD_OK);
        EXPECT_EQ(Fake().CountCalls("DirectDrawCreateEx"), row.rebuilds);
        EXPECT_EQ(DeviceTable().dwCount, row.devices_after);
    }
}

TEST_F(PlacementTest, ADeviceThatNeverComesBackFailsFastUntilTheDevicesAreMadeAgain) {
    const int32_t first = NewHandleOn(RECT{100, 100, 420, 340});
    const int32_t second = NewHandleOn(RECT{500, 100, 820, 340});
    ASSERT_EQ(Show(first, ORVD_FORMAT_UYVY, 64, 48), ORVD_OK);
    Fake().LoseSurfaces(0);
    Fake().SetRestoreFails(0, true);
    Fake().SetDeviceGone(0, true);
    // One bounded wait: the library lock is held meanwhile.
    DWORD start = Fake().Now();
    EXPECT_EQ(Show(first, ORVD_FORMAT_UYVY, 64, 48), ORVD_E_DDRAW);
    EXPECT_GE(Fake().Now() - start, DDrawDisplayEngine::kRecoverWaitMs);
    EXPECT_LT(Fake().Now() - start, DDrawDisplayEngine::kRecoverWaitMs + 50);
    start = Fake().Now();
    EXPECT_EQ(Show(second, ORVD_FORMAT_UYVY, 64, 48), ORVD_E_DDRAW);
    EXPECT_EQ(Show(first, ORVD_FORMAT_UYVY, 64, 48), ORVD_E_DDRAW);
    EXPECT_LT(Fake().Now() - start, 50u);
    EXPECT_EQ(ORVD_SetDisplayMode(first, 1), ORVD_OK);
    EXPECT_EQ(NewHandle(), 2);
    // Back: the next look finds it and the devices are made again.
    Fake().SetDeviceGone(0, false);
    Fake().SetRestoreFails(0, false);
    EXPECT_EQ(Show(second, ORVD_FORMAT_UYVY, 64, 48), ORVD_E_DDRAW);
    EXPECT_EQ(Show(first, ORVD_FORMAT_UYVY, 64, 48), ORVD_OK);
    EXPECT_EQ(Show(second, ORVD_FORMAT_UYVY, 64, 48), ORVD_OK);
}

}  // namespace
}  // namespace orvenna
