// Glintra on a real X display: pictures read back from the window with their grey levels, the
// overlay box, expose, resize, bad windows, and the end of callbacks at teardown.
#include "glintra.h"
#include "glintra_internal.h"

// GoogleTest first: Xlib's macros (None, Bool) would rename its declarations.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xcomposite.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::vector<uint8_t> Picture(int width, int height, const std::function<uint8_t(int, int)>& grey) {
    std::vector<uint8_t> out;
    out.reserve(static_cast<size_t>(width) * height * 2);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            out.push_back(0x80);
            out.push_back(grey(x, y));
        }
    }
    return out;
}

uint32_t Grey(int g) {
    return static_cast<uint32_t>(g) * 0x010101u;
}
constexpr uint32_t kRed = 0xff0000;

// What the window shows, as 0x00RRGGBB.
struct Screen {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
    uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

struct RedBox {
    int x0 = 1 << 30, x1 = -1, y0 = 1 << 30, y1 = -1;
};

RedBox FindRed(const Screen& screen) {
    RedBox box;
    for (int y = 0; y < screen.height; ++y) {
        for (int x = 0; x < screen.width; ++x) {
            if (screen.At(x, y) != kRed) continue;
            box = {std::min(box.x0, x), std::max(box.x1, x), std::min(box.y0, y),
                   std::max(box.y1, y)};
        }
    }
    return box;
}

// The centre box spans 0.45 to 0.55 of the window in each direction, to a pixel.
bool CentreBoxAt(const Screen& screen) {
    const RedBox box = FindRed(screen);
    auto near = [](int got, double want) { return std::abs(got - want) <= 1.0; };
    return near(box.x0, 0.45 * screen.width) && near(box.x1 + 1, 0.55 * screen.width) &&
           near(box.y0, 0.45 * screen.height) && near(box.y1 + 1, 0.55 * screen.height);
}

// The overlay of the live view: the red centre box, and where it ran.
struct Overlay {
    GLT_HANDLE handle = 0;
    std::atomic<int> calls{0};
    std::mutex lock;
    std::thread::id thread;   // guarded by lock
    int32_t drawResult = -1;  // guarded by lock

    static void Draw(void* user, int32_t, int32_t, int32_t, int32_t, int32_t) {
        auto* self = static_cast<Overlay*>(user);
        const float rect[4] = {0.45f, 0.55f, 0.45f, 0.55f};
        const float red[4] = {1.0f, 0.0f, 0.0f, 1.0f};
        const int32_t result = GLT_DrawRect(self->handle, rect, red, 1);
        std::lock_guard guard(self->lock);
        self->thread = std::this_thread::get_id();
        self->drawResult = result;
        self->calls++;
    }
};

class GlintraDisplay : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X display (scripts/xvfb-session)";
        m_display = XOpenDisplay(nullptr);
        ASSERT_NE(m_display, nullptr);
        m_handle = GLT_CreateHandle();
        ASSERT_NE(m_handle, 0);
        ASSERT_NE(GLT_Init(m_handle, 8, 0, 1), 0);
        ASSERT_NE(GLT_AddSubPort(m_handle, 0, 0), 0);
    }
    void TearDown() override {
        if (m_handle) {
            EXPECT_NE(GLT_DestroyHandle(m_handle), 0);
        }
        glintra::testing::DisableShm(false);
        if (m_display) XCloseDisplay(m_display);
    }

    Window MakeWindow(int width, int height) {
        const int screen = DefaultScreen(m_display);
        const Window window = XCreateSimpleWindow(
            m_display, RootWindow(m_display, screen), 0, 0, static_cast<unsigned>(width),
            static_cast<unsigned>(height), 0, 0, WhitePixel(m_display, screen));
        // Tests running side by side on one display put their windows over each other; kept
        // off screen, each window's contents read back whole.
        int event = 0, error = 0;
        if (XCompositeQueryExtension(m_display, &event, &error)) {
            XCompositeRedirectWindow(m_display, window, CompositeRedirectAutomatic);
        }
        XMapWindow(m_display, window);
        XSync(m_display, False);
        return window;
    }

    Screen ReadBack(Window window) {
        XWindowAttributes attributes{};
        XGetWindowAttributes(m_display, window, &attributes);
        Screen screen;
        screen.width = attributes.width;
        screen.height = attributes.height;
        XImage* image = XGetImage(m_display, window, 0, 0, static_cast<unsigned>(screen.width),
                                  static_cast<unsigned>(screen.height), AllPlanes, ZPixmap);
        if (!image) return {};
        screen.pixels.resize(static_cast<size_t>(screen.width) * screen.height);
        for (int y = 0; y < screen.height; ++y) {
            for (int x = 0; x < screen.width; ++x) {
                screen.pixels[static_cast<size_t>(y) * screen.width + x] =
                    static_cast<uint32_t>(XGetPixel(image, x, y)) & 0xffffff;
            }
        }
        XDestroyImage(image);
        return screen;
    }

    // Reads the window back until `ok` holds or ten seconds pass (sanitizers on a busy machine);
    // says what it saw last if not.
    ::testing::AssertionResult ShowsWithin(Window window,
                                           const std::function<bool(const Screen&)>& ok) {
        const auto end = Clock::now() + std::chrono::seconds(10);
        Screen last;
        do {
            last = ReadBack(window);
            if (ok(last)) return ::testing::AssertionSuccess();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        } while (Clock::now() < end);
        if (last.pixels.empty()) return ::testing::AssertionFailure() << "no read-back";
        const RedBox red = FindRed(last);
        return ::testing::AssertionFailure()
               << "window " << last.width << "x" << last.height << ", centre " << std::hex
               << last.At(last.width / 2, last.height / 2) << ", corner "
               << last.At(last.width - 1, last.height - 1) << std::dec << ", red x " << red.x0
               << ".." << red.x1 << " y " << red.y0 << ".." << red.y1 << ", presented "
               << glintra::testing::Presented(m_handle);
    }

    bool Show(const std::vector<uint8_t>& picture, int width, int height, Window window) {
        return GLT_UpdateFrameData(m_handle, picture.data(), width, height, 0) != 0 &&
               GLT_Display(m_handle, 0, window) != 0;
    }

    Display* m_display = nullptr;
    GLT_HANDLE m_handle = 0;
};

bool Flat(const Screen& s, uint32_t colour, int x0, int x1, int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            if (s.At(x, y) != colour) return false;
        }
    }
    return true;
}

TEST_F(GlintraDisplay, ShowsEveryGreyLevelAsSentThroughSharedMemoryAndWithout) {
    for (bool shm : {true, false}) {
        SCOPED_TRACE(shm ? "MIT-SHM" : "XPutImage");
        glintra::testing::DisableShm(!shm);
        GLT_DestroyHandle(m_handle);
        m_handle = GLT_CreateHandle();
        ASSERT_NE(GLT_AddSubPort(m_handle, 0, 0), 0);

        const Window window = MakeWindow(256, 40);
        const auto ramp = Picture(256, 40, [](int x, int) { return static_cast<uint8_t>(x); });
        ASSERT_TRUE(Show(ramp, 256, 40, window));
        EXPECT_TRUE(ShowsWithin(window, [](const Screen& s) {
            for (int y = 0; y < s.height; ++y) {
                for (int x = 0; x < s.width; ++x) {
                    if (s.At(x, y) != Grey(x)) return false;
                }
            }
            return s.width == 256;
        }));
        if (shm) {
            EXPECT_TRUE(glintra::testing::PresentsShared(m_handle)) << "Xvfb shares memory";
        } else {
            EXPECT_FALSE(glintra::testing::PresentsShared(m_handle));
        }
        XDestroyWindow(m_display, window);
    }
}

TEST_F(GlintraDisplay, OverlayCallbackDrawsRedCentreBoxOnGlintrasThread) {
    Overlay overlay;
    overlay.handle = m_handle;
    ASSERT_NE(GLT_SetCallBack(m_handle, 0, 2, Overlay::Draw, &overlay), 0);
    const Window window = MakeWindow(420, 266);
    const auto picture = Picture(640, 512, [](int, int) { return uint8_t{90}; });
    ASSERT_TRUE(Show(picture, 640, 512, window));

    EXPECT_TRUE(ShowsWithin(window, [](const Screen& s) {
        // Grey outside the box, the box where the live view wants it.
        return CentreBoxAt(s) && Flat(s, Grey(90), 0, s.width, 0, s.height / 3) &&
               s.At(s.width / 2, s.height / 2) == Grey(90);
    }));
    std::lock_guard guard(overlay.lock);
    EXPECT_GE(overlay.calls, 1);
    EXPECT_NE(overlay.thread, std::this_thread::get_id());
    EXPECT_EQ(overlay.drawResult, 1);
}

TEST_F(GlintraDisplay, RedrawsTheLastPictureWhenExposed) {
    const Window window = MakeWindow(300, 200);
    const auto picture = Picture(150, 100, [](int x, int) { return uint8_t(x < 75 ? 60 : 180); });
    ASSERT_TRUE(Show(picture, 150, 100, window));
    auto shown = [](const Screen& s) {
        return s.width == 300 && s.At(10, 100) == Grey(60) && s.At(290, 100) == Grey(180);
    };
    ASSERT_TRUE(ShowsWithin(window, shown));
    const uint64_t presented = glintra::testing::Presented(m_handle);

    // Glintra's child window, cleared without an expose: the picture is gone ...
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    XQueryTree(m_display, window, &root, &parent, &children, &count);
    ASSERT_EQ(count, 1u);
    const Window child = children[0];
    XFree(children);
    XClearArea(m_display, child, 0, 0, 0, 0, False);
    XSync(m_display, False);
    ASSERT_FALSE(shown(ReadBack(window)));
    // ... and an expose brings it back without a new picture.
    XClearArea(m_display, child, 0, 0, 0, 0, True);
    XSync(m_display, False);
    EXPECT_TRUE(ShowsWithin(window, shown));

    // Unmapping and mapping the window exposes it too.
    XUnmapWindow(m_display, window);
    XMapWindow(m_display, window);
    XSync(m_display, False);
    EXPECT_TRUE(ShowsWithin(window, shown));
    EXPECT_EQ(glintra::testing::Presented(m_handle), presented) << "repainted, not re-rendered";
}

TEST_F(GlintraDisplay, FollowsTheWindowsSize) {
    Overlay overlay;
    overlay.handle = m_handle;
    ASSERT_NE(GLT_SetCallBack(m_handle, 0, 2, Overlay::Draw, &overlay), 0);
    const Window window = MakeWindow(420, 266);
    const auto picture = Picture(640, 512, [](int, int) { return uint8_t{150}; });
    ASSERT_TRUE(Show(picture, 640, 512, window));
    ASSERT_TRUE(ShowsWithin(window, CentreBoxAt));

    for (const auto& [w, h] : {std::pair{640, 480}, std::pair{200, 100}}) {
        XResizeWindow(m_display, window, static_cast<unsigned>(w), static_cast<unsigned>(h));
        XSync(m_display, False);
        EXPECT_TRUE(ShowsWithin(window,
                                [w = w, h = h](const Screen& s) {
                                    // The picture reaches the new far corner and the box moved with
                                    // the size.
                                    return s.width == w && s.height == h &&
                                           s.At(w - 1, h - 1) == Grey(150) && CentreBoxAt(s);
                                }))
            << w << "x" << h;
    }
}

TEST_F(GlintraDisplay, ShowsTheNewestOfPicturesGivenFasterThanDrawn) {
    const Window window = MakeWindow(320, 256);
    // A producer thread gives pictures of changing sizes as fast as it can, as the worker does
    // when the camera changes mode; the last one must be the one on screen.
    const std::pair<int, int> sizes[] = {{640, 512}, {320, 256}, {640, 256}};
    std::vector<std::vector<uint8_t>> pictures;
    for (const auto& size : sizes) {
        const auto grey = static_cast<uint8_t>(size.first / 10 + size.second / 10);
        pictures.push_back(Picture(size.first, size.second, [=](int, int) { return grey; }));
    }
    std::thread producer([&] {
        for (int i = 0; i < 300; ++i) {
            const auto& [w, h] = sizes[i % 3];
            GLT_UpdateFrameData(m_handle, pictures[i % 3].data(), w, h, 0);
            GLT_Display(m_handle, 0, window);
        }
        const auto last = Picture(640, 512, [](int, int) { return uint8_t{222}; });
        GLT_UpdateFrameData(m_handle, last.data(), 640, 512, 0);
        GLT_Display(m_handle, 0, window);
    });
    producer.join();
    EXPECT_TRUE(ShowsWithin(window, [](const Screen& s) {
        return s.width == 320 && Flat(s, Grey(222), 0, s.width, 0, s.height);
    }));
}

TEST_F(GlintraDisplay, WindowsTheServerRefusesAreReportedAndNotFatal) {
    const auto picture = Picture(64, 64, [](int, int) { return uint8_t{77}; });
    ASSERT_NE(GLT_UpdateFrameData(m_handle, picture.data(), 64, 64, 0), 0);

    // A window id that no client holds, and a window destroyed while it is shown.
    const Window gone = MakeWindow(100, 100);
    ASSERT_NE(GLT_Display(m_handle, 0, gone), 0);
    ASSERT_TRUE(ShowsWithin(gone, [](const Screen& s) { return s.At(50, 50) == Grey(77); }));
    XDestroyWindow(m_display, gone);
    XSync(m_display, False);
    for (const uint64_t bad : {uint64_t{gone}, uint64_t{0x3fff0001}}) {
        bool refused = false;
        const auto end = Clock::now() + std::chrono::seconds(5);
        while (!refused && Clock::now() < end) {
            refused = GLT_Display(m_handle, 0, bad) == 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_TRUE(refused) << std::hex << bad;
    }

    // The same handle goes on to show in a good window.
    const Window good = MakeWindow(100, 100);
    ASSERT_NE(GLT_Display(m_handle, 0, good), 0);
    EXPECT_TRUE(ShowsWithin(good, [](const Screen& s) { return s.At(50, 50) == Grey(77); }));
}

TEST_F(GlintraDisplay, CallbackNeverRunsAfterTeardownReturns) {
    // The user value is freed right after each teardown call, as the program's main window is;
    // a callback still running or called later touches freed memory (AddressSanitizer).
    const Window window = MakeWindow(160, 120);
    const auto picture = Picture(160, 120, [](int, int) { return uint8_t{30}; });
    for (int round = 0; round < 3; ++round) {
        for (const auto& teardown : std::vector<std::function<void()>>{
                 [&] { GLT_SetCallBack(m_handle, 0, 2, nullptr, nullptr); },
                 [&] { GLT_DelSubPort(m_handle, 0); },
                 [&] {
                     GLT_DestroyHandle(m_handle);
                     m_handle = GLT_CreateHandle();
                 }}) {
            ASSERT_NE(GLT_AddSubPort(m_handle, 0, 0), 0);
            auto overlay = std::make_unique<Overlay>();
            overlay->handle = m_handle;
            ASSERT_NE(GLT_SetCallBack(m_handle, 0, 2, Overlay::Draw, overlay.get()), 0);
            std::atomic<bool> run{true};
            std::thread producer([&, handle = m_handle] {
                while (run) {
                    GLT_UpdateFrameData(handle, picture.data(), 160, 120, 0);
                    GLT_Display(handle, 0, window);
                }
            });
            while (overlay->calls < 3) std::this_thread::yield();
            teardown();
            overlay.reset();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            run = false;
            producer.join();
        }
    }
}

std::atomic<int> g_programErrors{0};
int CountProgramError(Display*, XErrorEvent*) {
    ++g_programErrors;
    return 0;
}

TEST_F(GlintraDisplay, ProgramsOwnErrorHandlerSeesOnlyItsOwnErrors) {
    XSetErrorHandler(CountProgramError);
    const auto picture = Picture(32, 32, [](int, int) { return uint8_t{5}; });
    ASSERT_NE(GLT_UpdateFrameData(m_handle, picture.data(), 32, 32, 0), 0);
    // Glintra meets a window that does not exist ...
    bool refused = false;
    for (auto end = Clock::now() + std::chrono::seconds(5); !refused && Clock::now() < end;) {
        refused = GLT_Display(m_handle, 0, 0x3fff0002) == 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(refused);
    EXPECT_EQ(g_programErrors, 0) << "Glintra's errors stay Glintra's";
    // ... and the program's own mistake still reaches the program's handler.
    XMapWindow(m_display, 0x3fff0003);
    XSync(m_display, False);
    EXPECT_EQ(g_programErrors, 1);
}

void DestroyFromCallback(void* user, int32_t, int32_t, int32_t, int32_t, int32_t) {
    auto* result = static_cast<std::atomic<int32_t>*>(user);
    // The handle is in the record the test filled before setting the callback.
    result[1] = GLT_DestroyHandle(result[0]);
}

TEST_F(GlintraDisplay, DestroyingTheHandleFromItsOwnCallbackIsRefused) {
    std::atomic<int32_t> record[2] = {m_handle, -1};
    ASSERT_NE(GLT_SetCallBack(m_handle, 0, 2, DestroyFromCallback, record), 0);
    const Window window = MakeWindow(64, 64);
    const auto picture = Picture(64, 64, [](int, int) { return uint8_t{1}; });
    ASSERT_TRUE(Show(picture, 64, 64, window));
    ASSERT_TRUE(glintra::testing::WaitPresented(m_handle, 1, 5000));
    EXPECT_EQ(record[1], 0);
}

}  // namespace
