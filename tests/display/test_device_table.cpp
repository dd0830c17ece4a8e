// The process-wide device table: what the enumeration puts in it, the set-up calls, the devices
// that use video memory, and failing set-ups that must release everything made before them.
#include <cstring>

#include "device_table.h"
#include "fake_display_fixture.h"
#include "platform/com_object.h"

namespace orvenna {
namespace {

using DeviceTableTest = FakeDisplayTest;
using platform::FakeCall;
using platform::FakeDevice;

const RECT kLeft{0, 0, 1920, 1080};
const RECT kRight{1920, 0, 3200, 1024};


TEST_F(DeviceTableTest, OneDisplayIsTheDriverEntryAloneAndTheScreenBoundsTheDesktop) {
    Fake().SetScreenSize(1600, 900);
    const int32_t handle = NewHandle();
    const DisplayDeviceTable& table = DeviceTable();
    ASSERT_EQ(table.dwCount, 1u);
    EXPECT_EQ(table.wMonitorCount, 0u);
    EXPECT_TRUE(table.bSetUp);
    const DisplayDevice& entry = *table.entries[0];
    EXPECT_EQ(entry.hMonitor, nullptr);
    EXPECT_EQ(entry.pMonitorInfo, nullptr);
    EXPECT_TRUE(platform::IsZeroGuid(&entry.guid));
    EXPECT_TRUE(entry.pDirectDraw && entry.pPrimary && entry.pClipper);
    EXPECT_EQ(entry.dwCapabilities, kFullyCapable);

    DDrawDisplayEngine* engine = EngineOf(handle);
    EXPECT_TRUE(engine->IsInitialised());
    EXPECT_EQ(engine->DesktopBounds(), (RECT{0, 0, 1600, 900}));
    ASSERT_NE(engine->DeviceSet(0), nullptr);
    EXPECT_TRUE(engine->DeviceSet(0)->bVideoMemory);
    EXPECT_EQ(engine->DeviceSet(1), nullptr);

    // An offscreen surface asked for without a pixel format is in the display's: 32-bit RGB.
    DDSURFACEDESC2 desc{};
    desc.dwSize = sizeof(desc);
    desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
    desc.dwWidth = 64;
    desc.dwHeight = 48;
    desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN;
    IDirectDrawSurface7* surface = nullptr;
    ASSERT_EQ(entry.pDirectDraw->CreateSurface(&desc, &surface, nullptr), DD_OK);
    ASSERT_EQ(surface->GetSurfaceDesc(&desc), DD_OK);
    EXPECT_EQ(desc.ddpfPixelFormat.dwRGBBitCount, 32u);
    EXPECT_EQ(desc.lPitch, 256);
    surface->Release();
}

TEST_F(DeviceTableTest, SetUpMakesEachDevicesObjectsWithTheirFlags) {
    NewHandle();
    std::vector<std::string> methods;
    for (const FakeCall& call : Fake().Calls()) methods.push_back(call.method);
    const std::vector<std::string> expected = {"DirectDrawEnumerateExA",
                                               "DirectDrawCreateEx",
                                               "IDirectDraw7::SetCooperativeLevel",
                                               "IDirectDraw7::CreateSurface",
                                               "IDirectDraw7::GetCaps",
                                               "IDirectDraw7::CreateClipper",
                                               "IDirectDrawSurface7::SetClipper"};
    EXPECT_EQ(methods, expected);

    EXPECT_EQ(Fake().CallsNamed("DirectDrawEnumerateExA")[0].flags,
              DWORD{DDENUM_ATTACHEDSECONDARYDEVICES});
    const FakeCall coop = Fake().CallsNamed("IDirectDraw7::SetCooperativeLevel")[0];
    EXPECT_EQ(coop.hwnd, HWND{0});
    EXPECT_EQ(coop.flags, DWORD{DDSCL_NORMAL});
    const FakeCall primary = Fake().CallsNamed("IDirectDraw7::CreateSurface")[0];
    EXPECT_EQ(primary.desc.dwSize, sizeof(DDSURFACEDESC2));
    EXPECT_EQ(primary.desc.dwFlags, DWORD{DDSD_CAPS});
    EXPECT_EQ(primary.desc.ddsCaps.dwCaps, DWORD{DDSCAPS_PRIMARYSURFACE});
    EXPECT_EQ(primary.desc.dwWidth | primary.desc.dwHeight, 0u);
    EXPECT_EQ(Fake().CallsNamed("IDirectDraw7::GetCaps")[0].args, "driver=yes hel=null");
    EXPECT_EQ(Fake().CallsNamed("IDirectDraw7::CreateClipper")[0].flags, 0u);

    // Once per process.
    NewHandle();
    EXPECT_EQ(SetUpDevices(), 0);
    EXPECT_EQ(Fake().CountCalls("DirectDrawEnumerateExA"), 1u);
    EXPECT_EQ(Fake().CountCalls("DirectDrawCreateEx"), 1u);
}

TEST_F(DeviceTableTest, TwoMonitorsGiveTheDriverEntryAndOneEntryPerMonitor) {
    Fake().SetMonitors({kLeft, kRight});
    const int32_t handle = NewHandle();
    const DisplayDeviceTable& table = DeviceTable();
    ASSERT_EQ(table.dwCount, 3u);
    EXPECT_EQ(table.wMonitorCount, 2u);
    EXPECT_EQ(table.entries[0]->pMonitorInfo, nullptr);
    for (DWORD i : {1u, 2u}) {
        const DisplayDevice& entry = *table.entries[i];
        const GUID expected = platform::FakeDeviceGuid(static_cast<int>(i));
        EXPECT_EQ(std::memcmp(&entry.guid, &expected, sizeof(GUID)), 0);
        ASSERT_NE(entry.pMonitorInfo, nullptr);
        EXPECT_EQ(entry.pMonitorInfo->cbSize, 72u);
        EXPECT_EQ(entry.pMonitorInfo->rcMonitor, i == 1 ? kLeft : kRight);
    }
    EXPECT_EQ(EngineOf(handle)->DesktopBounds(), (RECT{0, 0, 3200, 1080}));

    // Monitors left of and above the origin widen the desktop there.
    UseNewFake();
    Fake().SetMonitors({RECT{0, 0, 1920, 1080}, RECT{-1280, -200, 0, 824}});
    EXPECT_EQ(EngineOf(NewHandle())->DesktopBounds(), (RECT{-1280, -200, 1920, 1080}));
}

TEST_F(DeviceTableTest, FiveDevicesKeepTheFirstFourAndStopTheEnumeration) {
    Fake().SetMonitors({RECT{0, 0, 100, 100}, RECT{100, 0, 200, 100}, RECT{200, 0, 300, 100},
                        RECT{300, 0, 400, 100}});
    ASSERT_EQ(Fake().Devices().size(), 5u);
    const int32_t handle = NewHandle();
    const DisplayDeviceTable& table = DeviceTable();
    EXPECT_EQ(table.dwCount, 4u);
    EXPECT_EQ(table.wMonitorCount, 3u);
    EXPECT_EQ(Fake().EnumeratedCallbacks(), 5);
    EXPECT_TRUE(Fake().EnumerationStopped());
    EXPECT_EQ(table.entries[3]->pMonitorInfo->rcMonitor, (RECT{200, 0, 300, 100}));
    EXPECT_EQ(Fake().CountCalls("DirectDrawCreateEx"), 4u);
    // The fourth monitor was never taken in, so it does not widen the desktop.
    EXPECT_EQ(EngineOf(handle)->DesktopBounds().right, 300);
}

TEST_F(DeviceTableTest, OnlyAFullyCapableDeviceUsesVideoMemory) {
    Fake().SetMonitors({kLeft, kRight});
    Fake().Devices()[2].dwFXCaps &= ~DWORD{DDFXCAPS_BLTSHRINKY};
    const int32_t handle = NewHandle();
    EXPECT_EQ(DeviceTable().entries[2]->dwCapabilities, kFullyCapable & ~kCapShrinkY);
    EXPECT_TRUE(EngineOf(handle)->DeviceSet(1)->bVideoMemory);
    EXPECT_FALSE(EngineOf(handle)->DeviceSet(2)->bVideoMemory);
}

TEST_F(DeviceTableTest, MissingDirectDrawOrDevicesAreReportedAndInitFails) {
    struct Case {
        const char* what;
        void (*script)(platform::FakeBackend&);
        LONG setup;
    };
    const Case cases[] = {
        {"not loaded", [](platform::FakeBackend& f) { f.SetDirectDrawLoaded(false); },
         ORVD_E_NOT_READY},
        {"no enumeration", [](platform::FakeBackend& f) { f.SetHasEnumerateEx(false); },
         ORVD_E_UNSUPPORTED},
        {"no device", [](platform::FakeBackend& f) { f.Devices().clear(); }, ORVD_E_NOT_READY},
    };
    for (const Case& c : cases) {
        UseNewFake();
        c.script(Fake());
        EXPECT_EQ(SetUpDevices(), c.setup) << c.what;
        EXPECT_EQ(DeviceTable().dwCount, 0u) << c.what;
        DDrawDisplayEngine engine;
        EXPECT_EQ(engine.Init(), ORVD_E_DDRAW) << c.what;
        EXPECT_FALSE(engine.IsInitialised()) << c.what;
    }
}

TEST_F(DeviceTableTest, AFailingSetUpStepReleasesEverythingMadeBeforeIt) {
    const char* steps[] = {"DirectDrawCreateEx",          "IDirectDraw7::SetCooperativeLevel",
                           "IDirectDraw7::CreateSurface", "IDirectDraw7::GetCaps",
                           "IDirectDraw7::CreateClipper", "IDirectDrawSurface7::SetClipper"};
    for (const char* step : steps) {
        // The second monitor's step fails: the driver entry and the first monitor are complete.
        UseNewFake();
        Fake().SetMonitors({kLeft, kRight});
        Fake().FailCall(step, DDERR_GENERIC, 0, 1, /*device=*/2);
        EXPECT_EQ(SetUpDevices(), -1) << step;
        const DisplayDeviceTable& table = DeviceTable();
        EXPECT_EQ(table.dwCount, 0u) << step;
        EXPECT_EQ(table.wMonitorCount, 0u) << step;
        EXPECT_FALSE(table.bSetUp) << step;
        EXPECT_EQ(Fake().LiveObjects(), 0) << step;
        EXPECT_EQ(Fake().CountCalls("DirectDrawCreateEx"), 3u) << step;
        // The next attempt starts from an empty table and succeeds.
        EXPECT_EQ(SetUpDevices(), 0) << step;
        EXPECT_EQ(DeviceTable().dwCount, 3u) << step;
    }
}

TEST_F(DeviceTableTest, InitAfterAFailedSetUpReportsDirectDrawFailure) {
    Fake().FailCall("IDirectDraw7::CreateSurface", DDERR_OUTOFMEMORY);
    const int32_t handle = NewHandle();  // the handle is still handed out
    EXPECT_FALSE(EngineOf(handle)->IsInitialised());
    EXPECT_EQ(DeviceTable().dwCount, 0u);
    EXPECT_EQ(EngineOf(handle)->Init(), ORVD_OK);  // a later Init sets up again
    EXPECT_EQ(DeviceTable().dwCount, 1u);
}

}  // namespace
}  // namespace orvenna
