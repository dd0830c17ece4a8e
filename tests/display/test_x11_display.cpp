// Frames shown through the library on real X11 windows and read back from the screen: every
// format against a reference conversion, scaling, the black bars of the fitted modes and the
// drawing callback's cairo output, several handles, monitor changes and a lost server. Each test
// runs on a private Xvfb, so that windows of tests running beside it cannot cover the windows
// read back.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <cairo.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "common/child_process.h"
#include "common/x11_readback.h"
#include "orvenna.h"
#include "orvenna_testing.h"
#include "platform/x11_backend.h"
#include "reference_colour.h"
#include "test_pattern.h"

namespace orvenna {
namespace {

using orvenna_play::MakePatternFrame;

constexpr int kTolerance = 4;  // per channel: libyuv's fixed point against floating point

using testing::Distance;
using testing::Expected;
using testing::Rgb;

class X11DisplayTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no X display";
        m_savedDisplay = std::getenv("DISPLAY");
        StartXvfb();
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
    // A server of our own; where Xvfb cannot be started the tests use the display they got.
    void StartXvfb() {
        if (m_xvfb.Start()) setenv("DISPLAY", m_xvfb.Name().c_str(), 1);
    }

    // A mapped window with a white background, so that anything not drawn shows.
    Window AddWindow(int x, int y, int width, int height) {
        XSetWindowAttributes attributes{};
        attributes.override_redirect = True;
        attributes.background_pixel = WhitePixel(m_pDisplay, DefaultScreen(m_pDisplay));
        m_window = XCreateWindow(m_pDisplay, DefaultRootWindow(m_pDisplay), x, y,
                                 static_cast<unsigned>(width), static_cast<unsigned>(height), 0,
                                 CopyFromParent, InputOutput, CopyFromParent,
                                 CWOverrideRedirect | CWBackPixel, &attributes);
        XMapRaised(m_pDisplay, m_window);
        XSync(m_pDisplay, False);
        m_windows.push_back(m_window);
        return m_window;
    }
    int32_t NewHandle() {
        int32_t handle = -1;
        EXPECT_EQ(ORVD_InitByDisEngine(&handle, ORVD_ENGINE_DDRAW), ORVD_OK);
        EXPECT_EQ(ORVD_SetDisplayWindow(handle, m_window), ORVD_OK);
        return handle;
    }
    int32_t Show(int32_t handle, uint32_t format, uint32_t w, uint32_t h, uint32_t n = 0) {
        m_frame = MakePatternFrame(format, w, h, n);
        tagORVD_FRAME frame{m_frame.data(), 0, format, w, h};
        return ORVD_DisplayFrame(handle, &frame);
    }
    static Rgb Pixel(const kx_test::Screenshot& shot, int x, int y) {
        const uint32_t p = shot.At(x, y);
        return {static_cast<int>(p >> 16), static_cast<int>((p >> 8) & 0xFF),
                static_cast<int>(p & 0xFF)};
    }

    // Whether `window` shows pattern frame 0 of width x height in `format` scaled to fill it, at
    // points near its corners and on its middle column: inside the gradients (away from the
    // box) the picture is smooth, so each window pixel is close to the frame pixel it came from.
    void ExpectPattern(Window window, uint32_t format = ORVD_FORMAT_RGB32, uint32_t width = 80,
                       uint32_t height = 60) {
        const kx_test::Screenshot shot = kx_test::ReadWindow(m_pDisplay, window);
        ASSERT_FALSE(shot.Empty());
        const int w = shot.width, h = shot.height;
        for (auto [x, y] : {std::pair{8, 8}, std::pair{w - 9, 10}, std::pair{10, h - 9},
                            std::pair{w - 9, h - 9}, std::pair{w / 2, 6}}) {
            const Rgb want = Expected(format, static_cast<uint32_t>(x) * width / w,
                                      static_cast<uint32_t>(y) * height / h, width, height, 0);
            EXPECT_LE(Distance(Pixel(shot, x, y), want), kTolerance + 8)
                << "window " << window << " at " << x << "," << y;
        }
    }
    void Xrandr(const std::string& arguments) {
        ASSERT_EQ(std::system(("xrandr " + arguments + " >/dev/null 2>&1").c_str()), 0)
            << arguments;
    }

    kx_test::XvfbProcess m_xvfb;
    std::string m_savedDisplay;
    Display* m_pDisplay = nullptr;
    std::vector<Window> m_windows;
    Window m_window = 0;
    std::vector<uint8_t> m_frame;
};

TEST_F(X11DisplayTest, EveryFormatShowsItsPictureOrIsRefused) {
    const int w = 96, h = 64;
    AddWindow(40, 30, w, h);
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
                    worst = std::max(worst, Distance(Pixel(shot, x, y), Expected(format, x, y, w, h, 3)));
                }
            }
            EXPECT_LE(worst, kTolerance);
        }
        EXPECT_EQ(ORVD_Release(handle), ORVD_OK);
    }
}

TEST_F(X11DisplayTest, ScalesTheFrameToTheWindowAndToItsNewSize) {
    AddWindow(40, 30, 160, 120);
    const int32_t handle = NewHandle();
    ASSERT_EQ(Show(handle, ORVD_FORMAT_UYVY, 80, 60), ORVD_OK);
    ExpectPattern(m_window, ORVD_FORMAT_UYVY);
    // Larger: the part that the first frame did not reach is the white background until the
    // next frame, which must be scaled to the new size at once.
    XResizeWindow(m_pDisplay, m_window, 320, 240);
    XSync(m_pDisplay, False);
    ASSERT_EQ(Show(handle, ORVD_FORMAT_UYVY, 80, 60), ORVD_OK);
    ExpectPattern(m_window, ORVD_FORMAT_UYVY);
    ORVD_Release(handle);
}

TEST_F(X11DisplayTest, FittedModesFillTheBarsBlack) {
    AddWindow(40, 30, 400, 150);  // wider than 4:3: bars left and right of a 200 x 150 picture
    const int32_t handle = NewHandle();
    ASSERT_EQ(ORVD_SetDisplayMode(handle, 1), ORVD_OK);
    ASSERT_EQ(Show(handle, ORVD_FORMAT_RGB32, 64, 48), ORVD_OK);
    const kx_test::Screenshot shot = kx_test::ReadWindow(m_pDisplay, m_window);
    ASSERT_FALSE(shot.Empty());
    for (int x : {0, 50, 99, 300, 399}) {
        for (int y : {0, 75, 149}) EXPECT_EQ(shot.At(x, y), 0u) << x << "," << y;
    }
    EXPECT_LE(Distance(Pixel(shot, 110, 5), Expected(ORVD_FORMAT_RGB32, 3, 1, 64, 48, 0)),
              kTolerance + 4);
    ORVD_Release(handle);
}

void DrawRedSquare(int32_t /*handle*/, ORVD_HDC dc, intptr_t user) {
    ++*reinterpret_cast<int*>(user);
    cairo_set_source_rgb(dc, 1, 0, 0);
    cairo_rectangle(dc, 20, 20, 40, 30);
    cairo_fill(dc);
}

TEST_F(X11DisplayTest, TheDrawingCallbackShowsOnScreen) {
    AddWindow(40, 30, 200, 150);
    const int32_t handle = NewHandle();
    int calls = 0;
    ASSERT_EQ(ORVD_RegisterDCCallback(handle, &DrawRedSquare, reinterpret_cast<intptr_t>(&calls)),
              ORVD_OK);
    ASSERT_EQ(Show(handle, ORVD_FORMAT_NV12, 100, 76), ORVD_OK);
    EXPECT_EQ(calls, 1);
    kx_test::Screenshot shot = kx_test::ReadWindow(m_pDisplay, m_window);
    ASSERT_FALSE(shot.Empty());
    EXPECT_LE(Distance(Pixel(shot, 40, 35), Rgb{255, 0, 0}), 2);
    EXPECT_GT(Distance(Pixel(shot, 120, 100), Rgb{255, 0, 0}), 40);  // the picture elsewhere

    // A refresh draws it again over the same frame.
    XClearWindow(m_pDisplay, m_window);
    XSync(m_pDisplay, False);
    ASSERT_EQ(ORVD_RefreshDisplay(handle), ORVD_OK);
    EXPECT_EQ(calls, 2);
    shot = kx_test::ReadWindow(m_pDisplay, m_window);
    ASSERT_FALSE(shot.Empty());
    EXPECT_LE(Distance(Pixel(shot, 40, 35), Rgb{255, 0, 0}), 2);
    ORVD_Release(handle);
}

// Releases the handle on its second call, made for the window's part on the second monitor.
void ReleaseOnSecondCall(int32_t handle, ORVD_HDC /*dc*/, intptr_t user) {
    if (++*reinterpret_cast<int*>(user) == 2) ORVD_Release(handle);
}

TEST_F(X11DisplayTest, APartAcrossMonitorsWaitsForTheNextPartOrElseTheNextWindowCheck) {
    Xrandr("--setmonitor left 512/135x768/203+0+0 screen");
    Xrandr("--setmonitor right 512/135x768/203+512+0 none");
    AddWindow(400, 300, 240, 180);
    const int32_t handle = NewHandle();
    // The first frames may meet the new layout and rebuild the devices.
    for (int i = 0; i < 5 && Show(handle, ORVD_FORMAT_RGB32, 80, 60) != ORVD_OK; ++i) {
    }
    ASSERT_EQ(Show(handle, ORVD_FORMAT_RGB32, 80, 60), ORVD_OK);
    XClearWindow(m_pDisplay, m_window);
    int calls = 0;
    ASSERT_EQ(ORVD_RegisterDCCallback(handle, &ReleaseOnSecondCall,
                                      reinterpret_cast<intptr_t>(&calls)),
              ORVD_OK);
    // The left part's put waits to go out with the right part's, which never comes (a handle
    // released during the call reports it).
    ASSERT_EQ(Show(handle, ORVD_FORMAT_RGB32, 80, 60), ORVD_E_NOT_READY);
    ASSERT_EQ(calls, 2);
    EXPECT_EQ(kx_test::ReadWindow(m_pDisplay, m_window).At(8, 8), 0xFFFFFFu);  // still white
    // The next call that checks a window sends it.
    const int32_t other = NewHandle();
    const kx_test::Screenshot shot = kx_test::ReadWindow(m_pDisplay, m_window);
    ASSERT_FALSE(shot.Empty());
    EXPECT_LE(Distance(Pixel(shot, 8, 8), Expected(ORVD_FORMAT_RGB32, 2, 2, 80, 60, 0)),
              kTolerance + 8);
    EXPECT_EQ(shot.At(230, 8), 0xFFFFFFu);
    ORVD_Release(other);
}

// Three handles, left, right and across the middle of the 1024-wide screen: each shows and
// refreshes in its own window, also while monitors are added and removed.
TEST_F(X11DisplayTest, SeveralHandlesShowEachInItsOwnWindowWhileMonitorsComeAndGo) {
    std::vector<int32_t> handles;
    for (auto [x, y, w, h] : {std::array{40, 40, 200, 150}, std::array{700, 40, 200, 150},
                              std::array{400, 300, 240, 180}}) {
        AddWindow(x, y, w, h);
        handles.push_back(NewHandle());
        ASSERT_EQ(Show(handles.back(), ORVD_FORMAT_RGB32, 80, 60), ORVD_OK);
    }
    for (Window window : m_windows) {
        ExpectPattern(window);
        XClearWindow(m_pDisplay, window);
    }
    XSync(m_pDisplay, False);
    // Each refresh draws its own window again, whichever handle drew last.
    for (int32_t handle : handles) ASSERT_EQ(ORVD_RefreshDisplay(handle), ORVD_OK);
    for (Window window : m_windows) ExpectPattern(window);

    for (const char* change : {"--setmonitor left 512/135x768/203+0+0 screen",
                               "--setmonitor right 512/135x768/203+512+0 none",
                               "--delmonitor right", "--delmonitor left"}) {
        SCOPED_TRACE(change);
        Xrandr(change);
        for (size_t i = 0; i < handles.size(); ++i) {
            XClearWindow(m_pDisplay, m_windows[i]);
            XSync(m_pDisplay, False);
            // The first handle to draw may meet the lost surfaces and report it; every handle
            // shows its next frame.
            int32_t result = Show(handles[i], ORVD_FORMAT_RGB32, 80, 60);
            if (result == ORVD_E_DDRAW) result = Show(handles[i], ORVD_FORMAT_RGB32, 80, 60);
            ASSERT_EQ(result, ORVD_OK) << "handle " << handles[i];
            ExpectPattern(m_windows[i]);
        }
    }
    for (int32_t handle : handles) ORVD_Release(handle);
}

int g_nHostIOErrors = 0;
int CountHostIOError(Display* /*display*/) {
    ++g_nHostIOErrors;
    return 0;
}
void KeepGoing(Display* /*display*/, void* /*data*/) {}

TEST_F(X11DisplayTest, ALostServerFailsEveryCallAndANewOneIsUsedOnceItAnswers) {
    if (!m_xvfb.Running()) GTEST_SKIP() << "needs a server of its own to end";
    // The host's own handlers: the library keeps them for the host's connection.
    XSetIOErrorHandler(&CountHostIOError);
    XSetIOErrorExitHandler(m_pDisplay, &KeepGoing, nullptr);
    AddWindow(40, 30, 160, 120);
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
    AddWindow(40, 30, 160, 120);
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
