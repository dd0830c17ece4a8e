// The handle table and the device table through the exports: range checks, handing out and
// reusing indices, slots without an engine, the setters' checks; what the enumeration puts in the
// device table, and failing set-ups that must release everything made before them. Following the
// window: which windows can be drawn to, and where each device draws it on one display and across
// monitors. Recovery after DirectDraw reports a lost surface: restoring in place, rebuilding the
// shared device table and every engine's surfaces, waiting for a device, and one that never comes
// back.
#include <atomic>
#include <cstring>
#include <thread>

#include "device_table.h"
#include "fake_display_fixture.h"
#include "handle_table.h"
#include "platform/com_object.h"

namespace orvenna {
namespace {

using TablesTest = FakeDisplayTest;
using PlacementTest = FakeDisplayTest;
using platform::FakeBackend;

constexpr int32_t kUnwritten = 4242;
constexpr int32_t kNoEngine = ORVD_E_NOT_READY;
const RECT kLeft{0, 0, 1920, 1080};
const RECT kRight{1920, 0, 3840, 1024};
const RECT kUpperLeft{-1280, -200, 0, 824};  // the desktop: (-1280, -200) to (1920, 1080)
const RECT kHidden{-1, -1, -1, -1};          // the device does not draw the window

void ORVD_CALL IgnoreDC(int32_t, ORVD_HDC, intptr_t) {}

// Each export other than ORVD_InitByDisEngine, called on `handle`, with what it answers for a
// slot without an engine (the arguments are not looked at then). Release comes last.
struct ExportCase {
    const char* name;
    int32_t (*call)(int32_t handle);
    int32_t without_engine;
};

const ExportCase kExports[] = {
    {"SetDisplayWindow", [](int32_t h) { return ORVD_SetDisplayWindow(h, 0x1000); }, kNoEngine},
    {"SetDisplayRect", [](int32_t h) { return ORVD_SetDisplayRect(h, nullptr); }, kNoEngine},
    {"DisplayFrame", [](int32_t h) { return ORVD_DisplayFrame(h, nullptr); }, kNoEngine},
    {"RefreshDisplay", [](int32_t h) { return ORVD_RefreshDisplay(h); }, kNoEngine},
    {"SetRotationAngle", [](int32_t h) { return ORVD_SetRotationAngle(h, 90); }, kNoEngine},
    {"RegisterDCCallback", [](int32_t h) { return ORVD_RegisterDCCallback(h, &IgnoreDC, 7); },
     ORVD_OK},
    {"SetDisplayMode", [](int32_t h) { return ORVD_SetDisplayMode(h, 1); }, ORVD_OK},
    {"Release", [](int32_t h) { return ORVD_Release(h); }, ORVD_OK},
};

TEST_F(TablesTest, HandlesOutsideTheTableAreRefusedBeforeAnythingElse) {
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

// Every refusal leaves the handle unwritten and gives its index up again.
TEST_F(TablesTest, HandsOutTheLowestFreeIndexUntilTheTableIsFull) {
    EXPECT_EQ(ORVD_InitByDisEngine(nullptr, ORVD_ENGINE_DDRAW), ORVD_E_PARAM);
    EXPECT_EQ(testing::SlotStateForTesting(0), kSlotNeverUsed);
    for (int32_t expected : {0, 1, 2}) EXPECT_EQ(NewHandle(), expected);
    EXPECT_EQ(ORVD_Release(1), ORVD_OK);
    EXPECT_EQ(ORVD_Release(0), ORVD_OK);
    EXPECT_EQ(testing::SlotStateForTesting(0), kSlotReleased);
    for (int32_t expected : {0, 1, 3}) EXPECT_EQ(NewHandle(), expected);
    EXPECT_EQ(testing::SlotStateForTesting(0), kSlotEngine);

    for (auto [kind, expected] : {std::pair{1, ORVD_E_UNSUPPORTED},
                                  std::pair{2, ORVD_E_UNSUPPORTED}, std::pair{3, ORVD_E_FAIL},
                                  std::pair{-1, ORVD_E_FAIL}, std::pair{INT32_MIN, ORVD_E_FAIL}}) {
        int32_t handle = kUnwritten;
        EXPECT_EQ(ORVD_InitByDisEngine(&handle, static_cast<tagORVD_ENGINE>(kind)), expected)
            << kind;
        EXPECT_EQ(handle, kUnwritten) << kind;
        EXPECT_EQ(testing::SlotStateForTesting(4), kSlotReleased) << kind;
    }
    testing::FailAllocationsForTesting(1, 0);  // the slot: the next index is tried
    EXPECT_EQ(NewHandle(), 5);
    EXPECT_EQ(testing::SlotStateForTesting(4), kSlotReleased);
    testing::FailAllocationsForTesting(0, 1);  // the engine: refused, the index released
    int32_t handle = kUnwritten;
    EXPECT_EQ(ORVD_InitByDisEngine(&handle, ORVD_ENGINE_DDRAW), ORVD_E_FAIL);
    EXPECT_EQ(handle, kUnwritten);
    EXPECT_EQ(testing::SlotStateForTesting(4), kSlotReleased);

    EXPECT_EQ(NewHandle(), 4);
    for (int32_t expected = 6; expected < ORVD_MAX_HANDLES; ++expected) {
        ASSERT_EQ(NewHandle(), expected);
    }
    EXPECT_EQ(ORVD_InitByDisEngine(&handle, ORVD_ENGINE_DDRAW), ORVD_E_FAIL);
    EXPECT_EQ(handle, kUnwritten);
    EXPECT_EQ(ORVD_Release(321), ORVD_OK);
    EXPECT_EQ(NewHandle(), 321);
}

// An index that a lookup filled on demand is skipped until released; a released index, handed
// out before or never used, answers as a slot without an engine and is not filled again.
TEST_F(TablesTest, SlotsWithoutAnEngineAnswerForOneAndKeepTheirState) {
    EXPECT_EQ(ORVD_SetDisplayWindow(7, Fake().AddWindow({0, 0, 100, 100})), ORVD_E_NOT_READY);
    EXPECT_EQ(testing::SlotStateForTesting(7), kSlotOnDemand);
    EXPECT_EQ(testing::EngineForTesting(7), nullptr);
    for (int32_t expected = 0; expected < 7; ++expected) EXPECT_EQ(NewHandle(), expected);
    EXPECT_EQ(NewHandle(), 8);
    for (const ExportCase& e : kExports) {
        if (&e == &kExports[7]) continue;
        EXPECT_EQ(e.call(7), e.without_engine) << e.name;
        EXPECT_EQ(testing::SlotStateForTesting(7), kSlotOnDemand) << e.name;
    }
    EXPECT_EQ(ORVD_Release(7), ORVD_OK);
    EXPECT_EQ(NewHandle(), 7);

    for (const int32_t handle : {0, 42}) {
        EXPECT_EQ(ORVD_Release(handle), ORVD_OK);
        for (const ExportCase& e : kExports) {
            EXPECT_EQ(e.call(handle), e.without_engine) << e.name;
            EXPECT_EQ(testing::SlotStateForTesting(handle), kSlotReleased) << e.name;
        }
    }
}

TEST_F(TablesTest, SettersKeepTheOldValueWhenRefusedAndAnExceptionFreesTheLock) {
    const int32_t handle = NewHandle();
    const HWND window = Fake().AddWindow({0, 0, 100, 100});
    const HWND gone = Fake().AddWindow({0, 0, 100, 100});
    Fake().DestroyWindow(gone);
    EXPECT_EQ(ORVD_SetDisplayWindow(handle, window), ORVD_OK);
    for (HWND bad : {HWND{0}, gone, HWND{0xDEAD}}) {
        EXPECT_EQ(ORVD_SetDisplayWindow(handle, bad), ORVD_E_PARAM);
        EXPECT_EQ(EngineOf(handle)->Window(), window);
    }

    tagRECT good{10, 20, 30, 40};
    EXPECT_EQ(ORVD_SetDisplayRect(handle, &good), ORVD_OK);
    for (tagRECT rect : {tagRECT{-1, 0, 10, 10}, tagRECT{0, -1, 10, 10}, tagRECT{0, 0, -1, 10},
                         tagRECT{0, 0, 10, -1}, tagRECT{INT32_MIN, 0, 0, 0}}) {
        EXPECT_EQ(ORVD_SetDisplayRect(handle, &rect), ORVD_E_PARAM);
        EXPECT_EQ(EngineOf(handle)->DisplayRect(), (RECT{10, 20, 30, 40}));
    }
    EXPECT_EQ(ORVD_SetDisplayRect(handle, nullptr), ORVD_OK);
    EXPECT_EQ(EngineOf(handle)->DisplayRect(), (RECT{0, 0, 0, 0}));

    // An exception inside the engine becomes a failure and frees the lock.
    Fake().SetWindowCallsThrow(true);
    EXPECT_EQ(ORVD_SetDisplayWindow(handle, window), ORVD_E_FAIL);
    Fake().SetWindowCallsThrow(false);
    std::atomic<int32_t> from_other_thread{1};
    std::thread other([&] { from_other_thread = ORVD_SetDisplayMode(handle, 1); });
    other.join();
    EXPECT_EQ(from_other_thread.load(), ORVD_OK);
}

TEST_F(TablesTest, OneDisplayIsTheDriverEntryAloneMadeOncePerProcess) {
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
    EXPECT_EQ(engine->DesktopBounds(), (RECT{0, 0, 1600, 900}));  // the screen
    ASSERT_NE(engine->DeviceSet(0), nullptr);
    EXPECT_TRUE(engine->DeviceSet(0)->bVideoMemory);
    EXPECT_EQ(engine->DeviceSet(1), nullptr);

    std::vector<std::string> calls;
    for (const platform::FakeCall& call : Fake().Calls())
        calls.push_back(call.method + " " + call.args);
    // Attached secondary devices enumerated; the normal cooperative level; the primary surface.
    EXPECT_EQ(calls, (std::vector<std::string>{
                         "DirectDrawEnumerateExA flags=0x1", "DirectDrawCreateEx device=0",
                         "IDirectDraw7::SetCooperativeLevel hwnd=0x0 flags=0x8",
                         "IDirectDraw7::CreateSurface flags=0x1 caps=0x200 w=0 h=0 format=none",
                         "IDirectDraw7::GetCaps driver=yes hel=null",
                         "IDirectDraw7::CreateClipper flags=0x0",
                         "IDirectDrawSurface7::SetClipper clipper=3"}));

    NewHandle();
    EXPECT_EQ(SetUpDevices(), 0);
    EXPECT_EQ(Fake().CountCalls("DirectDrawEnumerateExA"), 1u);
    EXPECT_EQ(Fake().CountCalls("DirectDrawCreateEx"), 1u);
    // An offscreen surface asked for without a pixel format is in the display's: 32-bit RGB.
    DDSURFACEDESC2 desc{};
    desc.dwSize = sizeof(desc);
    desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
    desc.dwWidth = desc.dwHeight = 64;
    desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN;
    IDirectDrawSurface7* surface = nullptr;
    ASSERT_EQ(entry.pDirectDraw->CreateSurface(&desc, &surface, nullptr), DD_OK);
    ASSERT_EQ(surface->GetSurfaceDesc(&desc), DD_OK);
    EXPECT_EQ(desc.ddpfPixelFormat.dwRGBBitCount, 32u);
    surface->Release();
}

// Only a fully capable device makes its surfaces in video memory.
TEST_F(TablesTest, EachMonitorIsAnEntryBesideTheDriverEntryUpToFour) {
    Fake().SetMonitors({kLeft, kRight});
    Fake().Devices()[2].dwFXCaps &= ~DWORD{DDFXCAPS_BLTSHRINKY};
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
    EXPECT_EQ(EngineOf(handle)->DesktopBounds(), (RECT{0, 0, 3840, 1080}));
    EXPECT_EQ(table.entries[2]->dwCapabilities, kFullyCapable & ~kCapShrinkY);
    EXPECT_TRUE(EngineOf(handle)->DeviceSet(1)->bVideoMemory);
    EXPECT_FALSE(EngineOf(handle)->DeviceSet(2)->bVideoMemory);

    // Monitors left of and above the origin widen the desktop there.
    UseNewFake();
    Fake().SetMonitors({RECT{0, 0, 1920, 1080}, RECT{-1280, -200, 0, 824}});
    EXPECT_EQ(EngineOf(NewHandle())->DesktopBounds(), (RECT{-1280, -200, 1920, 1080}));

    // Five devices: the first four are kept and the enumeration stopped.
    UseNewFake();
    Fake().SetMonitors({RECT{0, 0, 100, 100}, RECT{100, 0, 200, 100}, RECT{200, 0, 300, 100},
                        RECT{300, 0, 400, 100}});
    ASSERT_EQ(Fake().Devices().size(), 5u);
    const int32_t five = NewHandle();
    EXPECT_EQ(DeviceTable().dwCount, 4u);
    EXPECT_EQ(DeviceTable().wMonitorCount, 3u);
    EXPECT_EQ(Fake().EnumeratedCallbacks(), 5);
    EXPECT_TRUE(Fake().EnumerationStopped());
    EXPECT_EQ(DeviceTable().entries[3]->pMonitorInfo->rcMonitor, (RECT{200, 0, 300, 100}));
    EXPECT_EQ(Fake().CountCalls("DirectDrawCreateEx"), 4u);
    // The fourth monitor was never taken in, so it does not widen the desktop.
    EXPECT_EQ(EngineOf(five)->DesktopBounds().right, 300);
}

// The handle is handed out all the same, with an engine that shows nothing until an Init sets up.
TEST_F(TablesTest, WithoutDevicesTheEngineGetsItsHandleButShowsNothing) {
    struct Case {
        const char* what;
        void (*script)(FakeBackend&);
        LONG setup;
    };
    const Case cases[] = {
        {"not loaded", [](FakeBackend& f) { f.SetDirectDrawLoaded(false); }, ORVD_E_NOT_READY},
        {"no enumeration", [](FakeBackend& f) { f.SetHasEnumerateEx(false); }, ORVD_E_UNSUPPORTED},
        {"no device", [](FakeBackend& f) { f.Devices().clear(); }, ORVD_E_NOT_READY},
        {"a set-up call fails",
         [](FakeBackend& f) {
             f.FailCall("IDirectDraw7::CreateSurface", DDERR_OUTOFMEMORY, 0, -1);
         },
         -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UseNewFake();
        c.script(Fake());
        EXPECT_EQ(SetUpDevices(), c.setup);
        EXPECT_EQ(DeviceTable().dwCount, 0u);
        const int32_t handle = NewHandle();
        EXPECT_EQ(handle, 0);
        EXPECT_FALSE(EngineOf(handle)->IsInitialised());
        EXPECT_EQ(ORVD_SetDisplayWindow(handle, Fake().AddWindow({0, 0, 100, 100})), ORVD_OK);
        EXPECT_EQ(Show(handle, ORVD_FORMAT_RGB32, 16, 16), ORVD_E_NOT_READY);
        EXPECT_EQ(EngineOf(handle)->Init(), ORVD_E_DDRAW);
    }
    Fake().ClearFailures();
    EXPECT_EQ(EngineOf(0)->Init(), ORVD_OK);
    EXPECT_EQ(DeviceTable().dwCount, 1u);
}

TEST_F(TablesTest, AFailingSetUpStepReleasesEverythingMadeBeforeIt) {
    for (const char* step : {"DirectDrawCreateEx", "IDirectDraw7::SetCooperativeLevel",
                             "IDirectDraw7::CreateSurface", "IDirectDraw7::GetCaps",
                             "IDirectDraw7::CreateClipper", "IDirectDrawSurface7::SetClipper"}) {
        // The second monitor's step fails: the driver entry and the first monitor are complete.
        SCOPED_TRACE(step);
        UseNewFake();
        Fake().SetMonitors({kLeft, kRight});
        Fake().FailCall(step, DDERR_GENERIC, 0, 1, /*device=*/2);
        EXPECT_EQ(SetUpDevices(), -1);
        const DisplayDeviceTable& table = DeviceTable();
        EXPECT_EQ(table.dwCount, 0u);
        EXPECT_EQ(table.wMonitorCount, 0u);
        EXPECT_FALSE(table.bSetUp);
        EXPECT_EQ(Fake().LiveObjects(), 0);
        EXPECT_EQ(Fake().CountCalls("DirectDrawCreateEx"), 3u);
        // The next attempt starts from an empty table and succeeds.
        EXPECT_EQ(SetUpDevices(), 0);
        EXPECT_EQ(DeviceTable().dwCount, 3u);
    }
}

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
    EXPECT_EQ(Show(handle, ORVD_FORMAT_UYVY, 64, 48), ORVD_E_NOT_READY);  // no window yet
    EXPECT_EQ(ORVD_RefreshDisplay(handle), ORVD_E_NOT_READY);

    const HWND hwnd = Fake().AddWindow(RECT{0, 0, 320, 240});
    EXPECT_EQ(ORVD_SetDisplayWindow(handle, hwnd), ORVD_OK);
    EXPECT_EQ(ORVD_RefreshDisplay(handle), ORVD_OK);  // before the first frame: nothing to draw
    Fake().SetWindowVisible(hwnd, false);
    EXPECT_EQ(ORVD_RefreshDisplay(handle), ORVD_E_NOT_READY);
    EXPECT_EQ(Show(handle, ORVD_FORMAT_UYVY, 64, 48), ORVD_E_NOT_READY);
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
