// Glintra on a real X display (pictures read back from the window, the overlay, expose, resize, bad
// windows, teardown, a lost X server); then without X, the overlay's pixels and the C API.
#include "glintra.h"
#include "glintra_internal.h"
#include "picture.h"

// GoogleTest first: Xlib's macros (None, Bool) would rename its declarations.
#include <gtest/gtest.h>

#include <X11/extensions/Xcomposite.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/child_process.h"
#include "common/wait_until.h"
#include "common/x11_readback.h"
#include "pictures.h"

// When Glintra's exit handler returns after a lost connection, Xlib (1.8) has already released
// its display lock in _XIOError, and the Xlib call that met the loss releases it once more on its
// way out. The second unlock is Xlib's own and harmless with its plain mutex; ThreadSanitizer is
// told to pass over lock misuse inside libX11 in this program only.
extern "C" const char* __tsan_default_suppressions() {
    return "mutex:libX11.so\n";
}

namespace {

using namespace glintra_test;
using namespace std::chrono_literals;
using kx_test::Screenshot;

// The centre box spans 0.45 to 0.55 of the window in each direction, to a pixel.
bool CentreBoxAt(const Screenshot& s) {
    const RedBox box = FindRed(s);
    auto near = [](int got, double want) { return std::abs(got - want) <= 1.0; };
    return near(box.x0, 0.45 * s.width) && near(box.x1 + 1, 0.55 * s.width) && near(box.y0, 0.45 * s.height) &&
           near(box.y1 + 1, 0.55 * s.height);
}

// Every pixel of the first `rows` rows is `colour`.
bool RowsAre(const Screenshot& s, uint32_t colour, int rows) {
    return std::all_of(s.pixels.begin(), s.pixels.begin() + static_cast<ptrdiff_t>(rows) * s.width,
                       [&](uint32_t p) { return p == colour; });
}

const float kRect[4] = {0.45f, 0.55f, 0.45f, 0.55f};  // the live view's centre box
const float kOpaqueRed[4] = {1, 0, 0, 1};

// The live view's overlay, the red centre box. Counts as wrong a call on the thread that made it,
// a box not drawn, and the handle destroyed from inside its own callback.
struct Overlay {
    GLT_HANDLE handle = 0;
    std::thread::id maker = std::this_thread::get_id();
    std::atomic<int> calls{0}, wrong{0};

    static void Draw(void* user, int32_t, int32_t, int32_t, int32_t, int32_t) {
        auto* self = static_cast<Overlay*>(user);
        const bool drawn = GLT_DrawRect(self->handle, kRect, kOpaqueRed, 1) == 1;
        const bool destroyed = GLT_DestroyHandle(self->handle) != 0;
        if (!drawn || destroyed || std::this_thread::get_id() == self->maker) ++self->wrong;
        ++self->calls;
    }
};

class GlintraDisplay : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X display (scripts/xvfb-session)";
        m_display = XOpenDisplay(nullptr);
        ASSERT_NE(m_display, nullptr);
        m_handle = GLT_CreateHandle();
        ASSERT_NE(GLT_Init(m_handle, 8, 0, 1), 0);
        ASSERT_NE(GLT_AddSubPort(m_handle, 0, 0), 0);
    }
    void TearDown() override {
        EXPECT_TRUE(!m_handle || GLT_DestroyHandle(m_handle) != 0);
        glintra::testing::DisableShm(false);
        if (m_display) XCloseDisplay(m_display);
    }

    Window MakeWindow(int width, int height, Display* display = nullptr) {
        if (!display) display = m_display;
        const int screen = DefaultScreen(display);
        const Window window = XCreateSimpleWindow(
            display, RootWindow(display, screen), 0, 0, static_cast<unsigned>(width),
            static_cast<unsigned>(height), 0, 0, WhitePixel(display, screen));
        // Tests running side by side on one display put their windows over each other; kept
        // off screen, each window's contents read back whole.
        int event = 0, error = 0;
        if (XCompositeQueryExtension(display, &event, &error)) {
            XCompositeRedirectWindow(display, window, CompositeRedirectAutomatic);
        }
        XMapWindow(display, window);
        XSync(display, False);
        return window;
    }

    // Reads the window back until `ok` holds or ten seconds pass (sanitizers on a busy machine).
    bool ShowsWithin(Window window, const std::function<bool(const Screenshot&)>& ok) {
        Screenshot s;
        return kx_test::WaitUntil(
            [&] { return !(s = kx_test::ReadWindow(m_display, window)).Empty() && ok(s); }, 10s,
            [] { std::this_thread::sleep_for(8ms); });
    }

    bool Show(const std::vector<uint8_t>& picture, int width, int height, Window window) {
        return GLT_UpdateFrameData(m_handle, picture.data(), width, height, 0) != 0 &&
               GLT_Display(m_handle, 0, window) != 0;
    }

    Display* m_display = nullptr;
    GLT_HANDLE m_handle = 0;
};

TEST_F(GlintraDisplay, ShowsEveryGreyLevelAsSentThroughSharedMemoryAndWithout) {
    for (bool shm : {true, false}) {
        SCOPED_TRACE(shm ? "MIT-SHM" : "XPutImage");
        glintra::testing::DisableShm(!shm);
        GLT_DestroyHandle(m_handle);
        m_handle = GLT_CreateHandle();
        ASSERT_NE(GLT_AddSubPort(m_handle, 0, 0), 0);

        const Window window = MakeWindow(256, 40);
        ASSERT_TRUE(Show(Picture(256, 40, [](int x, int) { return static_cast<uint8_t>(x); }), 256, 40, window));
        std::vector<uint32_t> ramp;
        for (int i = 0; i < 256 * 40; ++i) ramp.push_back(Grey(i % 256));
        EXPECT_TRUE(ShowsWithin(
            window, [&](const Screenshot& s) { return s.width == 256 && s.pixels == ramp; }));
        EXPECT_EQ(glintra::testing::PresentsShared(m_handle), shm) << "Xvfb shares memory";
    }
}

TEST_F(GlintraDisplay, OverlayDrawsTheRedCentreBoxOnGlintrasThreadAtEverySizeAndExposeRepaintsIt) {
    Overlay overlay;
    overlay.handle = m_handle;
    ASSERT_NE(GLT_SetCallBack(m_handle, 0, 2, Overlay::Draw, &overlay), 0);
    const Window window = MakeWindow(420, 266);
    ASSERT_TRUE(Show(Flat(640, 512, 90), 640, 512, window));
    // Grey outside the box up to the far corner, the box where the live view wants it.
    auto shown = [](int w, int h) {
        return [=](const Screenshot& s) {
            return s.width == w && s.height == h && CentreBoxAt(s) && RowsAre(s, Grey(90), h / 3) &&
                   s.At(w / 2, h / 2) == Grey(90) && s.At(w - 1, h - 1) == Grey(90);
        };
    };
    ASSERT_TRUE(ShowsWithin(window, shown(420, 266)));

    // Glintra's child window, cleared without an expose: the picture is gone ...
    const uint64_t presented = glintra::testing::Presented(m_handle);
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    XQueryTree(m_display, window, &root, &parent, &children, &count);
    ASSERT_EQ(count, 1u);
    const Window child = children[0];
    XFree(children);
    XClearArea(m_display, child, 0, 0, 0, 0, False);
    ASSERT_FALSE(shown(420, 266)(kx_test::ReadWindow(m_display, window)));
    // ... and an expose brings it back without a new picture.
    XClearArea(m_display, child, 0, 0, 0, 0, True);
    EXPECT_TRUE(ShowsWithin(window, shown(420, 266)));
    EXPECT_EQ(glintra::testing::Presented(m_handle), presented) << "repainted, not re-rendered";

    for (const auto& [w, h] : {std::pair{640, 480}, std::pair{200, 100}}) {
        XResizeWindow(m_display, window, static_cast<unsigned>(w), static_cast<unsigned>(h));
        EXPECT_TRUE(ShowsWithin(window, shown(w, h))) << w << "x" << h;
    }
    EXPECT_EQ(overlay.wrong, 0);
}

std::atomic<int> g_programErrors{0};

TEST_F(GlintraDisplay,
       WindowsTheServerRefusesAreReportedToTheCallerAloneAndTheNextShowsTheNewestPicture) {
    XSetErrorHandler([](Display*, XErrorEvent*) { return ++g_programErrors, 0; });
    const auto picture = Flat(64, 64, 77);
    ASSERT_NE(GLT_UpdateFrameData(m_handle, picture.data(), 64, 64, 0), 0);
    // A window destroyed while it is shown, and a window id that no client holds.
    const Window gone = MakeWindow(100, 100);
    ASSERT_NE(GLT_Display(m_handle, 0, gone), 0);
    ASSERT_TRUE(ShowsWithin(gone, [](const Screenshot& s) { return s.At(50, 50) == Grey(77); }));
    XDestroyWindow(m_display, gone);
    XSync(m_display, False);
    // The server reports a bad window after the request that met it, so a later call fails.
    for (const Window bad : {gone, Window{0x3fff0001}}) {
        EXPECT_TRUE(kx_test::WaitUntil([&] { return GLT_Display(m_handle, 0, bad) == 0; }, 5s))
            << bad;
    }
    EXPECT_EQ(g_programErrors, 0) << "Glintra's errors stay Glintra's";
    // The program's own mistake still reaches the program's handler ...
    XMapWindow(m_display, 0x3fff0003);
    XSync(m_display, False);
    EXPECT_EQ(g_programErrors, 1);
    XSetErrorHandler(nullptr);
    // ... and the same handle goes on to show in a good window: pictures of changing sizes as fast
    // as they come, as from the worker when the camera changes mode, the last one on screen.
    const Window good = MakeWindow(320, 256);
    const std::pair<int, int> sizes[] = {{640, 512}, {320, 256}, {640, 256}};
    std::vector<std::vector<uint8_t>> pictures;
    for (const auto& [w, h] : sizes)
        pictures.push_back(Flat(w, h, static_cast<uint8_t>(w / 10 + h / 10)));
    for (int i = 0; i < 300; ++i)
        Show(pictures[i % 3], sizes[i % 3].first, sizes[i % 3].second, good);
    ASSERT_TRUE(Show(Flat(640, 512, 222), 640, 512, good));
    EXPECT_TRUE(ShowsWithin(good, [](const Screenshot& s) {
        return s.width == 320 && RowsAre(s, Grey(222), s.height);
    }));
}

TEST_F(GlintraDisplay, CallbackNeverRunsAfterTeardownReturns) {
    // The user value is freed right after each teardown call, as the program's main window is;
    // a callback still running or called later touches freed memory (AddressSanitizer).
    const Window window = MakeWindow(160, 120);
    const auto picture = Flat(160, 120, 30);
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
            const bool drawn = kx_test::WaitUntil([&] { return overlay->calls >= 3; });
            teardown();
            overlay.reset();
            std::this_thread::sleep_for(20ms);
            run = false;
            producer.join();
            ASSERT_TRUE(drawn);
        }
    }
}

// The process lives on, the loss is reported, and the same handle shows pictures on the next
// server.
TEST_F(GlintraDisplay, SurvivesTheServerGoingAwayAndShowsOnTheNextOne) {
    kx_test::XvfbProcess first;
    if (!first.Start("320x240x24")) GTEST_SKIP() << "needs Xvfb";
    setenv("DISPLAY", first.Name().c_str(), 1);
    // This connection dies with the server and is never touched again: Xlib would end the
    // process for it, as it is not Glintra's. It stays reachable for the leak checker.
    static Display* abandoned = XOpenDisplay(nullptr);
    ASSERT_NE(abandoned, nullptr);
    const Window old = MakeWindow(100, 100, abandoned);
    const auto picture = Flat(50, 50, 123);
    ASSERT_TRUE(Show(picture, 50, 50, old));
    ASSERT_TRUE(glintra::testing::WaitPresented(m_handle, 1, 5000));

    first.Stop();
    EXPECT_TRUE(kx_test::WaitUntil([&] { return !Show(picture, 50, 50, old); }, 5s))
        << "the lost server is reported";

    kx_test::XvfbProcess second;
    ASSERT_TRUE(second.Start("320x240x24"));
    setenv("DISPLAY", second.Name().c_str(), 1);
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    const Window window = MakeWindow(100, 100, display);
    EXPECT_TRUE(kx_test::WaitUntil(
        [&] {
            GLT_Display(m_handle, 0, window);
            const Screenshot shot = kx_test::ReadWindow(display, window);
            return !shot.Empty() && shot.At(50, 50) == Grey(123);
        },
        10s, [] { std::this_thread::sleep_for(50ms); }))
        << "the handle reconnects to the next server";
    EXPECT_NE(GLT_DestroyHandle(std::exchange(m_handle, 0)), 0);  // while its server runs
    XCloseDisplay(display);
}

// Without X from here on: a picture in memory for the overlay painter.
struct Image {
    Image(int w, int h) : width(w), height(h), pixels(static_cast<size_t>(w) * h, 0xdeadbeef) {}
    uint32_t At(int x, int y) const {
        return pixels[static_cast<size_t>(y) * width + x] & 0xffffff;
    }
    int width, height;
    std::vector<uint32_t> pixels;
};

// Draws one rectangle over fresh grey 100 pixels, as after a conversion; whether it was taken.
bool Draw(glintra::OverlayPainter& painter, Image& image, const float rect[4],
          const float colour[4], int lineWidth) {
    std::fill(image.pixels.begin(), image.pixels.end(), Grey(100));
    painter.Begin({reinterpret_cast<uint8_t*>(image.pixels.data()), image.width * 4, image.width,
                   image.height});
    const bool taken = painter.DrawRect(rect, colour, lineWidth);
    painter.End();
    return taken;
}

TEST(GlintraOverlay, RectanglesCoverTheirNormalisedPixels) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    constexpr RedBox kNone{420, -1, 266, -1, 0}, kWhole{0, 419, 0, 265, 420 * 266};
    constexpr RedBox kOutline{189, 230, 120, 145, 2 * 42 + 2 * 24};
    using Quad = std::array<float, 4>;
    constexpr Quad kBox{0.45f, 0.55f, 0.45f, 0.55f}, kRed{1, 0, 0, 1}, kAll{0, 1, 0, 1};
    struct Case {
        const char* name;
        Quad rect, colour;
        int lineWidth;
        bool taken;
        RedBox expected;
    } cases[] = {
        // The centre box of the live view on a 420 x 266 window: a one-pixel outline.
        {"outline", kBox, kRed, 1, true, kOutline},
        {"3 wide", kBox, kRed, 3, true, {189, 230, 120, 145, 6 * 42 + 6 * 20}},
        {"filled", kBox, kRed, 0, true, {189, 230, 120, 145, 42 * 26}},
        {"swapped edges", {0.55f, 0.45f, 0.55f, 0.45f}, kRed, 1, true, kOutline},
        // Far outside the picture: clipped, no overflow.
        {"huge", {-1e30f, 1e30f, -1e30f, 1e30f}, kRed, 0, true, kWhole},
        {"beside the picture", {2.0f, 3.0f, 0.0f, 1.0f}, kRed, 1, true, kNone},
        {"channels out of range clamp", kAll, {4.0f, -1.0f, 0.0f, 1.0f}, 0, true, kWhole},
        {"NaN edge", {0, nan, 0, 1}, kRed, 1, false, kNone},
        {"infinite colour", kAll, {1, 0, inf, 1}, 1, false, kNone},
        {"negative width", kAll, kRed, -1, false, kNone},
    };
    Image image(420, 266);
    for (const auto& c : cases) {
        glintra::OverlayPainter painter;
        EXPECT_EQ(Draw(painter, image, c.rect.data(), c.colour.data(), c.lineWidth), c.taken)
            << c.name;
        EXPECT_TRUE(FindRed(image) == c.expected) << c.name;
    }
    // Half-transparent red over grey is half red.
    const Quad halfRed{1, 0, 0, 0.5f};
    glintra::OverlayPainter painter;
    Draw(painter, image, kAll.data(), halfRed.data(), 0);
    EXPECT_NEAR(static_cast<int>(image.At(5, 5) >> 16), (255 + 100) / 2, 1);
    EXPECT_EQ(image.At(5, 5) & 0xffff, Grey(100) / 2 & 0xffff);
}

void IgnoreOverlay(void*, int32_t, int32_t, int32_t, int32_t, int32_t) {}

TEST(GlintraApi, BadHandlesAndArgumentsGiveZeroAndWithoutADisplayOnlyDisplayFails) {
    unsetenv("DISPLAY");
    const GLT_HANDLE good = GLT_CreateHandle();
    ASSERT_NE(good, 0);
    ASSERT_NE(GLT_AddSubPort(good, 0, 0), 0);
    const GLT_HANDLE destroyed = GLT_CreateHandle();
    ASSERT_NE(GLT_DestroyHandle(destroyed), 0);
    const std::vector<uint8_t> picture(size_t{32}, 0x80);
    const uint8_t* pixels = picture.data();

    const std::pair<const char*, std::function<int32_t(GLT_HANDLE)>> api[] = {
        {"Init", [](GLT_HANDLE h) { return GLT_Init(h, 8, 0, 1); }},
        {"AddSubPort", [](GLT_HANDLE h) { return GLT_AddSubPort(h, 0, 0); }},
        {"SetCallBack",
         [](GLT_HANDLE h) { return GLT_SetCallBack(h, 0, 2, IgnoreOverlay, nullptr); }},
        {"UpdateFrameData", [=](GLT_HANDLE h) { return GLT_UpdateFrameData(h, pixels, 4, 4, 0); }},
        {"Display", [](GLT_HANDLE h) { return GLT_Display(h, 0, 1); }},
        {"DelSubPort", [](GLT_HANDLE h) { return GLT_DelSubPort(h, 0); }},
        {"DestroyHandle", [](GLT_HANDLE h) { return GLT_DestroyHandle(h); }},
    };
    for (GLT_HANDLE bad : {0, -1, 123456789, destroyed}) {
        for (const auto& [name, call] : api)
            EXPECT_EQ(call(bad), 0) << name << " on handle " << bad;
    }
    const std::pair<const char*, std::function<int32_t()>> cases[] = {
        {"Init with another format", [=] { return GLT_Init(good, 7, 0, 1); }},
        {"Init with an unknown filter", [=] { return GLT_Init(good, 8, 0, 2); }},
        {"AddSubPort 1", [=] { return GLT_AddSubPort(good, 1, 0); }},
        {"SetCallBack on sub-port 1",
         [=] { return GLT_SetCallBack(good, 1, 2, IgnoreOverlay, nullptr); }},
        {"SetCallBack of kind 1",
         [=] { return GLT_SetCallBack(good, 0, 1, IgnoreOverlay, nullptr); }},
        {"UpdateFrameData without image",
         [=] { return GLT_UpdateFrameData(good, nullptr, 4, 4, 0); }},
        {"UpdateFrameData width 0", [=] { return GLT_UpdateFrameData(good, pixels, 0, 4, 0); }},
        {"UpdateFrameData height -1", [=] { return GLT_UpdateFrameData(good, pixels, 4, -1, 0); }},
        {"UpdateFrameData too wide",
         [=] { return GLT_UpdateFrameData(good, pixels, GLT_MAX_SIDE + 1, 1, 0); }},
        {"Display before any picture", [=] { return GLT_Display(good, 0, 1); }},
        {"DrawRect outside the callback", [=] { return GLT_DrawRect(good, kRect, kOpaqueRed, 1); }},
        {"DrawRect without rect", [=] { return GLT_DrawRect(good, nullptr, kOpaqueRed, 1); }},
        {"DrawRect without colour", [=] { return GLT_DrawRect(good, kRect, nullptr, 1); }},
        {"DelSubPort 1", [=] { return GLT_DelSubPort(good, 1); }},
    };
    for (const auto& [what, call] : cases) EXPECT_EQ(call(), 0) << what;

    // What the handle refused left it working.
    EXPECT_NE(GLT_Init(good, GLT_FORMAT_GREY_UYVY, 0, GLT_SCALE_BILINEAR), 0);
    EXPECT_NE(GLT_SetCallBack(good, 0, GLT_CALLBACK_OVERLAY, IgnoreOverlay, nullptr), 0);
    EXPECT_NE(GLT_UpdateFrameData(good, pixels, 4, 4, 0), 0);
    EXPECT_EQ(GLT_Display(good, 0, 0x200001), 0) << "no X display";
    EXPECT_EQ(GLT_Display(good, 0, 0x200001), 0) << "no X display, second try";
    EXPECT_NE(GLT_DelSubPort(good, 0), 0);
    EXPECT_EQ(GLT_DelSubPort(good, 0), 0) << "deleted twice";
    EXPECT_EQ(GLT_SetCallBack(good, 0, 2, IgnoreOverlay, nullptr), 0) << "sub-port deleted";
    EXPECT_EQ(GLT_Display(good, 0, 1), 0) << "sub-port deleted";
    EXPECT_NE(GLT_DestroyHandle(good), 0);
}

TEST(GlintraApi, HandlesAreDistinctAndSurviveConcurrentUse) {
    // Four threads create, feed and destroy handles at once; each sees only its own handles.
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            const std::vector<uint8_t> picture(size_t{32} * 8 * 2, 0x80);
            for (int i = 0; i < 200; ++i) {
                const GLT_HANDLE h = GLT_CreateHandle();
                const bool ok = h != 0 && GLT_AddSubPort(h, 0, 0) &&
                                GLT_UpdateFrameData(h, picture.data(), 32, 8, 0) &&
                                GLT_DestroyHandle(h) && !GLT_DestroyHandle(h);
                if (!ok) ++failures[t];
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}

}  // namespace
