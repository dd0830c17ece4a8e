// Recovery after DirectDraw reports a lost surface, through the exports: restoring in place,
// rebuilding the shared device table and every engine's surfaces, waiting for a device, and a
// device that never comes back.
#include "device_table.h"
#include "fake_display_fixture.h"

namespace orvenna {
namespace {

using RecoveryTest = FakeDisplayTest;
using platform::FakeBackend;

const RECT kLeft{0, 0, 1920, 1080};
const RECT kRight{1920, 0, 3840, 1080};

// Two handles show a frame; `script` breaks something; the next frame of handle 0 gives `result`
// after the calls counted; then, with the device working again, both handles show again.
TEST_F(RecoveryTest, ALostSurfaceIsRecoveredAndEveryHandleShowsAgain) {
    struct Row {
        const char* what;
        std::vector<RECT> monitors;
        void (*script)(FakeBackend&);
        int32_t result;
        size_t restores, rebuilds, coop_tests, sleeps;
        DWORD devices_after;
    };
    const Row rows[] = {
        {"restored in place", {kLeft}, [](FakeBackend& f) { f.LoseSurfaces(0); }, ORVD_OK, 2, 0,
         0, 0, 1},
        {"lost on the blit",
         {kLeft},
         [](FakeBackend& f) { f.FailCall("IDirectDrawSurface7::Blt", DDERR_SURFACELOST); },
         ORVD_E_DDRAW, 2, 0, 0, 0, 1},
        {"primary not restorable: the devices and the engine's surfaces are made again",
         {kLeft},
         [](FakeBackend& f) {
             f.LoseSurfaces(0);
             f.SetRestoreFails(0, true);
         },
         ORVD_E_DDRAW, 2, 1, 0, 0, 1},
        {"waits while the device cannot be drawn to",
         {kLeft},
         [](FakeBackend& f) {
             f.LoseSurfaces(0);
             f.SetRestoreFails(0, true);
             f.FailCall("IDirectDraw7::RestoreDisplayMode", DDERR_GENERIC);
             f.SetCoopFailures(0, 5);
         },
         ORVD_E_DDRAW, 2, 1, 6, 5, 1},
        // The second lock finds the old surface orphaned, and its recovery sets up again.
        {"the rebuild fails",
         {kLeft},
         [](FakeBackend& f) {
             f.LoseSurfaces(0);
             f.SetRestoreFails(0, true);
             f.FailCall("IDirectDraw7::GetCaps", DDERR_GENERIC);
         },
         ORVD_E_DDRAW, 2, 2, 0, 0, 1},
        {"a second monitor plugged in",
         {kLeft},
         [](FakeBackend& f) {
             f.SetMonitors({kLeft, kRight});
             f.LoseSurfaces(0);
             f.SetRestoreFails(0, true);
         },
         ORVD_E_DDRAW, 2, 3, 0, 0, 3},
        {"the monitor under handle 0 unplugged",
         {kLeft, kRight},
         [](FakeBackend& f) {
             f.SetMonitors({kRight});
             for (int device : {1, 2}) {
                 f.LoseSurfaces(device);
                 f.SetRestoreFails(device, true);
             }
         },
         ORVD_E_DDRAW, 2, 1, 0, 0, 1},
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
        row.script(Fake());
        EXPECT_EQ(Show(first, ORVD_FORMAT_UYVY, 64, 48), row.result);
        EXPECT_EQ(Fake().CountCalls("IDirectDrawSurface7::Restore"), row.restores);
        EXPECT_EQ(Fake().CountCalls("DirectDrawCreateEx"), row.rebuilds);
        EXPECT_EQ(Fake().CountCalls("IDirectDraw7::TestCooperativeLevel"), row.coop_tests);
        EXPECT_EQ(Fake().SleepCalls(), row.sleeps);

        for (int device = 0; device < 3; ++device) Fake().SetRestoreFails(device, false);
        Fake().ClearFailures();
        // The other handle rebuilds its own surfaces on the new table, not the table again.
        EXPECT_EQ(Show(second, ORVD_FORMAT_UYVY, 64, 48), ORVD_OK);
        EXPECT_EQ(Show(first, ORVD_FORMAT_UYVY, 64, 48), ORVD_OK);
        EXPECT_EQ(Fake().CountCalls("DirectDrawCreateEx"), row.rebuilds);
        EXPECT_EQ(DeviceTable().dwCount, row.devices_after);
    }
}

TEST_F(RecoveryTest, ADeviceThatNeverComesBackFailsFastUntilTheDevicesAreMadeAgain) {
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
