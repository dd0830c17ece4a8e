// The x11 backend under Xvfb: window functions on real windows (mapped, unmapped, destroyed,
// moved with their ancestors), the devices of a one-monitor screen, two monitors defined with
// `xrandr --setmonitor`, and a second X screen, on private Xvfbs that the tests start and end.
// GoogleTest before Xlib, whose macros (None, Bool) would break its templates.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "common/child_process.h"
#include "ddraw_engine.h"
#include "device_table.h"
#include "orvenna.h"
#include "orvenna_testing.h"
#include "platform/x11_backend.h"
#include "platform/x11_connection.h"

namespace orvenna {
namespace {

// Opens the display, waiting out a server that is resetting after its last client left.
Display* OpenDisplayPatiently() {
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (Display* display = XOpenDisplay(nullptr)) return display;
        usleep(20000);
    }
    return nullptr;
}

// An X connection of the test's own, to make the windows the library is given. It is open
// before the library's and closed after it, so the server does not reset under the library.
class X11Test : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no X display";
        m_pDisplay = OpenDisplayPatiently();
        ASSERT_NE(m_pDisplay, nullptr);
        testing::UseBackendForTesting(std::make_shared<platform::X11Backend>());
    }
    void TearDown() override {
        testing::UseBackendForTesting(nullptr);
        if (m_pDisplay != nullptr) XCloseDisplay(m_pDisplay);
    }

    Window MakeWindow(int x, int y, unsigned width, unsigned height, bool mapped,
                      Window parent = 0) {
        if (parent == 0) parent = DefaultRootWindow(m_pDisplay);
        XSetWindowAttributes attributes{};
        attributes.override_redirect = True;  // placed where asked, with or without a manager
        const Window window =
            XCreateWindow(m_pDisplay, parent, x, y, width, height, 0, CopyFromParent, InputOutput,
                          CopyFromParent, CWOverrideRedirect, &attributes);
        if (mapped) XMapWindow(m_pDisplay, window);
        XSync(m_pDisplay, False);
        return window;
    }

    Display* m_pDisplay = nullptr;
};

TEST_F(X11Test, WindowFunctionsAnswerForRealWindows) {
    const Window window = MakeWindow(50, 60, 320, 240, /*mapped=*/false);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_FALSE(IsWindowVisible(window));
    XMapWindow(m_pDisplay, window);
    XSync(m_pDisplay, False);
    EXPECT_TRUE(IsWindowVisible(window));

    RECT client{};
    ASSERT_TRUE(GetClientRect(window, &client));
    EXPECT_EQ(client.right, 320);
    EXPECT_EQ(client.bottom, 240);
    POINT corner{client.right, client.bottom};
    ASSERT_TRUE(ClientToScreen(window, &corner));
    EXPECT_EQ(corner.x, 370);
    EXPECT_EQ(corner.y, 300);
    RECT on_screen{};
    ASSERT_TRUE(GetWindowRect(window, &on_screen));
    EXPECT_EQ(on_screen.left, 50);
    EXPECT_EQ(on_screen.top, 60);

    // A mapped child of an unmapped parent is not visible.
    const Window parent = MakeWindow(0, 0, 100, 100, /*mapped=*/false);
    const Window child = MakeWindow(10, 10, 50, 50, /*mapped=*/true, parent);
    EXPECT_FALSE(IsWindowVisible(child));
    XDestroyWindow(m_pDisplay, parent);
    XDestroyWindow(m_pDisplay, window);
}

TEST_F(X11Test, AWindowThatIsGoneIsNoWindowAndTheProcessGoesOn) {
    const Window window = MakeWindow(0, 0, 64, 64, /*mapped=*/true);
    XDestroyWindow(m_pDisplay, window);
    XSync(m_pDisplay, False);
    for (HWND hwnd : {HWND{window}, HWND{0x7FFFFFF0}, HWND{0}}) {
        EXPECT_FALSE(IsWindow(hwnd));
        EXPECT_FALSE(IsWindowVisible(hwnd));
        RECT rect{};
        EXPECT_FALSE(GetClientRect(hwnd, &rect));
        POINT point{};
        EXPECT_FALSE(ClientToScreen(hwnd, &point));
    }
    int32_t handle = -1;
    ASSERT_EQ(ORVD_InitByDisEngine(&handle, ORVD_ENGINE_DDRAW), ORVD_OK);
    EXPECT_EQ(ORVD_SetDisplayWindow(handle, window), ORVD_E_PARAM);
    EXPECT_EQ(ORVD_Release(handle), ORVD_OK);
}

TEST_F(X11Test, ATrapInsideATrapNeitherWaitsForItselfNorLosesAnError) {
    platform::X11Connection connection;
    connection.display = OpenDisplayPatiently();
    ASSERT_NE(connection.display, nullptr);
    const Window missing = 0x7FFFFFF0;
    XWindowAttributes attributes;
    {
        platform::X11ErrorTrap outer(connection.display);
        EXPECT_EQ(XGetWindowAttributes(connection.display, missing, &attributes), 0);
        {
            platform::X11ErrorTrap inner(connection.display);
            EXPECT_FALSE(inner.Failed());
            XMapWindow(connection.display, missing);
            EXPECT_TRUE(inner.Failed());
        }
        EXPECT_TRUE(outer.Failed());
    }
    {
        platform::X11ErrorTrap outer(connection.display);
        {
            platform::X11ErrorTrap inner(connection.display);
            XMapWindow(connection.display, missing);
        }
        EXPECT_TRUE(outer.Failed());  // an error inside the inner trap is the outer's too
    }
    platform::X11ErrorTrap clean(connection.display);
    EXPECT_FALSE(clean.Failed());
}

// The library keeps what it knows of its window from the window's and its ancestors' events.
// Each change below is made on the test's own connection and seen done (XSync) before the
// library is called again: that very call must see it.
TEST_F(X11Test, EveryChangeToTheWindowOrItsAncestorsIsSeenByTheNextCall) {
    int32_t handle = -1;
    ASSERT_EQ(ORVD_InitByDisEngine(&handle, ORVD_ENGINE_DDRAW), ORVD_OK);
    auto* engine = dynamic_cast<DDrawDisplayEngine*>(testing::EngineForTesting(handle));
    ASSERT_NE(engine, nullptr);
    ASSERT_TRUE(engine->IsInitialised());
    // Xvfb's screen is one monitor unless a test has defined others: the driver entry alone.
    ASSERT_EQ(DeviceTable().dwCount, 1u);
    EXPECT_EQ(DeviceTable().entries[0]->pMonitorInfo, nullptr);
    EXPECT_EQ(DeviceTable().entries[0]->dwCapabilities, kFullyCapable);
    EXPECT_EQ(engine->DesktopBounds().right, DisplayWidth(m_pDisplay, DefaultScreen(m_pDisplay)));
    EXPECT_EQ(engine->DesktopBounds().bottom, DisplayHeight(m_pDisplay, DefaultScreen(m_pDisplay)));

    const Window outer = MakeWindow(100, 100, 800, 600, /*mapped=*/true);
    const Window parent = MakeWindow(10, 20, 700, 500, /*mapped=*/true, outer);
    const Window window = MakeWindow(5, 5, 320, 240, /*mapped=*/true, parent);
    const Window elsewhere = MakeWindow(300, 200, 400, 400, /*mapped=*/true);
    ASSERT_EQ(ORVD_SetDisplayWindow(handle, window), ORVD_OK);
    ASSERT_EQ(ORVD_RefreshDisplay(handle), ORVD_OK);
    EXPECT_EQ(engine->ScreenRect().left, 115);
    EXPECT_EQ(engine->ScreenRect().top, 125);
    EXPECT_TRUE(engine->DeviceSet(0)->bVisible);
    EXPECT_EQ(engine->DeviceSet(0)->rcDest.bottom, 365);

    struct Change {
        const char* what;
        std::function<void()> make;
        int32_t result;
        RECT screen;  // the client area on the screen, when the result is ORVD_OK
    };
    Display* d = m_pDisplay;
    const Change changes[] = {
        {"window moved", [&] { XMoveWindow(d, window, 30, 40); }, ORVD_OK, {140, 160, 460, 400}},
        {"window resized",
         [&] { XResizeWindow(d, window, 200, 100); },
         ORVD_OK,
         {140, 160, 340, 260}},
        {"parent moved", [&] { XMoveWindow(d, parent, 0, 0); }, ORVD_OK, {130, 140, 330, 240}},
        {"grandparent moved", [&] { XMoveWindow(d, outer, 50, 60); }, ORVD_OK, {80, 100, 280, 200}},
        {"parent moved into another window",
         [&] { XReparentWindow(d, parent, elsewhere, 1, 2); },
         ORVD_OK,
         {331, 242, 531, 342}},
        {"its new grandparent moved",
         [&] { XMoveWindow(d, elsewhere, 0, 0); },
         ORVD_OK,
         {31, 42, 231, 142}},
        {"the old grandparent moved",
         [&] { XMoveWindow(d, outer, 0, 0); },
         ORVD_OK,
         {31, 42, 231, 142}},
        {"window unmapped", [&] { XUnmapWindow(d, window); }, ORVD_E_NOT_READY, {}},
        {"window mapped", [&] { XMapWindow(d, window); }, ORVD_OK, {31, 42, 231, 142}},
        {"grandparent unmapped", [&] { XUnmapWindow(d, elsewhere); }, ORVD_E_NOT_READY, {}},
        {"grandparent mapped", [&] { XMapWindow(d, elsewhere); }, ORVD_OK, {31, 42, 231, 142}},
        {"window made 9 pixels high",
         [&] { XResizeWindow(d, window, 200, 9); },
         ORVD_E_NOT_READY,
         {}},
        {"window made 10 pixels high",
         [&] { XResizeWindow(d, window, 200, 10); },
         ORVD_OK,
         {31, 42, 231, 52}},
        {"window destroyed", [&] { XDestroyWindow(d, window); }, ORVD_E_NOT_READY, {}},
    };
    for (const Change& change : changes) {
        SCOPED_TRACE(change.what);
        change.make();
        XSync(d, False);
        ASSERT_EQ(ORVD_RefreshDisplay(handle), change.result);
        if (change.result != ORVD_OK) continue;
        RECT window_rect{};
        ASSERT_TRUE(GetWindowRect(window, &window_rect));
        for (const RECT& r : {engine->ScreenRect(), window_rect}) {
            EXPECT_TRUE(r.left == change.screen.left && r.top == change.screen.top &&
                        r.right == change.screen.right && r.bottom == change.screen.bottom)
                << r.left << "," << r.top << "," << r.right << "," << r.bottom;
        }
    }
    EXPECT_EQ(ORVD_Release(handle), ORVD_OK);
    XDestroyWindow(d, elsewhere);
    XDestroyWindow(d, outer);
}

// Windows that share an ancestor: when one of them goes (destroyed, or pushed out of the watch by
// the many windows asked about after it), the other still follows that ancestor.
TEST_F(X11Test, AWindowThatGoesLeavesTheAncestorsItSharedFollowed) {
    const Window parent = MakeWindow(100, 100, 600, 400, /*mapped=*/true);
    const Window first = MakeWindow(10, 10, 100, 100, /*mapped=*/true, parent);
    const Window second = MakeWindow(200, 10, 100, 100, /*mapped=*/true, parent);
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
        others.push_back(MakeWindow(static_cast<int>(i), 0, 20, 20, /*mapped=*/true, parent));
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

// A private Xvfb that keeps its monitors (-noreset), with the screens that the test asks for.
class PrivateXvfbTest : public X11Test {
  protected:
    // The server's -screen arguments.
    virtual std::vector<std::string> Screens() const = 0;
    // Runs once the server is up and DISPLAY names it, before the library connects.
    virtual void Prepare() {}

    void SetUp() override {
        std::vector<std::string> arguments{"Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-noreset"};
        for (const std::string& screen : Screens()) arguments.push_back(screen);
        ASSERT_TRUE(m_xvfb.Start(arguments, 3, /*quiet=*/true));
        const std::string number = m_xvfb.FirstLine();
        ASSERT_FALSE(number.empty()) << "Xvfb did not start";
        m_display = ":" + number;
        if (const char* saved = std::getenv("DISPLAY")) m_savedDisplay = saved;
        setenv("DISPLAY", m_display.c_str(), 1);
        Prepare();
        if (HasFatalFailure()) return;
        X11Test::SetUp();
    }
    void TearDown() override {
        X11Test::TearDown();
        if (m_savedDisplay.empty()) {
            unsetenv("DISPLAY");
        } else {
            setenv("DISPLAY", m_savedDisplay.c_str(), 1);
        }
        m_xvfb.Stop();
    }
    void Xrandr(const std::string& arguments) {
        ASSERT_EQ(std::system(("DISPLAY=" + m_display + " xrandr " + arguments + " >/dev/null 2>&1")
                                  .c_str()),
                  0)
            << arguments;
    }

    kx_test::ChildProcess m_xvfb;
    std::string m_display;
    std::string m_savedDisplay;
};

// 3840 × 1080 split into two monitors side by side with xrandr.
class TwoMonitorTest : public PrivateXvfbTest {
  protected:
    std::vector<std::string> Screens() const override { return {"-screen", "0", "3840x1080x24"}; }
    void Prepare() override {
        Xrandr("--setmonitor left 1920/508x1080/286+0+0 screen");
        Xrandr("--setmonitor right 1920/508x1080/286+1920+0 none");
    }
};

TEST_F(TwoMonitorTest, EachMonitorIsADeviceAndAChangedLayoutRebuildsThem) {
    int32_t handle = -1;
    ASSERT_EQ(ORVD_InitByDisEngine(&handle, ORVD_ENGINE_DDRAW), ORVD_OK);
    auto* engine = dynamic_cast<DDrawDisplayEngine*>(testing::EngineForTesting(handle));
    ASSERT_TRUE(engine->IsInitialised());
    const DisplayDeviceTable& table = DeviceTable();
    ASSERT_EQ(table.dwCount, 3u);
    EXPECT_EQ(table.wMonitorCount, 2u);
    EXPECT_EQ(table.entries[0]->hMonitor, nullptr);
    EXPECT_EQ(table.entries[1]->pMonitorInfo->rcMonitor.right, 1920);
    EXPECT_EQ(table.entries[2]->pMonitorInfo->rcMonitor.left, 1920);
    EXPECT_EQ(engine->DesktopBounds().right, 3840);

    const Window window = MakeWindow(2000, 100, 640, 480, /*mapped=*/true);
    ASSERT_EQ(ORVD_SetDisplayWindow(handle, window), ORVD_OK);
    EXPECT_EQ(ORVD_RefreshDisplay(handle), ORVD_OK);
    EXPECT_FALSE(engine->DeviceSet(1)->bVisible);
    EXPECT_TRUE(engine->DeviceSet(2)->bVisible);
    EXPECT_EQ(engine->DeviceSet(2)->rcDest.left, 80);
    EXPECT_EQ(engine->DeviceSet(2)->rcDest.right, 720);

    XMoveWindow(m_pDisplay, window, 1600, 100);
    XSync(m_pDisplay, False);
    std::vector<uint8_t> pixels(64 * 48 * 4, 0x40);
    tagORVD_FRAME frame{pixels.data(), 0, ORVD_FORMAT_RGB32, 64, 48};
    EXPECT_EQ(ORVD_DisplayFrame(handle, &frame), ORVD_OK);
    EXPECT_TRUE(engine->DeviceSet(1)->bVisible);
    EXPECT_TRUE(engine->DeviceSet(2)->bVisible);
    EXPECT_EQ(engine->DeviceSet(2)->rcDest.left, -320);

    // The server announces the change with an event; the primary surfaces are lost for good once
    // it has come in, and the next frame finds that and makes the devices again.
    IDirectDrawSurface7* primary = table.entries[2]->pPrimary.Get();
    Xrandr("--delmonitor right");
    for (int i = 0; i < 50 && primary->IsLost() == DD_OK; ++i) usleep(20000);
    EXPECT_EQ(primary->IsLost(), DDERR_SURFACELOST);
    EXPECT_NE(primary->Restore(), DD_OK);
    EXPECT_EQ(ORVD_DisplayFrame(handle, &frame), ORVD_E_DDRAW);
    EXPECT_EQ(DeviceTable().dwCount, 1u);  // one monitor left: the driver entry alone
    EXPECT_EQ(ORVD_DisplayFrame(handle, &frame), ORVD_OK);
    EXPECT_EQ(ORVD_Release(handle), ORVD_OK);
}

// A display with two X screens: the library draws on the first one only.
class TwoScreenTest : public PrivateXvfbTest {
  protected:
    std::vector<std::string> Screens() const override {
        return {"-screen", "0", "1024x768x24", "-screen", "1", "800x600x24"};
    }
};

TEST_F(TwoScreenTest, AWindowOnTheOtherScreenExistsButHasNoPlaceOnThisOne) {
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    const Window window =
        XCreateWindow(m_pDisplay, RootWindow(m_pDisplay, 1), 10, 10, 200, 100, 0, CopyFromParent,
                      InputOutput, CopyFromParent, CWOverrideRedirect, &attributes);
    XMapWindow(m_pDisplay, window);
    XSync(m_pDisplay, False);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_TRUE(IsWindowVisible(window));
    RECT rect{};
    EXPECT_TRUE(GetClientRect(window, &rect));
    EXPECT_EQ(rect.right, 200);
    POINT point{};
    EXPECT_FALSE(ClientToScreen(window, &point));
    EXPECT_FALSE(GetWindowRect(window, &rect));
    int32_t handle = -1;
    ASSERT_EQ(ORVD_InitByDisEngine(&handle, ORVD_ENGINE_DDRAW), ORVD_OK);
    ASSERT_EQ(ORVD_SetDisplayWindow(handle, window), ORVD_OK);
    EXPECT_EQ(ORVD_RefreshDisplay(handle), ORVD_E_NOT_READY);
    EXPECT_EQ(ORVD_Release(handle), ORVD_OK);
}

}  // namespace
}  // namespace orvenna
