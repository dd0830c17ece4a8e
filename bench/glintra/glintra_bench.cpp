// Time per presented picture: Glintra (hand-off to its drawing thread, conversion, scaling, the
// centre box overlay, MIT-SHM put) against the bare path of the same libyuv steps and XShmPutImage
// on the benchmark's own thread. The bare and Glintra rows time each alone; the VsBare rows
// alternate the two picture by picture, so that both see the same load on the machine and the
// X server, and report `vs_bare` = Glintra's time over the bare path's and `cpu_vs_bare` = the
// same for the CPU time of this process.
#include "glintra.h"
#include "glintra_internal.h"

#include <benchmark/benchmark.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xcomposite.h>
#include <libyuv/convert_argb.h>
#include <libyuv/planar_functions.h>
#include <libyuv/scale.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPictureWidth = 640;
constexpr int kPictureHeight = 512;

std::vector<uint8_t> Picture(int frame) {
    std::vector<uint8_t> out(static_cast<size_t>(kPictureWidth) * kPictureHeight * 2);
    for (size_t i = 0; i < out.size(); i += 2) {
        out[i] = 0x80;
        out[i + 1] = static_cast<uint8_t>((i / 2 + static_cast<size_t>(frame) * 7) % 251);
    }
    return out;
}

double ProcessCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// A display that has just been started may refuse its first connections for a moment.
Display* OpenDisplay() {
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (Display* display = XOpenDisplay(nullptr)) return display;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return nullptr;
}

Window MakeWindow(Display* display, int width, int height) {
    const Window window =
        XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, static_cast<unsigned>(width),
                            static_cast<unsigned>(height), 0, 0, 0);
    // The two paths' windows overlap on the screen; the one below would have its puts clipped
    // away. Kept off screen, each window takes every pixel it is given.
    int event = 0, error = 0;
    if (XCompositeQueryExtension(display, &event, &error)) {
        XCompositeRedirectWindow(display, window, CompositeRedirectAutomatic);
    }
    XMapWindow(display, window);
    XSync(display, False);
    return window;
}

// libyuv conversion and scaling into a shared-memory image, XShmPutImage, XSync: nothing else.
class BarePath {
  public:
    BarePath(int width, int height) : m_width(width), m_height(height) {
        m_display = OpenDisplay();
        if (!m_display || !XShmQueryExtension(m_display)) return;
        m_window = MakeWindow(m_display, width, height);
        m_gc = XCreateGC(m_display, m_window, 0, nullptr);
        m_image = XShmCreateImage(m_display, DefaultVisual(m_display, DefaultScreen(m_display)), 24,
                                  ZPixmap, nullptr, &m_shm, static_cast<unsigned>(width),
                                  static_cast<unsigned>(height));
        m_shm.shmid = shmget(IPC_PRIVATE, static_cast<size_t>(m_image->bytes_per_line) * height,
                             IPC_CREAT | 0600);
        m_shm.shmaddr = m_image->data = static_cast<char*>(shmat(m_shm.shmid, nullptr, 0));
        XShmAttach(m_display, &m_shm);
        XSync(m_display, False);
        shmctl(m_shm.shmid, IPC_RMID, nullptr);
        m_grey.resize(static_cast<size_t>(kPictureWidth) * kPictureHeight);
        m_scaled.resize(static_cast<size_t>(width) * height);
    }
    ~BarePath() {
        if (m_image) {
            XShmDetach(m_display, &m_shm);
            XSync(m_display, False);
            shmdt(m_shm.shmaddr);
            m_image->data = nullptr;
            XDestroyImage(m_image);
            XFreeGC(m_display, m_gc);
            XDestroyWindow(m_display, m_window);
        }
        if (m_display) XCloseDisplay(m_display);
    }
    bool Ready() const { return m_image != nullptr; }

    void Present(const std::vector<uint8_t>& picture) {
        libyuv::UYVYToY(picture.data(), kPictureWidth * 2, m_grey.data(), kPictureWidth,
                        kPictureWidth, kPictureHeight);
        libyuv::ScalePlane(m_grey.data(), kPictureWidth, kPictureWidth, kPictureHeight,
                           m_scaled.data(), m_width, m_width, m_height, libyuv::kFilterBilinear);
        libyuv::J400ToARGB(m_scaled.data(), m_width, reinterpret_cast<uint8_t*>(m_image->data),
                           m_image->bytes_per_line, m_width, m_height);
        XShmPutImage(m_display, m_window, m_gc, m_image, 0, 0, 0, 0, static_cast<unsigned>(m_width),
                     static_cast<unsigned>(m_height), False);
        XSync(m_display, False);
    }

  private:
    int m_width;
    int m_height;
    Display* m_display = nullptr;
    Window m_window = 0;
    GC m_gc = nullptr;
    XImage* m_image = nullptr;
    XShmSegmentInfo m_shm{};
    std::vector<uint8_t> m_grey;
    std::vector<uint8_t> m_scaled;
};

void DrawCentreBox(void* user, int32_t, int32_t, int32_t, int32_t, int32_t) {
    const float rect[4] = {0.45f, 0.55f, 0.45f, 0.55f};
    const float red[4] = {1.0f, 0.0f, 0.0f, 1.0f};
    GLT_DrawRect(*static_cast<const GLT_HANDLE*>(user), rect, red, 1);
}

// Glintra as the program uses it, with the centre box overlay; Present returns once the drawing
// thread has put the picture and the server has taken it.
class GlintraPath {
  public:
    GlintraPath(int width, int height) {
        m_display = OpenDisplay();
        if (!m_display) return;
        m_window = MakeWindow(m_display, width, height);
        m_handle = GLT_CreateHandle();
        GLT_Init(m_handle, GLT_FORMAT_GREY_UYVY, 0, GLT_SCALE_BILINEAR);
        GLT_AddSubPort(m_handle, 0, 0);
        GLT_SetCallBack(m_handle, 0, GLT_CALLBACK_OVERLAY, DrawCentreBox, &m_handle);
        // The first picture makes the child window and the image.
        m_ready = Present(Picture(1)) && glintra::testing::PresentsShared(m_handle);
    }
    ~GlintraPath() {
        if (m_handle) GLT_DestroyHandle(m_handle);
        if (m_window) XDestroyWindow(m_display, m_window);
        if (m_display) XCloseDisplay(m_display);
    }
    bool Ready() const { return m_ready; }

    bool Present(const std::vector<uint8_t>& picture) {
        GLT_UpdateFrameData(m_handle, picture.data(), kPictureWidth, kPictureHeight, 0);
        return GLT_Display(m_handle, 0, m_window) &&
               glintra::testing::WaitPresented(m_handle, ++m_presented, 5000);
    }

  private:
    Display* m_display = nullptr;
    Window m_window = 0;
    GLT_HANDLE m_handle = 0;
    uint64_t m_presented = 0;
    bool m_ready = false;
};

void BareConvertScalePut(benchmark::State& state) {
    BarePath bare(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    if (!bare.Ready()) {
        state.SkipWithError("no X display with MIT-SHM");
        return;
    }
    const std::vector<uint8_t> pictures[2] = {Picture(0), Picture(1)};
    int frame = 0;
    for (auto _ : state) bare.Present(pictures[frame++ & 1]);
    state.SetItemsProcessed(state.iterations());
}

void GlintraPresent(benchmark::State& state) {
    GlintraPath glintra(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    if (!glintra.Ready()) {
        state.SkipWithError("Glintra did not present through MIT-SHM");
        return;
    }
    const std::vector<uint8_t> pictures[2] = {Picture(0), Picture(1)};
    int frame = 0;
    for (auto _ : state) {
        if (!glintra.Present(pictures[frame++ & 1])) {
            state.SkipWithError("a picture was not presented");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

void GlintraVsBare(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    BarePath bare(width, height);
    GlintraPath glintra(width, height);
    if (!bare.Ready() || !glintra.Ready()) {
        state.SkipWithError("no X display with MIT-SHM");
        return;
    }
    const std::vector<uint8_t> pictures[2] = {Picture(0), Picture(1)};
    Clock::duration bareTime{}, glintraTime{};
    double bareCpu = 0, glintraCpu = 0;  // seconds of the whole process, drawing thread included
    int frame = 0;
    bool ok = true;
    for (auto _ : state) {
        const auto& picture = pictures[frame & 1];
        // Each goes first every other picture: neither always meets the server busy with the
        // other's put.
        for (int turn = 0; turn < 2; ++turn) {
            const auto start = Clock::now();
            const double cpuStart = ProcessCpuSeconds();
            if ((turn + frame) % 2 == 0) {
                bare.Present(picture);
                bareTime += Clock::now() - start;
                bareCpu += ProcessCpuSeconds() - cpuStart;
            } else {
                ok = ok && glintra.Present(picture);
                glintraTime += Clock::now() - start;
                glintraCpu += ProcessCpuSeconds() - cpuStart;
            }
        }
        ++frame;
        if (!ok) {
            state.SkipWithError("a picture was not presented");
            break;
        }
    }
    const double n = static_cast<double>(std::max<int64_t>(state.iterations(), 1));
    state.counters["bare_us"] = std::chrono::duration<double, std::micro>(bareTime).count() / n;
    state.counters["glintra_us"] =
        std::chrono::duration<double, std::micro>(glintraTime).count() / n;
    if (bareTime.count() > 0) {
        state.counters["vs_bare"] =
            static_cast<double>(glintraTime.count()) / static_cast<double>(bareTime.count());
    }
    // CPU time of this process per picture: what Glintra costs the program, whatever the
    // scheduler makes of the hand-offs on a busy machine. The X server's work is the same put.
    state.counters["bare_cpu_us"] = bareCpu * 1e6 / n;
    state.counters["glintra_cpu_us"] = glintraCpu * 1e6 / n;
    if (bareCpu > 0) state.counters["cpu_vs_bare"] = glintraCpu / bareCpu;
}

}  // namespace

// The camera's 640 x 512 picture into the live view's usual size and into a large window.
BENCHMARK(BareConvertScalePut)
    ->Args({420, 266})
    ->Args({1280, 1024})
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(GlintraPresent)
    ->Args({420, 266})
    ->Args({1280, 1024})
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(GlintraVsBare)
    ->Args({420, 266})
    ->Args({1280, 1024})
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

// Without a display there is nothing to measure: say so and succeed, as the X11 tests skip.
int main(int argc, char** argv) {
    if (!std::getenv("DISPLAY")) {
        std::puts("glintra_bench: skipped, needs an X display (run it under scripts/xvfb-session)");
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
