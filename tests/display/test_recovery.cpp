// Recovery after DirectDraw reports a lost surface: restoring in place, rebuilding the shared
// device table, rebuilding the engine's own surfaces, and a device that never comes back.
#include <cstring>

#include "device_table.h"
#include "fake_display_fixture.h"

namespace orvenna {
namespace {

using RecoveryTest = FakeDisplayTest;

// Gives device `i` of the engine a frame surface made on that device's DirectDraw object.
IDirectDrawSurface7* PlantFrameSurface(DDrawDisplayEngine& engine, DWORD i) {
    DDSURFACEDESC2 desc;
    std::memset(&desc, 0, sizeof(desc));
    desc.dwSize = sizeof(desc);
    desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
    desc.dwWidth = 64;
    desc.dwHeight = 48;
    desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN;
    IDirectDrawSurface7* surface = nullptr;
    EXPECT_EQ(DeviceTable().entries[i]->pDirectDraw->CreateSurface(&desc, &surface, nullptr),
              DD_OK);
    engine.DeviceSet(i)->pFrameSurface.Reset(surface);
    return surface;
}

TEST_F(RecoveryTest, SurfacesThatRestoreInPlaceKeepEverything) {
    DDrawDisplayEngine* engine = EngineOf(NewHandle());
    IDirectDrawSurface7* frame = PlantFrameSurface(*engine, 0);
    Fake().LoseSurfaces(0);
    Fake().ClearCalls();
    EXPECT_EQ(engine->RecoverLostSurface(0), ORVD_OK);
    EXPECT_EQ(Fake().CountCalls("IDirectDrawSurface7::Restore"), 2u);
    EXPECT_EQ(Fake().CountCalls("DirectDrawCreateEx"), 0u);
    EXPECT_EQ(engine->DeviceSet(0)->pFrameSurface.Get(), frame);
    EXPECT_FALSE(Fake().Surface(frame)->bLost);
}

TEST_F(RecoveryTest, APrimaryThatCannotBeRestoredRebuildsTheDevicesAndTheEnginesSurfaces) {
    DDrawDisplayEngine* engine = EngineOf(NewHandle());
    PlantFrameSurface(*engine, 0);
    Fake().LoseSurfaces(0);
    Fake().SetRestoreFails(0, true);
    Fake().ClearCalls();
    EXPECT_EQ(engine->RecoverLostSurface(0), ORVD_OK);
    EXPECT_EQ(Fake().CountCalls("IDirectDraw7::RestoreDisplayMode"), 1u);
    EXPECT_EQ(Fake().CountCalls("IDirectDraw7::TestCooperativeLevel"), 0u);
    EXPECT_EQ(Fake().CountCalls("DirectDrawCreateEx"), 1u);  // the device table was made anew
    EXPECT_TRUE(DeviceTable().bSetUp);
    // The frame surface belonged to the old DirectDraw object: the engine made its sets anew.
    EXPECT_TRUE(engine->IsInitialised());
    ASSERT_NE(engine->DeviceSet(0), nullptr);
    EXPECT_FALSE(engine->DeviceSet(0)->pFrameSurface);
}

TEST_F(RecoveryTest, WaitsForTheDeviceWhileItCannotBeDrawnTo) {
    DDrawDisplayEngine* engine = EngineOf(NewHandle());
    Fake().LoseSurfaces(0);
    Fake().SetRestoreFails(0, true);
    Fake().FailCall("IDirectDraw7::RestoreDisplayMode", DDERR_GENERIC);
    Fake().SetCoopFailures(0, 5);
    EXPECT_EQ(engine->RecoverLostSurface(0), ORVD_OK);
    EXPECT_EQ(Fake().CountCalls("IDirectDraw7::TestCooperativeLevel"), 6u);
    EXPECT_EQ(Fake().SleepCalls(), 5u);
    EXPECT_TRUE(DeviceTable().bSetUp);
}

TEST_F(RecoveryTest, ADeviceThatNeverComesBackIsGivenUpAfterABoundedWait) {
    const int32_t handle = NewHandle();
    DDrawDisplayEngine* engine = EngineOf(handle);
    Fake().LoseSurfaces(0);
    Fake().SetDeviceGone(0, true);
    const DWORD start = Fake().Now();
    EXPECT_EQ(engine->RecoverLostSurface(0), ORVD_E_DDRAW);
    const DWORD waited = Fake().Now() - start;
    EXPECT_GE(waited, DDrawDisplayEngine::kRecoverWaitMs);
    EXPECT_LT(waited, DDrawDisplayEngine::kRecoverWaitMs + 50);
    // The library is still usable afterwards, by this handle and by others.
    EXPECT_EQ(ORVD_SetDisplayMode(handle, 1), ORVD_OK);
    EXPECT_EQ(NewHandle(), 1);
}

TEST_F(RecoveryTest, ARebuildThatFailsReportsDirectDrawFailure) {
    DDrawDisplayEngine* engine = EngineOf(NewHandle());
    Fake().LoseSurfaces(0);
    Fake().SetRestoreFails(0, true);
    Fake().FailCall("IDirectDraw7::GetCaps", DDERR_GENERIC);
    EXPECT_EQ(engine->RecoverLostSurface(0), ORVD_E_DDRAW);
    EXPECT_EQ(DeviceTable().dwCount, 0u);
    EXPECT_EQ(Fake().LiveObjects(), 0);
}

TEST_F(RecoveryTest, AnotherEnginesSurfacesAreRebuiltInItsOwnRecovery) {
    DDrawDisplayEngine* first = EngineOf(NewHandle());
    DDrawDisplayEngine* second = EngineOf(NewHandle());
    PlantFrameSurface(*first, 0);
    IDirectDrawSurface7* theirs = PlantFrameSurface(*second, 0);
    Fake().LoseSurfaces(0);
    Fake().SetRestoreFails(0, true);
    EXPECT_EQ(first->RecoverLostSurface(0), ORVD_OK);
    Fake().SetRestoreFails(0, false);

    // The second engine still holds its surface; it is lost for good now.
    EXPECT_EQ(second->DeviceSet(0)->pFrameSurface.Get(), theirs);
    EXPECT_EQ(theirs->IsLost(), DDERR_SURFACELOST);
    const size_t creations = Fake().CountCalls("DirectDrawCreateEx");
    EXPECT_EQ(second->RecoverLostSurface(0), ORVD_OK);
    EXPECT_EQ(Fake().CountCalls("DirectDrawCreateEx"), creations);  // the table is left alone
    EXPECT_FALSE(second->DeviceSet(0)->pFrameSurface);
}

TEST_F(RecoveryTest, ARebuildOntoFewerDevicesReleasesEverySurfaceSet) {
    Fake().SetMonitors({RECT{0, 0, 1920, 1080}, RECT{1920, 0, 3840, 1080}});
    DDrawDisplayEngine* engine = EngineOf(NewHandle());
    PlantFrameSurface(*engine, 2);
    // The second monitor is unplugged; the first device's primary surface is lost.
    Fake().LoseSurfaces(1);
    Fake().SetRestoreFails(1, true);
    Fake().SetMonitors({RECT{0, 0, 1920, 1080}});
    EXPECT_EQ(engine->RecoverLostSurface(1), ORVD_OK);
    EXPECT_EQ(DeviceTable().dwCount, 1u);
    engine->ReleaseSurfaces();
    for (DWORD i = 0; i < kMaxDisplayDevices; ++i) EXPECT_EQ(engine->DeviceSet(i), nullptr) << i;
    testing::ResetLibraryForTesting();
    EXPECT_EQ(Fake().LiveObjects(), 0);
}

TEST_F(RecoveryTest, UnknownDevicesAndMissingSurfacesNeedNoRecovery) {
    DDrawDisplayEngine* engine = EngineOf(NewHandle());
    Fake().ClearCalls();
    EXPECT_EQ(engine->RecoverLostSurface(0), ORVD_OK);  // primary fine, no frame surface
    EXPECT_EQ(engine->RecoverLostSurface(3), ORVD_OK);
    EXPECT_EQ(engine->RecoverLostSurface(0xFFFFFFFFu), ORVD_OK);
    EXPECT_EQ(Fake().CountCalls("DirectDrawCreateEx"), 0u);
}

}  // namespace
}  // namespace orvenna
