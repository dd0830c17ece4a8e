// Frame surfaces and presentation over the fake DirectDraw backend: the surface descriptions, the
// substitute formats, geometry changes, the display modes' rectangles and bars, the DC pass,
// several handles on one device, re-entry from the DC callback, and the diagnostic texts.
#include <gtest/gtest.h>

#include <cairo.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "fake_display_fixture.h"
#include "letterbox.h"

namespace orvenna {
namespace {

// The diagnostic texts go to standard error only when ORVENNA_DEBUG is set before the first one.
class DebugOutputOn : public ::testing::Environment {
  public:
    void SetUp() override { setenv("ORVENNA_DEBUG", "1", 1); }
};
const auto* const kDebugOn = ::testing::AddGlobalTestEnvironment(new DebugOutputOn);

// The setting is read once per process, so the silent case runs in a fresh process of its own.
TEST(DebugOutput, StaysSilentUnlessAskedFor) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            unsetenv("ORVENNA_DEBUG");
            OutputDebugStringA("main surface blt fail!\n");
            OutputDebugStringA(nullptr);
            std::fputs("end", stderr);
            std::fflush(stderr);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "^end$");
}

class PresentationTest : public FakeDisplayTest {
  protected:
    // One display with a window whose client area is `client` on the screen.
    void Open(RECT client = {100, 50, 740, 530}) { m_handle = NewHandleOn(client, &m_hWnd); }
    using FakeDisplayTest::Show;
    int32_t Show(unsigned format, uint32_t width, uint32_t height) {
        return FakeDisplayTest::Show(m_handle, format, width, height);
    }
    DDrawDisplayEngine* Engine() { return EngineOf(m_handle); }
    platform::FakeSurfaceState* FrameSurface() {
        const DeviceSurfaceSet* set = Engine()->DeviceSet(0);
        return set != nullptr ? Fake().Surface(set->pFrameSurface.Get()) : nullptr;
    }
    // CreateSurface calls for offscreen surfaces (not the primary ones).
    std::vector<platform::FakeCall> OffscreenCreates() {
        std::vector<platform::FakeCall> found;
        for (const auto& call : Fake().CallsNamed("IDirectDraw7::CreateSurface")) {
            if ((call.desc.ddsCaps.dwCaps & DDSCAPS_PRIMARYSURFACE) == 0) found.push_back(call);
        }
        return found;
    }
    std::vector<platform::FakeCall> Blts() { return Fake().CallsNamed("IDirectDrawSurface7::Blt"); }

    HWND m_hWnd = 0;
    int32_t m_handle = -1;
};

TEST_F(PresentationTest, MakesTheFrameSurfaceInTheFramesFormatAndCopiesItAtThePitch) {
    Open();
    Fake().Devices()[0].dwPitchPadding = 64;
    ASSERT_EQ(Show(ORVD_FORMAT_YV12, 640, 480), ORVD_OK);

    const auto creates = OffscreenCreates();
    ASSERT_EQ(creates.size(), 1u);
    EXPECT_EQ(creates[0].args, "flags=0x1007 caps=0x4040 w=640 h=480 format=YV12");
    EXPECT_EQ(Engine()->SubstituteFormat(), -1);

    // The copy goes by the locked surface's pitch: the last luma row and chroma row.
    platform::FakeSurfaceState* surface = FrameSurface();
    ASSERT_NE(surface, nullptr);
    const LONG pitch = surface->memory.Desc().lPitch;
    ASSERT_EQ(pitch, 704);
    const uint8_t* mem = surface->memory.Bytes().data();
    EXPECT_EQ(std::memcmp(mem + 479 * pitch, &m_frameBytes[479 * 640], 640), 0);
    EXPECT_EQ(std::memcmp(mem + 480 * pitch + 479 * (pitch / 2),
                          &m_frameBytes[640 * 480 + 479 * 320], 320),
              0);
    EXPECT_TRUE(surface->memory.GuardIntact());
    EXPECT_EQ(Fake().CountCalls("IDirectDrawSurface7::Unlock"), 1u);
}

TEST_F(PresentationTest, TakesOneSubstitutePerEngine) {
    struct Row {
        unsigned format;
        std::set<DWORD> refused;
        int32_t result;
        int32_t substitute;
    };
    for (const Row& row :
         {Row{ORVD_FORMAT_RGB24, {24}, ORVD_OK, ORVD_FORMAT_RGB32},
          Row{ORVD_FORMAT_YVYU, {MAKEFOURCC('Y', 'V', 'Y', 'U')}, ORVD_OK, ORVD_FORMAT_YUY2},
          Row{ORVD_FORMAT_YV12, {MAKEFOURCC('Y', 'V', '1', '2')}, ORVD_OK, ORVD_FORMAT_IYUV},
          Row{ORVD_FORMAT_YV16, {MAKEFOURCC('Y', 'V', '1', '6')}, ORVD_OK, ORVD_FORMAT_YV12},
          Row{ORVD_FORMAT_UYVY, {MAKEFOURCC('U', 'Y', 'V', 'Y')}, ORVD_E_UNSUPPORTED, -1},
          // Shown, though nothing is copied into its surface.
          Row{ORVD_FORMAT_YUV9, {}, ORVD_OK, -1}}) {
        SCOPED_TRACE(row.format);
        UseNewFake();
        Open();
        Fake().Devices()[0].refusedFormats = row.refused;
        EXPECT_EQ(Show(row.format, 4, 2), row.result);
        EXPECT_EQ(Engine()->SubstituteFormat(), row.substitute);
        EXPECT_EQ(OffscreenCreates().size(), row.substitute >= 0 ? 2u : 1u);
        EXPECT_EQ(FrameSurface() != nullptr, row.result == ORVD_OK);
    }
    // A new size makes the surface again in the substitute recorded for RGB24.
    UseNewFake();
    Open();
    Fake().Devices()[0].refusedFormats = {24, MAKEFOURCC('Y', 'V', 'Y', 'U')};
    ASSERT_EQ(Show(ORVD_FORMAT_RGB24, 3, 2), ORVD_OK);
    Fake().ClearCalls();
    ASSERT_EQ(Show(ORVD_FORMAT_RGB24, 33, 20), ORVD_OK);
    const auto creates = OffscreenCreates();
    ASSERT_EQ(creates.size(), 2u);
    EXPECT_EQ(creates[0].desc.ddpfPixelFormat.dwRGBBitCount, 24u);
    EXPECT_EQ(creates[1].desc.ddpfPixelFormat.dwRGBBitCount, 32u);
    // Another refused format finds the substitute taken: refused, and nothing stored.
    EXPECT_EQ(Show(ORVD_FORMAT_YVYU, 32, 20), ORVD_E_UNSUPPORTED);
    EXPECT_EQ(FrameSurface(), nullptr);
    EXPECT_EQ(Engine()->SubstituteFormat(), ORVD_FORMAT_RGB32);
}

TEST_F(PresentationTest, ANewShapeMakesEverySurfaceAgain) {
    Fake().SetMonitors({RECT{0, 0, 1000, 800}, RECT{1000, 0, 2000, 800}});
    Open(RECT{900, 100, 1100, 300});  // across both monitors

    ASSERT_EQ(Show(ORVD_FORMAT_UYVY, 64, 48), ORVD_OK);
    EXPECT_EQ(OffscreenCreates().size(), 2u);  // one per visible monitor
    ASSERT_EQ(Show(ORVD_FORMAT_UYVY, 64, 48), ORVD_OK);
    EXPECT_EQ(OffscreenCreates().size(), 2u);  // same shape: copy and present only
    ASSERT_EQ(Show(ORVD_FORMAT_YUY2, 64, 48), ORVD_OK);
    EXPECT_EQ(OffscreenCreates().size(), 4u);  // same size, other format
    ASSERT_EQ(Show(ORVD_FORMAT_YUY2, 64, 50), ORVD_OK);
    EXPECT_EQ(OffscreenCreates().size(), 6u);
    EXPECT_EQ(Fake().CountCalls("IDirectDrawSurface7::Lock"), 8u);
}

TEST(DisplayModes, GiveTheirDestinationsAndBars) {
    struct Case {
        uint32_t mode;
        RECT window;
        std::vector<RECT> fit;  // the destination, then the bars
    };
    const Case cases[] = {
        // 16:9 in 800 x 600: bars of 75 above and below.
        {2, {100, 50, 900, 650}, {{100, 125, 900, 575}, {100, 50, 900, 125}, {100, 575, 900, 650}}},
        // 4:3 in 640 x 480: the whole window, two empty bars.
        {1, {10, 20, 650, 500}, {{10, 20, 650, 500}, {10, 20, 650, 20}, {10, 500, 650, 500}}},
        // 4:3 in 1000 x 480: bars of 180 left and right.
        {1, {0, 0, 1000, 480}, {{180, 0, 820, 480}, {0, 0, 180, 480}, {820, 0, 1000, 480}}},
        // 4:3 left of and above the primary monitor.
        {1, {-100, -48, 0, 0}, {{-82, -48, -18, 0}, {-100, -48, -82, 0}, {-18, -48, 0, 0}}},
        // 16:9 rounds the picture height down.
        {2, {0, 0, 101, 100}, {{0, 22, 101, 78}, {0, 0, 101, 22}, {0, 78, 101, 100}}},
        // Fill: the window, no bars; any other mode: empty.
        {0, {5, 6, 300, 200}, {{5, 6, 300, 200}}},
        {7, {5, 6, 300, 200}, {{0, 0, 0, 0}}},
    };
    for (const Case& c : cases) {
        const AspectFit fit = DestinationForMode(c.mode, c.window);
        std::vector<RECT> got{fit.dest};
        got.insert(got.end(), fit.bars, fit.bars + fit.bar_count);
        EXPECT_EQ(got, c.fit) << "mode " << c.mode << " in " << c.window;
    }
    // Aspects that are not positive give an empty destination.
    const AspectFit fit = FitAspectRect(RECT{0, 0, 640, 480}, 0, 3);
    EXPECT_EQ(fit.dest, (RECT{0, 0, 0, 0}));
    EXPECT_EQ(fit.bar_count, 0);
}

TEST_F(PresentationTest, DisplayModesFillTheBarsBlackThenBlitThePicture) {
    Open(RECT{100, 50, 900, 650});
    for (uint32_t mode : {2u, 7u}) {
        ASSERT_EQ(ORVD_SetDisplayMode(m_handle, mode), ORVD_OK);
        ASSERT_EQ(Show(ORVD_FORMAT_RGB565, 32, 24), ORVD_OK);
    }
    std::vector<std::string> blts;
    for (const auto& blt : Blts()) {
        blts.push_back(blt.args);
        EXPECT_TRUE(!blt.bHasFx || blt.fx.dwSize == sizeof(DDBLTFX));
    }
    // Mode 2: the bars filled black (0x400: a colour fill), then the frame surface whole into the
    // fitted rectangle; mode 7 is none: an empty rectangle.
    EXPECT_EQ(blts, (std::vector<std::string>{
                        "dst=(100,50,900,125) src=0 srcrect=null flags=0x1000400 fill=0x0",
                        "dst=(100,575,900,650) src=0 srcrect=null flags=0x1000400 fill=0x0",
                        "dst=(100,125,900,575) src=4 srcrect=null flags=0x1000000",
                        "dst=(0,0,0,0) src=4 srcrect=null flags=0x1000000"}));
}

// Logs the handle of each call that got a usable cairo context (-1 for one that did not).
void RecordCallback(int32_t handle, ORVD_HDC dc, intptr_t user) {
    const bool usable = dc != nullptr && cairo_status(dc) == CAIRO_STATUS_SUCCESS;
    reinterpret_cast<std::vector<int32_t>*>(user)->push_back(usable ? handle : -1);
}

TEST_F(PresentationTest, TheDcPassDrawsThroughANarrowerRgb32Surface) {
    Open();  // client area 640 x 480
    std::vector<int32_t> log;
    ASSERT_EQ(ORVD_RegisterDCCallback(m_handle, &RecordCallback, reinterpret_cast<intptr_t>(&log)),
              ORVD_OK);
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(Show(ORVD_FORMAT_UYVY, 64, 48), ORVD_OK);
    const std::string texts = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(texts, "dc off blt success!\nmain surface blt success!\n");

    const auto creates = OffscreenCreates();
    ASSERT_EQ(creates.size(), 2u);
    // In video memory: the fake device is fully capable.
    EXPECT_EQ(creates[1].args, "flags=0x11007 caps=0x4040 w=639 h=480 format=RGB32");
    const DDSURFACEDESC2& dc = creates[1].desc;
    EXPECT_EQ(dc.ddckCKSrcBlt.dwColorSpaceLowValue, 0u);
    EXPECT_EQ(dc.ddckCKSrcBlt.dwColorSpaceHighValue, 0u);
    EXPECT_EQ(log, std::vector<int32_t>{m_handle});

    const auto blts = Blts();
    ASSERT_EQ(blts.size(), 2u);
    EXPECT_FALSE(blts[0].bHasDest);  // frame surface onto the DC surface, whole onto whole
    EXPECT_EQ(blts[0].flags, 0x1000000u);
    const int dc_surface = Fake().Surface(Engine()->DeviceSet(0)->pDCSurface.Get())->id;
    EXPECT_EQ(blts[1].srcObject, dc_surface);  // the screen gets the drawn copy

    // Refreshing runs the pass again without a new copy; moving the window makes the DC surface
    // again.
    Fake().ClearCalls();
    ASSERT_EQ(ORVD_RefreshDisplay(m_handle), ORVD_OK);
    EXPECT_EQ(log, (std::vector<int32_t>{m_handle, m_handle}));
    EXPECT_EQ(Blts().size(), 2u);
    EXPECT_EQ(Fake().CountCalls("IDirectDrawSurface7::Lock"), 0u);
    EXPECT_TRUE(OffscreenCreates().empty());
    Fake().MoveWindow(m_hWnd, RECT{200, 50, 840, 530});
    ASSERT_EQ(ORVD_RefreshDisplay(m_handle), ORVD_OK);
    EXPECT_EQ(OffscreenCreates().size(), 1u);

    // On a lesser device the DC surface lives in system memory; a failed blit is reported.
    UseNewFake();
    Fake().Devices()[0].dwCaps &= ~DDCAPS_BLTSTRETCH;
    Open();
    ORVD_RegisterDCCallback(m_handle, &RecordCallback, reinterpret_cast<intptr_t>(&log));
    Fake().FailCall("IDirectDrawSurface7::Blt", DDERR_GENERIC, /*skip=*/1);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(Show(ORVD_FORMAT_RGB32, 16, 16), ORVD_E_DDRAW);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "dc off blt success!\nmain surface blt fail!\n");
    EXPECT_EQ(OffscreenCreates()[1].desc.ddsCaps.dwCaps, 0x840u);
}

TEST_F(PresentationTest, MalformedFramesAreRefusedAndTheNextGoodOneIsShown) {
    Open();
    struct Row {
        const char* what;
        uint32_t format, width, height;
        bool bytes;
    };
    for (const Row& row :
         {Row{"no bytes", ORVD_FORMAT_UYVY, 64, 48, false},
          Row{"width 0", ORVD_FORMAT_UYVY, 0, 48, true},
          Row{"height 0", ORVD_FORMAT_RGB32, 64, 0, true}, Row{"format 14", 14, 64, 48, true},
          Row{"format 0xFFFFFFFF", 0xFFFFFFFFu, 64, 48, true},
          Row{"wider than a copy takes", ORVD_FORMAT_RGB32, 40000, 4, true},
          Row{"taller than a copy takes", ORVD_FORMAT_YUY2, 4, 40000, true}}) {
        SCOPED_TRACE(row.what);
        m_frameBytes.assign(static_cast<size_t>(row.width) * row.height * 4 + 1, 0x55);
        tagORVD_FRAME frame{row.bytes ? m_frameBytes.data() : nullptr, 0, row.format, row.width,
                            row.height};
        EXPECT_LT(ORVD_DisplayFrame(m_handle, &frame), 0);
        EXPECT_EQ(Show(ORVD_FORMAT_UYVY, 64, 48), ORVD_OK);
    }
    EXPECT_EQ(ORVD_DisplayFrame(m_handle, nullptr), ORVD_E_PARAM);
}

// What the DC callback below does once, from inside the pass of handle 0.
struct ReentryScript {
    platform::FakeBackend* fake;
    HWND window;  // handle 0's
    enum { kReleaseOwn, kGrowAndShowOwn, kShowOther } action;
    int calls = 0;
};

void ReenterCallback(int32_t handle, ORVD_HDC dc, intptr_t user) {
    auto* script = reinterpret_cast<ReentryScript*>(user);
    cairo_set_source_rgb(dc, 1, 0, 0);
    cairo_paint(dc);
    if (script->calls++ != 1) return;  // the first pass only draws
    std::vector<uint8_t> bytes(64 * 48 * 2, 0x80);
    tagORVD_FRAME frame{bytes.data(), 0, ORVD_FORMAT_UYVY, 64, 48};
    switch (script->action) {
        case ReentryScript::kReleaseOwn:
            EXPECT_EQ(ORVD_Release(handle), ORVD_OK);
            break;
        case ReentryScript::kGrowAndShowOwn:
            script->fake->MoveWindow(script->window, RECT{50, 50, 650, 500});
            EXPECT_EQ(ORVD_DisplayFrame(handle, &frame), ORVD_OK);
            break;
        case ReentryScript::kShowOther:
            EXPECT_EQ(ORVD_DisplayFrame(1, &frame), ORVD_OK);
            break;
    }
}

TEST_F(PresentationTest, TheDcCallbackMayCallBackIntoItsOwnAndOtherHandles) {
    for (auto action :
         {ReentryScript::kReleaseOwn, ReentryScript::kGrowAndShowOwn, ReentryScript::kShowOther}) {
        SCOPED_TRACE(static_cast<int>(action));
        UseNewFake();
        HWND windows[2];
        for (int32_t i = 0; i < 2; ++i)
            NewHandleOn(RECT{50 + 300 * i, 50, 250 + 300 * i, 200}, &windows[i]);
        ASSERT_EQ(Show(1, ORVD_FORMAT_UYVY, 64, 48), ORVD_OK);
        ReentryScript script{&Fake(), windows[0], action};
        ASSERT_EQ(ORVD_RegisterDCCallback(0, &ReenterCallback, reinterpret_cast<intptr_t>(&script)),
                  ORVD_OK);
        ASSERT_EQ(Show(0, ORVD_FORMAT_UYVY, 64, 48), ORVD_OK);
        Fake().ClearCalls();
        const int32_t after = action == ReentryScript::kReleaseOwn ? ORVD_E_NOT_READY : ORVD_OK;
        EXPECT_EQ(Show(0, ORVD_FORMAT_UYVY, 64, 48), after);
        // Each blit onto the screen goes to the window of the device's one clipper at that
        // moment: the outer pass goes on into its own window, not into the one handle 1 bound.
        std::vector<HWND> into;
        HWND bound = 0;
        for (const auto& call : Fake().Calls()) {
            if (call.method == "IDirectDrawClipper::SetHWnd") bound = call.hwnd;
            if (call.method == "IDirectDrawSurface7::Blt" && call.bHasDest) into.push_back(bound);
        }
        if (action == ReentryScript::kShowOther) {
            EXPECT_EQ(into, (std::vector<HWND>{windows[1], windows[0]}));
        }
        EXPECT_EQ(ORVD_RefreshDisplay(0), after);
    }
}

}  // namespace
}  // namespace orvenna
