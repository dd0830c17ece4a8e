// ORVD_DisplayFrame of UYVY frames into a 1280 × 720 window, against the bare path the x11
// device stands on: libyuv conversion, bilinear scale and XShmPutImage of the same frame. Needs
// an X display (scripts/xvfb-session).
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <benchmark/benchmark.h>
#include <libyuv/convert_argb.h>
#include <libyuv/scale_argb.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstdlib>
#include <vector>

#include "orvenna.h"

namespace {

constexpr int kWindowWidth = 1280;
constexpr int kWindowHeight = 720;

std::vector<uint8_t> UyvyFrame(int width, int height) {
    std::vector<uint8_t> frame(static_cast<size_t>(width) * height * 2);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i * 7 + (i >> 11));
    return frame;
}

// A mapped window of the benchmark's own connection.
struct BenchWindow {
    BenchWindow() {
        display = XOpenDisplay(nullptr);
        if (display == nullptr) return;
        XSetWindowAttributes attributes{};
        attributes.override_redirect = True;
        window = XCreateWindow(display, DefaultRootWindow(display), 0, 0, kWindowWidth,
                               kWindowHeight, 0, CopyFromParent, InputOutput, CopyFromParent,
                               CWOverrideRedirect, &attributes);
        XMapRaised(display, window);
        XSync(display, False);
    }
    ~BenchWindow() {
        if (display == nullptr) return;
        XDestroyWindow(display, window);
        XCloseDisplay(display);
    }
    Display* display = nullptr;
    Window window = 0;
};

void DisplayFrame(benchmark::State& state, int width, int height) {
    BenchWindow bench;
    if (bench.display == nullptr) {
        state.SkipWithError("no X display");
        return;
    }
    int32_t handle = -1;
    if (ORVD_InitByDisEngine(&handle, ORVD_ENGINE_DDRAW) != ORVD_OK ||
        ORVD_SetDisplayWindow(handle, bench.window) != ORVD_OK) {
        state.SkipWithError("no display engine");
        return;
    }
    std::vector<uint8_t> bytes = UyvyFrame(width, height);
    tagORVD_FRAME frame{bytes.data(), 0, ORVD_FORMAT_UYVY, static_cast<uint32_t>(width),
                        static_cast<uint32_t>(height)};
    for (auto _ : state) {
        if (ORVD_DisplayFrame(handle, &frame) != ORVD_OK) {
            state.SkipWithError("ORVD_DisplayFrame failed");
            break;
        }
    }
    ORVD_Release(handle);
}

// What the library's path comes down to, with nothing around it.
void BarePath(benchmark::State& state, int width, int height) {
    BenchWindow bench;
    if (bench.display == nullptr || !XShmQueryExtension(bench.display)) {
        state.SkipWithError("no X display with MIT-SHM");
        return;
    }
    Display* display = bench.display;
    XWindowAttributes attributes;
    XGetWindowAttributes(display, bench.window, &attributes);
    XShmSegmentInfo shm{};
    XImage* image =
        XShmCreateImage(display, attributes.visual, static_cast<unsigned>(attributes.depth),
                        ZPixmap, nullptr, &shm, kWindowWidth, kWindowHeight);
    shm.shmid = shmget(IPC_PRIVATE, static_cast<size_t>(image->bytes_per_line) * kWindowHeight,
                       IPC_CREAT | 0600);
    shm.shmaddr = image->data = static_cast<char*>(shmat(shm.shmid, nullptr, 0));
    shm.readOnly = False;
    XShmAttach(display, &shm);
    XSync(display, False);
    shmctl(shm.shmid, IPC_RMID, nullptr);
    GC gc = XCreateGC(display, bench.window, 0, nullptr);

    const std::vector<uint8_t> frame = UyvyFrame(width, height);
    std::vector<uint8_t> argb(static_cast<size_t>(width) * height * 4);
    for (auto _ : state) {
        libyuv::UYVYToARGB(frame.data(), width * 2, argb.data(), width * 4, width, height);
        libyuv::ARGBScale(argb.data(), width * 4, width, height,
                          reinterpret_cast<uint8_t*>(image->data), image->bytes_per_line,
                          kWindowWidth, kWindowHeight, libyuv::kFilterBilinear);
        XShmPutImage(display, bench.window, gc, image, 0, 0, 0, 0, kWindowWidth, kWindowHeight,
                     False);
        XSync(display, False);
    }
    XFreeGC(display, gc);
    XShmDetach(display, &shm);
    XSync(display, False);
    image->data = nullptr;
    XDestroyImage(image);
    shmdt(shm.shmaddr);
}

void ORVD_DisplayFrame_Uyvy1920x1080(benchmark::State& state) {
    DisplayFrame(state, 1920, 1080);
}
void Bare_Uyvy1920x1080(benchmark::State& state) {
    BarePath(state, 1920, 1080);
}
void ORVD_DisplayFrame_Uyvy640x512(benchmark::State& state) {
    DisplayFrame(state, 640, 512);
}
void Bare_Uyvy640x512(benchmark::State& state) {
    BarePath(state, 640, 512);
}

BENCHMARK(ORVD_DisplayFrame_Uyvy1920x1080)->Unit(benchmark::kMillisecond);
BENCHMARK(Bare_Uyvy1920x1080)->Unit(benchmark::kMillisecond);
BENCHMARK(ORVD_DisplayFrame_Uyvy640x512)->Unit(benchmark::kMillisecond);
BENCHMARK(Bare_Uyvy640x512)->Unit(benchmark::kMillisecond);

}  // namespace
