// The x11 backend: window functions on real windows, the devices of one monitor, of two defined
// with `xrandr --setmonitor` and of a second X screen; frames shown and read back from the screen
// (every format, scaling, bars, the callback's cairo output, several handles, a lost server), each
// test on a server of its own, so that windows of tests beside it cover nothing read back.
// GoogleTest before Xlib, whose macros (None, Bool) would break its templates.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <cairo.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/child_process.h"
#include "common/x11_readback.h"
#include "ddraw_engine.h"
#include "device_table.h"
#include "orvenna.h"
#include "orvenna_testing.h"
#include "platform/x11_backend.h"
#include "platform/x11_connection.h"
#include "reference_colour.h"
#include "test_pattern.h"

namespace orvenna {
namespace {

using orvenna_play::MakePatternFrame;

constexpr int kTolerance = 4;  // per channel: libyuv's fixed point against floating point

using testing::Distance;
using testing::Expected;
using testing::Rgb;

class X11Test : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char* saved = std::getenv("DISPLAY")) m_savedDisplay = saved;
        if (m_savedDisplay.empty()) GTEST_SKIP() << "no X display";
        if (!Screens().empty()) {
            ASSERT_TRUE(StartXvfb());
        }
        m_pDisplay = XOpenDisplay(nullptr);
        ASSERT_NE(m_pDisplay, nullptr);
        testing::UseBackendForTesting(std::make_shared<platform::X11Backend>());
    }
    void TearDown() override {
        testing::UseBackendForTesting(nullptr);
        if (m_pDisplay != nullptr) XCloseDisplay(m_pDisplay);
        m_xvfb.Stop();
        if (!m_savedDisplay.empty()) setenv("DISPLAY", m_savedDisplay.c_str(), 1);
    }
    // A server that keeps its monitors (-noreset), with the screens that the test asks for; it
    // becomes DISPLAY. None: the display the test got. The library draws on the first one only.
    virtual std::vector<std::string> Screens() const {
        return {"-screen", "0", "1024x768x24", "-screen", "1", "800x600x24"};
    }
    bool StartXvfb() {
        std::vector<std::string> arguments{"Xvfb",      "-displayfd", "3",
                                           "-nolisten", "tcp",        "-noreset"};
        for (const std::string& screen : Screens()) arguments.push_back(screen);
        if (!m_xvfb.Start(arguments, 3, /*quiet=*/true)) return false;
        const std::string number = m_xvfb.FirstLine();
        if (number.empty()) return false;
        setenv("DISPLAY", (":" + number).c_str(), 1);
        return true;
    }

    // A mapped window placed where asked, with or without a manager, with a white background, so
    // that anything not drawn shows.
    Window MakeWindow(int x, int y, unsigned width, unsigned height, Window parent = 0) {
        XSetWindowAttributes attributes{};
        attributes.override_redirect = True;
        attributes.background_pixel = WhitePixel(m_pDisplay, DefaultScreen(m_pDisplay));
        m_window = XCreateWindow(m_pDisplay, parent != 0 ? parent : DefaultRootWindow(m_pDisplay),
                                 x, y, width, height, 0, CopyFromParent, InputOutput,
                                 CopyFromParent, CWOverrideRedirect | CWBackPixel, &attributes);
        XMapRaised(m_pDisplay, m_window);
        XSync(m_pDisplay, False);
        m_windows.push_back(m_window);
        return m_window;
    }
    // A new handle on the last window made.
    int32_t NewHandle() {
        int32_t handle = -1;
        EXPECT_EQ(ORVD_InitByDisEngine(&handle, ORVD_ENGINE_DDRAW), ORVD_OK);
        EXPECT_EQ(ORVD_SetDisplayWindow(handle, m_window), ORVD_OK);
        return handle;
    }
    static DDrawDisplayEngine* EngineOf(int32_t handle) {
        return dynamic_cast<DDrawDisplayEngine*>(testing::EngineForTesting(handle));
    }
    int32_t Show(int32_t handle, uint32_t format, uint32_t w, uint32_t h, uint32_t n = 0) {
        m_frame = MakePatternFrame(format, w, h, n);
        tagORVD_FRAME frame{m_frame.data(), 0, format, w, h};
        return ORVD_DisplayFrame(handle, &frame);
    }
    using Box = std::array<LONG, 4>;
    static Box Corners(const RECT& r) { return {r.left, r.top, r.right, r.bottom}; }
    static Rgb Pixel(const kx_test::Screenshot& shot, int x, int y) {
        const uint32_t p = shot.At(x, y);
        return {static_cast<int>(p >> 16), static_cast<int>((p >> 8) & 0xFF),
                static_cast<int>(p & 0xFF)};
    }
    // Whether `window` shows pattern frame 0 of 80 x 60 in `format` scaled to fill it, at points
    // near its corners and on its middle column: inside the gradients (away from the box) the
    // picture is smooth, so each window pixel is close to the frame pixel it came from.
    void ExpectPattern(Window window, uint32_t format = ORVD_FORMAT_RGB32) {
        const kx_test::Screenshot shot = kx_test::ReadWindow(m_pDisplay, window);
        ASSERT_FALSE(shot.Empty());
        const int w = shot.width, h = shot.height;
        for (auto [x, y] : {std::pair{8, 8}, std::pair{w - 9, 10}, std::pair{10, h - 9},
                            std::pair{w - 9, h - 9}, std::pair{w / 2, 6}}) {
            const Rgb want = Expected(format, static_cast<uint32_t>(x) * 80 / w,
                                      static_cast<uint32_t>(y) * 60 / h, 80, 60, 0);
            EXPECT_LE(Distance(Pixel(shot, x, y), want), kTolerance + 8)
                << "window " << window << " at " << x << "," << y;
        }
    }
    void Xrandr(const std::string& arguments) {
        ASSERT_EQ(std::system(("xrandr " + arguments + " >/dev/null 2>&1").c_str()), 0)
            << arguments;
    }

    kx_test::ChildProcess m_xvfb;
    std::string m_savedDisplay;
    Display* m_pDisplay = nullptr;
    std::vector<Window> m_windows;
    Window m_window = 0;
    std::vector<uint8_t> m_frame;
};

// Window functions only: the display the tests got serves.
class X11WindowTest : public X11Test {
  protected:
    std::vector<std::string> Screens() const override { return {}; }
};

TEST_F(X11WindowTest, ATrapInsideATrapNeitherWaitsForItselfNorLosesAnError) {
    platform::X11Connection connection;
    connection.display = XOpenDisplay(nullptr);
    ASSERT_NE(connection.display, nullptr);
    const Window missing = 0x7FFFFFF0;
    XWindowAttributes attributes;
    {
        platform::X11ErrorTrap outer(connection.display);
        {
            platform::X11ErrorTrap inner(connection.display);
            EXPECT_EQ(XGetWindowAttributes(connection.display, missing, &attributes), 0);
        }
        EXPECT_TRUE(outer.Failed());  // an error inside the inner trap is the outer's too
        platform::X11ErrorTrap inner(connection.display);
        EXPECT_FALSE(inner.Failed());  // but the outer's is not the next inner trap's
        XMapWindow(connection.display, missing);
        EXPECT_TRUE(inner.Failed());
    }
    platform::X11ErrorTrap clean(connection.display);
    EXPECT_FALSE(clean.Failed());
}

// The library keeps what it knows of its window from the window's and its ancestors' events.
// Each change below is made on the test's own connection and seen done (XSync) before the
// library is called again: that very call must see it.
TEST_F(X11WindowTest, EveryChangeToTheWindowOrItsAncestorsIsSeenByTheNextCall) {
    int32_t handle = -1;
    ASSERT_EQ(ORVD_InitByDisEngine(&handle, ORVD_ENGINE_DDRAW), ORVD_OK);
    DDrawDisplayEngine* engine = EngineOf(handle);
    ASSERT_TRUE(engine->IsInitialised());
    // Xvfb's screen is one monitor unless monitors are defined: the driver entry alone.
    ASSERT_EQ(DeviceTable().dwCount, 1u);
    EXPECT_EQ(DeviceTable().entries[0]->pMonitorInfo, nullptr);
    EXPECT_EQ(DeviceTable().entries[0]->dwCapabilities, kFullyCapable);
    EXPECT_EQ(engine->DesktopBounds().right, DisplayWidth(m_pDisplay, DefaultScreen(m_pDisplay)));
    EXPECT_EQ(engine->DesktopBounds().bottom, DisplayHeight(m_pDisplay, DefaultScreen(m_pDisplay)));

    const Window outer = MakeWindow(100, 100, 800, 600);
    const Window parent = MakeWindow(10, 20, 700, 500, outer);
    const Window window = MakeWindow(5, 5, 320, 240, parent);
    const Window other = MakeWindow(300, 200, 400, 400);
    ASSERT_EQ(ORVD_SetDisplayWindow(handle, window), ORVD_OK);
    ASSERT_EQ(ORVD_RefreshDisplay(handle), ORVD_OK);
    EXPECT_EQ(Corners(engine->ScreenRect()), (Box{115, 125, 435, 365}));
    EXPECT_TRUE(engine->DeviceSet(0)->bVisible);
    EXPECT_EQ(Corners(engine->DeviceSet(0)->rcDest), (Box{115, 125, 435, 365}));

    struct Change {
        const char* what;
        std::function<void()> make;
        RECT screen;  // the client area on the screen; empty: not ready
    };
    Display* d = m_pDisplay;
    const Change changes[] = {
        {"window moved", [&] { XMoveWindow(d, window, 30, 40); }, {140, 160, 460, 400}},
        {"window resized", [&] { XResizeWindow(d, window, 200, 100); }, {140, 160, 340, 260}},
        {"parent moved", [&] { XMoveWindow(d, parent, 0, 0); }, {130, 140, 330, 240}},
        {"grandparent moved", [&] { XMoveWindow(d, outer, 50, 60); }, {80, 100, 280, 200}},
        {"reparented", [&] { XReparentWindow(d, parent, other, 1, 2); }, {331, 242, 531, 342}},
        {"its new grandparent moved", [&] { XMoveWindow(d, other, 0, 0); }, {31, 42, 231, 142}},
        {"the old grandparent moved", [&] { XMoveWindow(d, outer, 0, 0); }, {31, 42, 231, 142}},
        {"window unmapped", [&] { XUnmapWindow(d, window); }, {}},
        {"window mapped", [&] { XMapWindow(d, window); }, {31, 42, 231, 142}},
        {"grandparent unmapped", [&] { XUnmapWindow(d, other); }, {}},
        {"grandparent mapped", [&] { XMapWindow(d, other); }, {31, 42, 231, 142}},
        {"9 pixels high", [&] { XResizeWindow(d, window, 200, 9); }, {}},
        {"10 pixels high", [&] { XResizeWindow(d, window, 200, 10); }, {31, 42, 231, 52}},
        {"window destroyed", [&] { XDestroyWindow(d, window); }, {}},
    };
    for (const Change& change : changes) {
        SCOPED_TRACE(change.what);
        change.make();
        XSync(d, False);
        const bool ready = change.screen.right > 0;
        ASSERT_EQ(ORVD_RefreshDisplay(handle), ready ? ORVD_OK : ORVD_E_NOT_READY);
        if (!ready) continue;
        RECT window_rect{};
        ASSERT_TRUE(GetWindowRect(window, &window_rect));
        EXPECT_EQ(Corners(engine->ScreenRect()), Corners(change.screen));
        EXPECT_EQ(Corners(window_rect), Corners(change.screen));
    }
    // A window that is gone is no window, and the process goes on.
    for (HWND hwnd : {HWND{window}, HWND{0x7FFFFFF0}, HWND{0}}) {
        EXPECT_FALSE(IsWindow(hwnd));
        EXPECT_FALSE(IsWindowVisible(hwnd));
        RECT rect{};
        EXPECT_FALSE(GetClientRect(hwnd, &rect));
        POINT point{};
        EXPECT_FALSE(ClientToScreen(hwnd, &point));
    }
    EXPECT_EQ(ORVD_SetDisplayWindow(handle, window), ORVD_E_PARAM);
    EXPECT_EQ(ORVD_Release(handle), ORVD_OK);
}

// Windows that share an ancestor: when one of them goes (destroyed, or pushed out of the watch by
// the many windows asked about after it), the other still follows that ancestor.
TEST_F(X11WindowTest, AWindowThatGoesLeavesTheAncestorsItSharedFollowed) {
    const Window parent = MakeWindow(100, 100, 600, 400);
    const Window first = MakeWindow(10, 10, 100, 100, parent);
    const Window second = MakeWindow(200, 10, 100, 100, parent);
    auto left_of = [](Window window) {
        RECT rect{};
        EXPECT_TRUE(IsWindow(window));
        EXPECT_TRUE(GetWindowRect(window, &rect));
        return rect.left;
    };
    EXPECT_EQ(left_of(first), 110);
    EXPECT_EQ(left_of(second), 300);
    XDestroyWindow(m_pDisplay, first);
    XSync(m_pDisplay, False);
    EXPECT_FALSE(IsWindow(first));
    XMoveWindow(m_pDisplay, parent, 0, 0);
    XSync(m_pDisplay, False);
    EXPECT_EQ(left_of(second), 200);

    std::vector<Window> others;
    for (size_t i = 0; i < platform::X11WindowWatch::kMaxWatched; ++i) {
        others.push_back(MakeWindow(static_cast<int>(i), 0, 20, 20, parent));
        EXPECT_EQ(left_of(others.back()), static_cast<LONG>(i));
    }
    // `second` has been pushed out by now, and the windows that pushed it keep the parent.
    XMoveWindow(m_pDisplay, parent, 50, 0);
    XSync(m_pDisplay, False);
    EXPECT_EQ(left_of(others.back()), 50 + static_cast<LONG>(others.size() - 1));
    EXPECT_EQ(left_of(second), 250);
    XMoveWindow(m_pDisplay, parent, 70, 0);
    XSync(m_pDisplay, False);
    EXPECT_EQ(left_of(others.back()), 70 + static_cast<LONG>(others.size() - 1));
    XDestroyWindow(m_pDisplay, parent);
}

// Releases the handle on its second call, made for the window's part on the second monitor.
void ReleaseOnSecondCall(int32_t handle, ORVD_HDC /*dc*/, intptr_t user) {
    if (++*reinterpret_cast<int*>(user) == 2) ORVD_Release(handle);
}

// 1024 x 768 split into two monitors side by side, before the library first connects; then a
// window on the second X screen.
TEST_F(X11Test, EachMonitorIsADeviceAndAChangedLayoutRebuildsThem) {
    Xrandr("--setmonitor left 512/135x768/203+0+0 screen");
    Xrandr("--setmonitor right 512/135x768/203+512+0 none");
    const Window window = MakeWindow(600, 100, 320, 240);
    const int32_t handle = NewHandle();
    DDrawDisplayEngine* engine = EngineOf(handle);
    ASSERT_TRUE(engine->IsInitialised());
    const DisplayDeviceTable& table = DeviceTable();
    ASSERT_EQ(table.dwCount, 3u);
    EXPECT_EQ(table.wMonitorCount, 2u);
    EXPECT_EQ(table.entries[0]->hMonitor, nullptr);
    EXPECT_EQ(table.entries[1]->pMonitorInfo->rcMonitor.right, 512);
    EXPECT_EQ(table.entries[2]->pMonitorInfo->rcMonitor.left, 512);
    EXPECT_EQ(engine->DesktopBounds().right, 1024);
    EXPECT_EQ(ORVD_RefreshDisplay(handle), ORVD_OK);
    EXPECT_FALSE(engine->DeviceSet(1)->bVisible);
    EXPECT_TRUE(engine->DeviceSet(2)->bVisible);
    EXPECT_EQ(Corners(engine->DeviceSet(2)->rcDest), (Box{88, 100, 408, 340}));

    XMoveWindow(m_pDisplay, window, 400, 100);
    XSync(m_pDisplay, False);
    EXPECT_EQ(Show(handle, ORVD_FORMAT_RGB32, 80, 60), ORVD_OK);
    EXPECT_TRUE(engine->DeviceSet(1)->bVisible);
    EXPECT_TRUE(engine->DeviceSet(2)->bVisible);
    EXPECT_EQ(engine->DeviceSet(2)->rcDest.left, -112);

    // The left part's put waits to go out with the right part's, which never comes (a handle
    // released during the call reports it); the next call that checks a window sends it.
    XClearWindow(m_pDisplay, window);
    XSync(m_pDisplay, False);
    int calls = 0;
    ASSERT_EQ(
        ORVD_RegisterDCCallback(handle, &ReleaseOnSecondCall, reinterpret_cast<intptr_t>(&calls)),
        ORVD_OK);
    ASSERT_EQ(Show(handle, ORVD_FORMAT_RGB32, 80, 60), ORVD_E_NOT_READY);
    ASSERT_EQ(calls, 2);
    EXPECT_EQ(kx_test::ReadWindow(m_pDisplay, window).At(8, 8), 0xFFFFFFu);  // still white
    const int32_t other = NewHandle();
    const kx_test::Screenshot shot = kx_test::ReadWindow(m_pDisplay, window);
    ASSERT_FALSE(shot.Empty());
    EXPECT_LE(Distance(Pixel(shot, 8, 8), Expected(ORVD_FORMAT_RGB32, 2, 2, 80, 60, 0)),
              kTolerance + 8);
    EXPECT_EQ(shot.At(230, 8), 0xFFFFFFu);

    // The server announces the change with an event; the primary surfaces are lost for good once
    // it has come in, and the next frame finds that and makes the devices again.
    IDirectDrawSurface7* primary = table.entries[2]->pPrimary.Get();
    Xrandr("--delmonitor right");
    for (int i = 0; i < 50 && primary->IsLost() == DD_OK; ++i) usleep(20000);
    EXPECT_EQ(primary->IsLost(), DDERR_SURFACELOST);
    EXPECT_NE(primary->Restore(), DD_OK);
    EXPECT_EQ(Show(other, ORVD_FORMAT_RGB32, 80, 60), ORVD_E_DDRAW);
    EXPECT_EQ(DeviceTable().dwCount, 1u);  // one monitor left: the driver entry alone
    EXPECT_EQ(Show(other, ORVD_FORMAT_RGB32, 80, 60), ORVD_OK);

    // A window on the second X screen exists but has no place on this one.
    const Window elsewhere = MakeWindow(10, 10, 200, 100, RootWindow(m_pDisplay, 1));
    EXPECT_TRUE(IsWindow(elsewhere) && IsWindowVisible(elsewhere));
    RECT rect{};
    EXPECT_TRUE(GetClientRect(elsewhere, &rect));
    EXPECT_EQ(rect.right, 200);
    POINT point{};
    EXPECT_FALSE(ClientToScreen(elsewhere, &point));
    EXPECT_FALSE(GetWindowRect(elsewhere, &rect));
    ASSERT_EQ(ORVD_SetDisplayWindow(other, elsewhere), ORVD_OK);
    EXPECT_EQ(ORVD_RefreshDisplay(other), ORVD_E_NOT_READY);
}

TEST_F(X11Test, EveryFormatShowsItsPictureOrIsRefused) {
    const int w = 96, h = 64;
    MakeWindow(40, 30, w, h);
    for (uint32_t format = 0; format < ORVD_FORMAT_COUNT; ++format) {
        SCOPED_TRACE(orvenna_play::FormatName(format));
        const int32_t handle = NewHandle();  // each engine chooses its own substitute
        const int32_t result = Show(handle, format, w, h, 3);
        if (format == ORVD_FORMAT_YUV9) {
            // Neither the device nor a substitute takes it.
            EXPECT_EQ(result, ORVD_E_UNSUPPORTED);
        } else {
            ASSERT_EQ(result, ORVD_OK);
            const kx_test::Screenshot shot = kx_test::ReadWindow(m_pDisplay, m_window);
            ASSERT_EQ(shot.pixels.size(), static_cast<size_t>(w * h));
            int worst = 0;
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x) {
                    worst = std::max(worst,
                                     Distance(Pixel(shot, x, y), Expected(format, x, y, w, h, 3)));
                }
            }
            EXPECT_LE(worst, kTolerance);
        }
        EXPECT_EQ(ORVD_Release(handle), ORVD_OK);
    }
}

void DrawRedSquare(int32_t /*handle*/, ORVD_HDC dc, intptr_t user) {
    ++*reinterpret_cast<int*>(user);
    cairo_set_source_rgb(dc, 1, 0, 0);
    cairo_rectangle(dc, 20, 20, 40, 30);
    cairo_fill(dc);
}

// Three handles, left, right and across the middle of the screen: each scales its frame to its
// own window and at once to the window's new size, and each refresh draws its own window again,
// whichever handle drew last; the first one's callback draws its square over the frame.
TEST_F(X11Test, SeveralHandlesShowScaledAndRefreshEachInItsOwnWindow) {
    const uint32_t formats[] = {ORVD_FORMAT_UYVY, ORVD_FORMAT_RGB32, ORVD_FORMAT_RGB32};
    std::vector<int32_t> handles;
    for (auto [x, y, w, h] : {std::array{40, 40, 160, 120}, std::array{600, 40, 200, 150},
                              std::array{400, 300, 240, 180}}) {
        MakeWindow(x, y, w, h);
        handles.push_back(NewHandle());
    }
    int calls = 0;
    ASSERT_EQ(
        ORVD_RegisterDCCallback(handles[0], &DrawRedSquare, reinterpret_cast<intptr_t>(&calls)),
        ORVD_OK);
    auto expect_shown = [&] {
        for (size_t i = 0; i < handles.size(); ++i) ExpectPattern(m_windows[i], formats[i]);
        const kx_test::Screenshot shot = kx_test::ReadWindow(m_pDisplay, m_windows[0]);
        ASSERT_FALSE(shot.Empty());
        EXPECT_LE(Distance(Pixel(shot, 40, 35), Rgb{255, 0, 0}), 2);
    };
    for (size_t i = 0; i < handles.size(); ++i) {
        ASSERT_EQ(Show(handles[i], formats[i], 80, 60), ORVD_OK);
    }
    expect_shown();
    // Larger: the part that the first frame did not reach stays white until the next frame.
    XResizeWindow(m_pDisplay, m_windows[0], 320, 240);
    XSync(m_pDisplay, False);
    ASSERT_EQ(Show(handles[0], ORVD_FORMAT_UYVY, 80, 60), ORVD_OK);
    expect_shown();
    for (Window window : m_windows) XClearWindow(m_pDisplay, window);
    XSync(m_pDisplay, False);
    for (int32_t handle : handles) ASSERT_EQ(ORVD_RefreshDisplay(handle), ORVD_OK);
    expect_shown();
    EXPECT_EQ(calls, 3);

    // Wider than 4:3, fitted: black bars left and right of a 200 x 150 picture.
    XResizeWindow(m_pDisplay, m_windows[1], 400, 150);
    XSync(m_pDisplay, False);
    ASSERT_EQ(ORVD_SetDisplayMode(handles[1], 1), ORVD_OK);
    ASSERT_EQ(Show(handles[1], ORVD_FORMAT_RGB32, 64, 48), ORVD_OK);
    const kx_test::Screenshot shot = kx_test::ReadWindow(m_pDisplay, m_windows[1]);
    ASSERT_FALSE(shot.Empty());
    for (int x : {0, 50, 99, 300, 399}) {
        for (int y : {0, 75, 149}) EXPECT_EQ(shot.At(x, y), 0u) << x << "," << y;
    }
    EXPECT_LE(Distance(Pixel(shot, 110, 5), Expected(ORVD_FORMAT_RGB32, 3, 1, 64, 48, 0)),
              kTolerance + 4);
    for (int32_t handle : handles) ORVD_Release(handle);
}

int g_nHostIOErrors = 0;
int CountHostIOError(Display* /*display*/) {
    ++g_nHostIOErrors;
    return 0;
}
void KeepGoing(Display* /*display*/, void* /*data*/) {}

TEST_F(X11Test, ALostServerFailsEveryCallAndANewOneIsUsedOnceItAnswers) {
    // The host's own handlers: the library keeps them for the host's connection.
    XSetIOErrorHandler(&CountHostIOError);
    XSetIOErrorExitHandler(m_pDisplay, &KeepGoing, nullptr);
    MakeWindow(40, 30, 160, 120);
    const int32_t handle = NewHandle();
    ASSERT_EQ(Show(handle, ORVD_FORMAT_RGB32, 80, 60), ORVD_OK);

    m_xvfb.Kill();
    for (int frame = 0; frame < 3; ++frame) {
        EXPECT_NE(Show(handle, ORVD_FORMAT_RGB32, 80, 60), ORVD_OK) << frame;
        EXPECT_NE(ORVD_RefreshDisplay(handle), ORVD_OK) << frame;
    }
    EXPECT_NE(ORVD_SetDisplayWindow(handle, m_window), ORVD_OK);
    XSync(m_pDisplay, False);
    EXPECT_EQ(g_nHostIOErrors, 1);
    XCloseDisplay(m_pDisplay);
    m_pDisplay = nullptr;

    // A server again: the next call a second later connects to it.
    StartXvfb();
    ASSERT_TRUE(m_xvfb.Running());
    m_pDisplay = XOpenDisplay(nullptr);
    ASSERT_NE(m_pDisplay, nullptr);
    MakeWindow(40, 30, 160, 120);
    usleep(1100 * 1000);
    ASSERT_EQ(ORVD_SetDisplayWindow(handle, m_window), ORVD_OK);
    // The devices of the old server are found lost and made again on the new one.
    EXPECT_EQ(Show(handle, ORVD_FORMAT_RGB32, 80, 60), ORVD_E_DDRAW);
    ASSERT_EQ(Show(handle, ORVD_FORMAT_RGB32, 80, 60), ORVD_OK);
    ExpectPattern(m_window);
    ORVD_Release(handle);
}

}  // namespace
}  // namespace orvenna
