// Glintra when the X server goes away under it: the process lives on, the loss is reported, and
// the same handle shows pictures on the next server. Runs Xvfb servers of its own.
#include "glintra.h"
#include "glintra_internal.h"

// GoogleTest first: Xlib's macros (None, Bool) would rename its declarations.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

// When Glintra's exit handler returns after a lost connection, Xlib (1.8) has already released
// its display lock in _XIOError, and the Xlib call that met the loss releases it once more on its
// way out. The second unlock is Xlib's own and harmless with its plain mutex; ThreadSanitizer is
// told to pass over lock misuse inside libX11 in this program only.
extern "C" const char* __tsan_default_suppressions() {
    return "mutex:libX11.so\n";
}

using Clock = std::chrono::steady_clock;

namespace {

std::vector<uint8_t> Picture(int width, int height, uint8_t grey) {
    std::vector<uint8_t> out;
    for (int i = 0; i < width * height; ++i) {
        out.push_back(0x80);
        out.push_back(grey);
    }
    return out;
}

uint32_t Grey(int g) {
    return static_cast<uint32_t>(g) * 0x010101u;
}

}  // namespace

namespace {

// An Xvfb of the test's own, on a display number that the server picks itself; ended by its PID.
class PrivateServer {
  public:
    bool Start() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 3);  // dup2 clears close-on-exec
        std::string a0 = "Xvfb", a1 = "-displayfd", a2 = "3", a3 = "-nolisten", a4 = "tcp",
                    a5 = "-screen", a6 = "0", a7 = "320x240x24";
        char* argv[] = {a0.data(), a1.data(), a2.data(), a3.data(), a4.data(),
                        a5.data(), a6.data(), a7.data(), nullptr};
        const int spawned = posix_spawnp(&m_pid, "Xvfb", &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        if (spawned != 0) {
            m_pid = -1;
            close(fds[0]);
            return false;
        }
        // The server writes its display number when it accepts connections.
        std::string number;
        pollfd pfd{fds[0], POLLIN, 0};
        char c = 0;
        while (poll(&pfd, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
        close(fds[0]);
        if (number.empty()) return false;
        m_name = ":" + number;
        return true;
    }
    void Stop() {
        if (m_pid <= 0) return;
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
    ~PrivateServer() { Stop(); }
    const std::string& Name() const { return m_name; }

  private:
    pid_t m_pid = -1;
    std::string m_name;
};

bool Pixel(Display* display, Window window, int x, int y, uint32_t* out) {
    XImage* image = XGetImage(display, window, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image) return false;
    *out = static_cast<uint32_t>(XGetPixel(image, 0, 0)) & 0xffffff;
    XDestroyImage(image);
    return true;
}

TEST(GlintraServerLoss, SurvivesTheServerGoingAwayAndShowsOnTheNextOne) {
    PrivateServer first;
    if (!first.Start()) GTEST_SKIP() << "needs Xvfb";
    setenv("DISPLAY", first.Name().c_str(), 1);
    // This connection dies with the server and is never touched again: Xlib would end the
    // process for it, as it is not Glintra's. It stays reachable for the leak checker.
    static Display* abandoned = XOpenDisplay(nullptr);
    ASSERT_NE(abandoned, nullptr);
    const Window old =
        XCreateSimpleWindow(abandoned, DefaultRootWindow(abandoned), 0, 0, 100, 100, 0, 0, 0);
    XMapWindow(abandoned, old);
    XSync(abandoned, False);

    const GLT_HANDLE handle = GLT_CreateHandle();
    ASSERT_NE(GLT_AddSubPort(handle, 0, 0), 0);
    const auto picture = Picture(50, 50, 123);
    ASSERT_NE(GLT_UpdateFrameData(handle, picture.data(), 50, 50, 0), 0);
    ASSERT_NE(GLT_Display(handle, 0, old), 0);
    ASSERT_TRUE(glintra::testing::WaitPresented(handle, 1, 5000));

    first.Stop();
    bool refused = false;
    for (auto end = Clock::now() + std::chrono::seconds(5); !refused && Clock::now() < end;) {
        GLT_UpdateFrameData(handle, picture.data(), 50, 50, 0);
        refused = GLT_Display(handle, 0, old) == 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(refused) << "the lost server is reported";

    PrivateServer second;
    ASSERT_TRUE(second.Start());
    setenv("DISPLAY", second.Name().c_str(), 1);
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    const Window window =
        XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 100, 100, 0, 0, 0);
    XMapWindow(display, window);
    XSync(display, False);
    uint32_t shown = 0;
    for (auto end = Clock::now() + std::chrono::seconds(10); Clock::now() < end;) {
        GLT_Display(handle, 0, window);
        if (Pixel(display, window, 50, 50, &shown) && shown == Grey(123)) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(shown, Grey(123)) << "the handle reconnects to the next server";
    EXPECT_NE(GLT_DestroyHandle(handle), 0);
    XCloseDisplay(display);
}

}  // namespace
