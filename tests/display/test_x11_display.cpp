// Frames shown through the library on real X11 windows and read back from the screen: every
// format against a reference conversion, scaling, the black bars of the fitted modes and the
// drawing callback's cairo output. Each test runs on a private Xvfb that it starts and ends (by
// its PID), so that windows of tests running beside it cannot cover the windows read back.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cairo.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "orvenna.h"
#include "orvenna_testing.h"
#include "platform/x11_backend.h"
#include "reference_colour.h"
#include "test_pattern.h"

namespace orvenna {
namespace {

using orvenna_play::MakePatternFrame;
using orvenna_play::PatternAt;
using orvenna_play::PatternPixel;
using orvenna_play::RgbToYuv;

constexpr int kTolerance = 4;  // per channel: libyuv's fixed point against floating point

using testing::Distance;
using testing::FromYuv;
using testing::Rgb;

// What pixel (x, y) of pattern frame `n` should look like once shown: the RGB formats lose their
// low bits, the YUV formats show the chroma of the pixel that their group shares.
Rgb Expected(uint32_t format, uint32_t x, uint32_t y, uint32_t w, uint32_t h, uint32_t n) {
    const PatternPixel p = PatternAt(x, y, w, h, n);
    auto five = [](int c) { return ((c >> 3) << 3) | (c >> 5); };
    auto six = [](int c) { return ((c >> 2) << 2) | (c >> 6); };
    switch (format) {
        case ORVD_FORMAT_RGB555:
            return {five(p.r), five(p.g), five(p.b)};
        case ORVD_FORMAT_RGB565:
            return {five(p.r), six(p.g), five(p.b)};
        case ORVD_FORMAT_RGB24:
        case ORVD_FORMAT_RGB32:
            return {p.r, p.g, p.b};
        default:
            break;
    }
    const bool vertical_shared =
        format == ORVD_FORMAT_YV12 || format == ORVD_FORMAT_IYUV || format == ORVD_FORMAT_NV12;
    const PatternPixel c = PatternAt(x & ~1u, vertical_shared ? y & ~1u : y, w, h, n);
    uint8_t yy, u, v, cy;
    RgbToYuv(p, &yy, &u, &v);
    RgbToYuv(c, &cy, &u, &v);
    return FromYuv(yy, u, v);
}

class X11DisplayTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no X display";
        StartXvfb();
        m_pDisplay = XOpenDisplay(nullptr);
        ASSERT_NE(m_pDisplay, nullptr);
        testing::UseBackendForTesting(std::make_shared<platform::X11Backend>());
    }
    void TearDown() override {
        testing::UseBackendForTesting(nullptr);
        if (m_pDisplay != nullptr) {
            for (Window window : m_windows) XDestroyWindow(m_pDisplay, window);
            XCloseDisplay(m_pDisplay);
        }
        if (m_xvfb > 0) {
            kill(m_xvfb, SIGTERM);
            waitpid(m_xvfb, nullptr, 0);
            setenv("DISPLAY", m_savedDisplay.c_str(), 1);
        }
    }

    // A server of our own; where Xvfb cannot be started the tests use the display they got.
    void StartXvfb() {
        int fds[2];
        if (pipe(fds) != 0) return;
        m_xvfb = fork();
        if (m_xvfb == 0) {
            close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24",
                   "-nolisten", "tcp", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        char number[16] = {};
        size_t got = 0;
        while (m_xvfb > 0 && got < sizeof(number) - 1) {
            const ssize_t n = read(fds[0], number + got, sizeof(number) - 1 - got);
            if (n <= 0) break;
            got += static_cast<size_t>(n);
            if (number[got - 1] == '\n') break;
        }
        close(fds[0]);
        if (got == 0 || number[got - 1] != '\n') {
            if (m_xvfb > 0) {
                kill(m_xvfb, SIGTERM);
                waitpid(m_xvfb, nullptr, 0);
            }
            m_xvfb = -1;
            return;
        }
        number[got - 1] = '\0';
        if (m_savedDisplay.empty()) m_savedDisplay = std::getenv("DISPLAY");
        setenv("DISPLAY", (":" + std::string(number)).c_str(), 1);
    }

    // A mapped window with a white background, so that anything not drawn shows.
    Window AddWindow(int x, int y, int width, int height) {
        XSetWindowAttributes attributes{};
        attributes.override_redirect = True;
        attributes.background_pixel = WhitePixel(m_pDisplay, DefaultScreen(m_pDisplay));
        const Window window = XCreateWindow(
            m_pDisplay, DefaultRootWindow(m_pDisplay), x, y, static_cast<unsigned>(width),
            static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, CopyFromParent,
            CWOverrideRedirect | CWBackPixel, &attributes);
        XMapRaised(m_pDisplay, window);
        XSync(m_pDisplay, False);
        m_windows.push_back(window);
        return window;
    }
    void MakeWindow(int width, int height) {
        m_window = AddWindow(40, 30, width, height);
        m_width = width;
        m_height = height;
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
    // The window's pixels as the screen shows them.
    std::vector<Rgb> ReadBack() { return ReadBack(m_window, m_width, m_height); }
    std::vector<Rgb> ReadBack(Window window, int width, int height) {
        XSync(m_pDisplay, False);
        std::vector<Rgb> pixels;
        XImage* image = XGetImage(m_pDisplay, window, 0, 0, static_cast<unsigned>(width),
                                  static_cast<unsigned>(height), AllPlanes, ZPixmap);
        if (image == nullptr) return pixels;
        pixels.reserve(static_cast<size_t>(width) * height);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const unsigned long p = XGetPixel(image, x, y);
                pixels.push_back({static_cast<int>((p >> 16) & 0xFF),
                                  static_cast<int>((p >> 8) & 0xFF), static_cast<int>(p & 0xFF)});
            }
        }
        XDestroyImage(image);
        return pixels;
    }
    Rgb At(const std::vector<Rgb>& pixels, int x, int y) const {
        return pixels[static_cast<size_t>(y) * m_width + x];
    }

    // Near the four corners of a 320 x 240 window showing a width x height frame scaled up
    // `scale` times: inside the gradients (away from the box) the picture is smooth, so each
    // window pixel is close to the frame pixel it came from.
    void ExpectScaledCorners(const std::vector<Rgb>& pixels, uint32_t format, uint32_t scale,
                             uint32_t width, uint32_t height) {
        for (auto [x, y] :
             {std::pair{10, 10}, std::pair{300, 20}, std::pair{20, 220}, std::pair{310, 230}}) {
            const Rgb want = Expected(format, static_cast<uint32_t>(x) / scale,
                                      static_cast<uint32_t>(y) / scale, width, height, 0);
            EXPECT_LE(Distance(At(pixels, x, y), want), kTolerance + 4) << x << "," << y;
        }
    }

    // Whether the width × height `window` shows the RGB32 pattern frame of 80 × 60 scaled to
    // fill it, at points near its corners and on its middle column.
    void ExpectPattern(Window window, int width, int height) {
        const auto pixels = ReadBack(window, width, height);
        ASSERT_EQ(pixels.size(), static_cast<size_t>(width) * height);
        for (auto [x, y] : {std::pair{8, 8}, std::pair{width - 9, 10}, std::pair{10, height - 9},
                            std::pair{width - 9, height - 9}, std::pair{width / 2, 6}}) {
            const Rgb want = Expected(ORVD_FORMAT_RGB32, static_cast<uint32_t>(x * 80 / width),
                                      static_cast<uint32_t>(y * 60 / height), 80, 60, 0);
            EXPECT_LE(Distance(pixels[static_cast<size_t>(y) * width + x], want), kTolerance + 8)
                << "window " << window << " at " << x << "," << y;
        }
    }
    void Xrandr(const std::string& arguments) {
        ASSERT_EQ(std::system(("xrandr " + arguments + " >/dev/null 2>&1").c_str()), 0)
            << arguments;
    }

    pid_t m_xvfb = -1;
    std::string m_savedDisplay;
    Display* m_pDisplay = nullptr;
    std::vector<Window> m_windows;
    Window m_window = 0;
    int m_width = 0;
    int m_height = 0;
    std::vector<uint8_t> m_frame;
};

TEST_F(X11DisplayTest, EveryFormatShowsItsPictureOrIsRefused) {
    const int w = 96, h = 64;
    MakeWindow(w, h);
    for (uint32_t format = 0; format < ORVD_FORMAT_COUNT; ++format) {
        SCOPED_TRACE(orvenna_play::FormatName(format));
        const int32_t handle = NewHandle();  // each engine chooses its own substitute
        const int32_t result = Show(handle, format, w, h, 3);
        if (format == ORVD_FORMAT_YUV9) {
            // Neither the device nor a substitute takes it.
            EXPECT_EQ(result, ORVD_E_UNSUPPORTED);
        } else {
            ASSERT_EQ(result, ORVD_OK);
            const auto pixels = ReadBack();
            ASSERT_EQ(pixels.size(), static_cast<size_t>(w * h));
            int worst = 0;
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x) {
                    worst = std::max(worst,
                                     Distance(At(pixels, x, y), Expected(format, x, y, w, h, 3)));
                }
            }
            EXPECT_LE(worst, kTolerance);
        }
        EXPECT_EQ(ORVD_Release(handle), ORVD_OK);
    }
}

TEST_F(X11DisplayTest, ScalesTheFrameToTheWindow) {
    MakeWindow(320, 240);
    const int32_t handle = NewHandle();
    ASSERT_EQ(Show(handle, ORVD_FORMAT_UYVY, 160, 120), ORVD_OK);
    ExpectScaledCorners(ReadBack(), ORVD_FORMAT_UYVY, 2, 160, 120);
    ORVD_Release(handle);
}

TEST_F(X11DisplayTest, TheFrameAfterAResizeFillsTheNewSize) {
    MakeWindow(160, 120);
    const int32_t handle = NewHandle();
    ASSERT_EQ(Show(handle, ORVD_FORMAT_RGB32, 80, 60), ORVD_OK);
    // Larger: the part that the first frame did not reach is the white background until the
    // next frame, which must be scaled to the new size at once.
    XResizeWindow(m_pDisplay, m_window, 320, 240);
    XSync(m_pDisplay, False);
    m_width = 320;
    m_height = 240;
    ASSERT_EQ(Show(handle, ORVD_FORMAT_RGB32, 80, 60), ORVD_OK);
    ExpectScaledCorners(ReadBack(), ORVD_FORMAT_RGB32, 4, 80, 60);
    ORVD_Release(handle);
}

TEST_F(X11DisplayTest, FittedModesFillTheBarsBlack) {
    MakeWindow(400, 150);  // wider than 4:3: bars left and right of a 200 x 150 picture
    const int32_t handle = NewHandle();
    ASSERT_EQ(ORVD_SetDisplayMode(handle, 1), ORVD_OK);
    ASSERT_EQ(Show(handle, ORVD_FORMAT_RGB32, 64, 48), ORVD_OK);
    const auto pixels = ReadBack();
    for (int x : {0, 50, 99, 300, 399}) {
        for (int y : {0, 75, 149}) {
            const Rgb p = At(pixels, x, y);
            EXPECT_EQ(p.r + p.g + p.b, 0) << x << "," << y;
        }
    }
    EXPECT_LE(Distance(At(pixels, 110, 5), Expected(ORVD_FORMAT_RGB32, 3, 1, 64, 48, 0)),
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
    MakeWindow(200, 150);
    const int32_t handle = NewHandle();
    int calls = 0;
    ASSERT_EQ(ORVD_RegisterDCCallback(handle, &DrawRedSquare, reinterpret_cast<intptr_t>(&calls)),
              ORVD_OK);
    ASSERT_EQ(Show(handle, ORVD_FORMAT_NV12, 100, 76), ORVD_OK);
    EXPECT_EQ(calls, 1);
    auto pixels = ReadBack();
    EXPECT_LE(Distance(At(pixels, 40, 35), Rgb{255, 0, 0}), 2);
    EXPECT_GT(Distance(At(pixels, 120, 100), Rgb{255, 0, 0}), 40);  // the picture elsewhere

    // A refresh draws it again over the same frame.
    XClearWindow(m_pDisplay, m_window);
    XSync(m_pDisplay, False);
    ASSERT_EQ(ORVD_RefreshDisplay(handle), ORVD_OK);
    EXPECT_EQ(calls, 2);
    pixels = ReadBack();
    EXPECT_LE(Distance(At(pixels, 40, 35), Rgb{255, 0, 0}), 2);
    ORVD_Release(handle);
}

// Releases the handle on its second call, made for the window's part on the second monitor.
void ReleaseOnSecondCall(int32_t handle, ORVD_HDC /*dc*/, intptr_t user) {
    if (++*reinterpret_cast<int*>(user) == 2) ORVD_Release(handle);
}

TEST_F(X11DisplayTest, APartAcrossMonitorsWaitsForTheNextPartOrElseTheNextWindowCheck) {
    Xrandr("--setmonitor left 512/135x768/203+0+0 screen");
    Xrandr("--setmonitor right 512/135x768/203+512+0 none");
    m_window = AddWindow(400, 300, 240, 180);
    m_width = 240;
    m_height = 180;
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
    const Rgb white{255, 255, 255};
    EXPECT_EQ(Distance(At(ReadBack(), 8, 8), white), 0);
    // The next call that checks a window sends it.
    const int32_t other = NewHandle();
    const auto pixels = ReadBack();
    EXPECT_LE(Distance(At(pixels, 8, 8), Expected(ORVD_FORMAT_RGB32, 2, 2, 80, 60, 0)),
              kTolerance + 8);
    EXPECT_EQ(Distance(At(pixels, 230, 8), white), 0);
    ORVD_Release(other);
}

struct PlacedWindow {
    int x, y, width, height;
};

TEST_F(X11DisplayTest, SeveralHandlesShowAndRefreshEachInItsOwnWindow) {
    const std::vector<PlacedWindow> places{
        {20, 20, 160, 120}, {300, 20, 200, 150}, {20, 300, 240, 180}};
    for (size_t count : {2u, 3u}) {
        SCOPED_TRACE(count);
        std::vector<int32_t> handles;
        for (size_t i = 0; i < count; ++i) {
            m_window = AddWindow(places[i].x, places[i].y, places[i].width, places[i].height);
            handles.push_back(NewHandle());
            ASSERT_EQ(Show(handles.back(), ORVD_FORMAT_RGB32, 80, 60), ORVD_OK);
        }
        for (size_t i = 0; i < count; ++i) {
            ExpectPattern(m_windows[i], places[i].width, places[i].height);
            XClearWindow(m_pDisplay, m_windows[i]);
        }
        XSync(m_pDisplay, False);
        // Each refresh draws its own window again, whichever handle drew last.
        for (size_t i = 0; i < count; ++i) ASSERT_EQ(ORVD_RefreshDisplay(handles[i]), ORVD_OK);
        for (size_t i = 0; i < count; ++i) {
            ExpectPattern(m_windows[i], places[i].width, places[i].height);
        }
        for (int32_t handle : handles) ORVD_Release(handle);
        for (Window window : m_windows) XDestroyWindow(m_pDisplay, window);
        m_windows.clear();
    }
}

TEST_F(X11DisplayTest, MonitorsAddedAndRemovedWhileSeveralHandlesDisplay) {
    // Left, right and across the middle of the 1024-wide screen.
    const std::vector<PlacedWindow> places{
        {40, 40, 200, 150}, {700, 40, 200, 150}, {400, 300, 240, 180}};
    std::vector<int32_t> handles;
    for (const PlacedWindow& place : places) {
        m_window = AddWindow(place.x, place.y, place.width, place.height);
        handles.push_back(NewHandle());
        ASSERT_EQ(Show(handles.back(), ORVD_FORMAT_RGB32, 80, 60), ORVD_OK);
    }
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
            ExpectPattern(m_windows[i], places[i].width, places[i].height);
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
    if (m_xvfb <= 0) GTEST_SKIP() << "needs a server of its own to end";
    // The host's own handlers: the library keeps them for the host's connection.
    XSetIOErrorHandler(&CountHostIOError);
    XSetIOErrorExitHandler(m_pDisplay, &KeepGoing, nullptr);
    MakeWindow(160, 120);
    const int32_t handle = NewHandle();
    ASSERT_EQ(Show(handle, ORVD_FORMAT_RGB32, 80, 60), ORVD_OK);

    kill(m_xvfb, SIGKILL);
    waitpid(m_xvfb, nullptr, 0);
    m_xvfb = -1;
    for (int frame = 0; frame < 3; ++frame) {
        EXPECT_NE(Show(handle, ORVD_FORMAT_RGB32, 80, 60), ORVD_OK) << frame;
        EXPECT_NE(ORVD_RefreshDisplay(handle), ORVD_OK) << frame;
    }
    EXPECT_NE(ORVD_SetDisplayWindow(handle, m_window), ORVD_OK);
    XSync(m_pDisplay, False);
    EXPECT_EQ(g_nHostIOErrors, 1);
    XCloseDisplay(m_pDisplay);
    m_windows.clear();

    // A server again: the next call a second later connects to it.
    StartXvfb();
    ASSERT_GT(m_xvfb, 0);
    m_pDisplay = XOpenDisplay(nullptr);
    ASSERT_NE(m_pDisplay, nullptr);
    MakeWindow(160, 120);
    usleep(1100 * 1000);
    ASSERT_EQ(ORVD_SetDisplayWindow(handle, m_window), ORVD_OK);
    // The devices of the old server are found lost and made again on the new one.
    EXPECT_EQ(Show(handle, ORVD_FORMAT_RGB32, 80, 60), ORVD_E_DDRAW);
    ASSERT_EQ(Show(handle, ORVD_FORMAT_RGB32, 80, 60), ORVD_OK);
    ExpectPattern(m_window, 160, 120);
    ORVD_Release(handle);
}

}  // namespace
}  // namespace orvenna
