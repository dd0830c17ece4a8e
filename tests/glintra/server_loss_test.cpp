// Glintra when the X server goes away under it: the process lives on, the loss is reported, and
// the same handle shows pictures on the next server. Runs Xvfb servers of its own.
#include "glintra.h"
#include "glintra_internal.h"

// GoogleTest first: Xlib's macros (None, Bool) would rename its declarations.
#include <gtest/gtest.h>

#include <cstdlib>

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

using namespace std::chrono_literals;
using glintra_test::Grey;

Window MappedWindow(Display* display) {
    const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 100, 100, 0, 0, 0);
    XMapWindow(display, window);
    XSync(display, False);
    return window;
}

TEST(GlintraServerLoss, SurvivesTheServerGoingAwayAndShowsOnTheNextOne) {
    kx_test::XvfbProcess first;
    if (!first.Start("320x240x24")) GTEST_SKIP() << "needs Xvfb";
    setenv("DISPLAY", first.Name().c_str(), 1);
    // This connection dies with the server and is never touched again: Xlib would end the
    // process for it, as it is not Glintra's. It stays reachable for the leak checker.
    static Display* abandoned = XOpenDisplay(nullptr);
    ASSERT_NE(abandoned, nullptr);
    const Window old = MappedWindow(abandoned);

    const GLT_HANDLE handle = GLT_CreateHandle();
    ASSERT_NE(GLT_AddSubPort(handle, 0, 0), 0);
    const auto picture = glintra_test::Flat(50, 50, 123);
    ASSERT_NE(GLT_UpdateFrameData(handle, picture.data(), 50, 50, 0), 0);
    ASSERT_NE(GLT_Display(handle, 0, old), 0);
    ASSERT_TRUE(glintra::testing::WaitPresented(handle, 1, 5000));

    first.Stop();
    EXPECT_TRUE(kx_test::WaitUntil([&] {
        GLT_UpdateFrameData(handle, picture.data(), 50, 50, 0);
        return GLT_Display(handle, 0, old) == 0;
    }, 5s)) << "the lost server is reported";

    kx_test::XvfbProcess second;
    ASSERT_TRUE(second.Start("320x240x24"));
    setenv("DISPLAY", second.Name().c_str(), 1);
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    const Window window = MappedWindow(display);
    EXPECT_TRUE(kx_test::WaitUntil([&] {
        GLT_Display(handle, 0, window);
        const kx_test::Screenshot shot = kx_test::ReadWindow(display, window);
        return !shot.Empty() && shot.At(50, 50) == Grey(123);
    }, 10s, [] { std::this_thread::sleep_for(50ms); })) << "the handle reconnects to the next server";
    EXPECT_NE(GLT_DestroyHandle(handle), 0);
    XCloseDisplay(display);
}

}  // namespace
