// ORVD_DisplayFrame of UYVY frames into a 1280 × 720 window, against the bare path the x11
// device stands on: libyuv conversion, bilinear scale and XShmPutImage of the same frame, with an
// XSync after each put so that the frame has been taken by the server, as the library's
// presentation does. Needs an X display (scripts/xvfb-session).
//
// Paired_Straddling560x420 sets the screen up as two monitors side by side (xrandr, so run it on
// a private Xvfb) and compares a 560 × 420 window with a DC callback across the border with the
// same window on one monitor: x_one_monitor (wall) and x_one_monitor_cpu.
//
// The Paired_* benchmarks run both paths in the same run, in alternating blocks of frames on the
// same window, and report the ratio themselves: x_bare (wall time) and x_bare_cpu (this thread's
// CPU time), library over bare. A load that comes and goes during the run falls on both paths.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <benchmark/benchmark.h>
#include <libyuv/convert_argb.h>
#include <libyuv/scale_argb.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <time.h>

#include <cairo.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
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
    BenchWindow(int x = 0, int y = 0, int width = kWindowWidth, int height = kWindowHeight) {
        display = XOpenDisplay(nullptr);
        if (display == nullptr) return;
        XSetWindowAttributes attributes{};
        attributes.override_redirect = True;
        window =
            XCreateWindow(display, DefaultRootWindow(display), x, y, static_cast<unsigned>(width),
                          static_cast<unsigned>(height), 0, CopyFromParent, InputOutput,
                          CopyFromParent, CWOverrideRedirect, &attributes);
        XMapRaised(display, window);
        XSync(display, False);
    }
    ~BenchWindow() {
        if (display == nullptr) return;
        XDestroyWindow(display, window);
        XCloseDisplay(display);
    }
    BenchWindow(const BenchWindow&) = delete;
    BenchWindow& operator=(const BenchWindow&) = delete;
    Display* display = nullptr;
    Window window = 0;
};

// The library's path: one display handle on the window.
class LibraryPath {
  public:
    LibraryPath(Window window, int width, int height) : m_bytes(UyvyFrame(width, height)) {
        m_frame = tagORVD_FRAME{m_bytes.data(), 0, ORVD_FORMAT_UYVY, static_cast<uint32_t>(width),
                                static_cast<uint32_t>(height)};
        if (ORVD_InitByDisEngine(&m_handle, ORVD_ENGINE_DDRAW) != ORVD_OK) return;
        m_bReady = ORVD_SetDisplayWindow(m_handle, window) == ORVD_OK;
    }
    ~LibraryPath() {
        if (m_handle >= 0) ORVD_Release(m_handle);
    }
    LibraryPath(const LibraryPath&) = delete;
    LibraryPath& operator=(const LibraryPath&) = delete;

    bool Ready() const { return m_bReady; }
    bool Frame() { return ORVD_DisplayFrame(m_handle, &m_frame) == ORVD_OK; }
    void DrawOverlay() { ORVD_RegisterDCCallback(m_handle, &Overlay, 0); }

  private:
    // What a caller's overlay typically is: a frame and a crosshair.
    static void ORVD_CALL Overlay(int32_t /*handle*/, ORVD_HDC dc, intptr_t /*user*/) {
        cairo_set_source_rgb(dc, 0, 1, 0);
        cairo_set_line_width(dc, 2);
        cairo_rectangle(dc, 20, 20, 200, 150);
        cairo_move_to(dc, 260, 210);
        cairo_line_to(dc, 300, 210);
        cairo_move_to(dc, 280, 190);
        cairo_line_to(dc, 280, 230);
        cairo_stroke(dc);
    }

    std::vector<uint8_t> m_bytes;
    tagORVD_FRAME m_frame{};
    int32_t m_handle = -1;
    bool m_bReady = false;
};

// What the library's path comes down to, with nothing around it.
class BarePath {
  public:
    BarePath(Display* display, Window window, int width, int height)
        : m_pDisplay(display),
          m_window(window),
          m_width(width),
          m_height(height),
          m_frame(UyvyFrame(width, height)),
          m_argb(static_cast<size_t>(width) * height * 4) {
        if (!XShmQueryExtension(display)) return;
        XWindowAttributes attributes;
        XGetWindowAttributes(display, window, &attributes);
        m_pImage =
            XShmCreateImage(display, attributes.visual, static_cast<unsigned>(attributes.depth),
                            ZPixmap, nullptr, &m_shm, kWindowWidth, kWindowHeight);
        m_shm.shmid =
            shmget(IPC_PRIVATE, static_cast<size_t>(m_pImage->bytes_per_line) * kWindowHeight,
                   IPC_CREAT | 0600);
        m_shm.shmaddr = m_pImage->data = static_cast<char*>(shmat(m_shm.shmid, nullptr, 0));
        m_shm.readOnly = False;
        XShmAttach(display, &m_shm);
        XSync(display, False);
        shmctl(m_shm.shmid, IPC_RMID, nullptr);
        m_gc = XCreateGC(display, window, 0, nullptr);
    }
    ~BarePath() {
        if (m_pImage == nullptr) return;
        XFreeGC(m_pDisplay, m_gc);
        XShmDetach(m_pDisplay, &m_shm);
        XSync(m_pDisplay, False);
        m_pImage->data = nullptr;
        XDestroyImage(m_pImage);
        shmdt(m_shm.shmaddr);
    }
    BarePath(const BarePath&) = delete;
    BarePath& operator=(const BarePath&) = delete;

    bool Ready() const { return m_pImage != nullptr; }
    void Frame() {
        libyuv::UYVYToARGB(m_frame.data(), m_width * 2, m_argb.data(), m_width * 4, m_width,
                           m_height);
        libyuv::ARGBScale(m_argb.data(), m_width * 4, m_width, m_height,
                          reinterpret_cast<uint8_t*>(m_pImage->data), m_pImage->bytes_per_line,
                          kWindowWidth, kWindowHeight, libyuv::kFilterBilinear);
        XShmPutImage(m_pDisplay, m_window, m_gc, m_pImage, 0, 0, 0, 0, kWindowWidth, kWindowHeight,
                     False);
        XSync(m_pDisplay, False);
    }

  private:
    Display* m_pDisplay;
    Window m_window;
    int m_width;
    int m_height;
    std::vector<uint8_t> m_frame;
    std::vector<uint8_t> m_argb;
    XShmSegmentInfo m_shm{};
    XImage* m_pImage = nullptr;
    GC m_gc = nullptr;
};

void DisplayFrame(benchmark::State& state, int width, int height) {
    BenchWindow bench;
    if (bench.display == nullptr) {
        state.SkipWithError("no X display");
        return;
    }
    LibraryPath library(bench.window, width, height);
    if (!library.Ready()) {
        state.SkipWithError("no display engine");
        return;
    }
    for (auto _ : state) {
        if (!library.Frame()) {
            state.SkipWithError("ORVD_DisplayFrame failed");
            break;
        }
    }
}

void Bare(benchmark::State& state, int width, int height) {
    BenchWindow bench;
    if (bench.display == nullptr) {
        state.SkipWithError("no X display");
        return;
    }
    BarePath bare(bench.display, bench.window, width, height);
    if (!bare.Ready()) {
        state.SkipWithError("no MIT-SHM");
        return;
    }
    for (auto _ : state) bare.Frame();
}

// Wall and thread CPU time of a stretch of work, in seconds.
struct Stopwatch {
    static double CpuNow() {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
    }
    static double WallNow() {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    template <typename Work>
    void Time(Work&& work) {
        const double wall = WallNow();
        const double cpu = CpuNow();
        work();
        cpu_s += CpuNow() - cpu;
        wall_s += WallNow() - wall;
    }
    double wall_s = 0;
    double cpu_s = 0;
};

// Each iteration times a block of `first` frames, then a block of `second` frames. returns: the
// frames of each path, 0 after a frame that failed.
template <typename First, typename Second>
double TimeInBlocks(benchmark::State& state, Stopwatch& first_time, First first,
                    Stopwatch& second_time, Second second) {
    constexpr int kBlock = 8;
    bool failed = false;
    for (auto _ : state) {
        first_time.Time([&] {
            for (int i = 0; i < kBlock; ++i) failed |= !first();
        });
        second_time.Time([&] {
            for (int i = 0; i < kBlock; ++i) failed |= !second();
        });
        if (failed) {
            state.SkipWithError("ORVD_DisplayFrame failed");
            return 0;
        }
    }
    return static_cast<double>(state.iterations()) * kBlock;
}

// One iteration: a block of library frames, then a block of bare frames, on the same window.
void Paired(benchmark::State& state, int width, int height) {
    BenchWindow bench;
    if (bench.display == nullptr) {
        state.SkipWithError("no X display");
        return;
    }
    LibraryPath library(bench.window, width, height);
    BarePath bare(bench.display, bench.window, width, height);
    if (!library.Ready() || !bare.Ready()) {
        state.SkipWithError("no display engine or no MIT-SHM");
        return;
    }
    Stopwatch library_time;
    Stopwatch bare_time;
    const double frames = TimeInBlocks(
        state, library_time, [&] { return library.Frame(); }, bare_time,
        [&] {
            bare.Frame();
            return true;
        });
    if (frames == 0 || bare_time.wall_s == 0 || bare_time.cpu_s == 0) return;
    state.counters["orvd_ms"] = library_time.wall_s / frames * 1e3;
    state.counters["bare_ms"] = bare_time.wall_s / frames * 1e3;
    state.counters["orvd_cpu_ms"] = library_time.cpu_s / frames * 1e3;
    state.counters["bare_cpu_ms"] = bare_time.cpu_s / frames * 1e3;
    state.counters["x_bare"] = library_time.wall_s / bare_time.wall_s;
    state.counters["x_bare_cpu"] = library_time.cpu_s / bare_time.cpu_s;
}

// The screen as two monitors side by side while it lives (xrandr on the current display).
struct TwoMonitors {
    explicit TwoMonitors(Display* display) {
        const int width = DisplayWidth(display, DefaultScreen(display));
        const int height = DisplayHeight(display, DefaultScreen(display));
        half = width / 2;
        const std::string size = std::to_string(half) + "/300x" + std::to_string(height) + "/200";
        ok = std::system(("xrandr --setmonitor bench-left " + size + "+0+0 screen >/dev/null 2>&1")
                             .c_str()) == 0 &&
             std::system(("xrandr --setmonitor bench-right " + size + "+" + std::to_string(half) +
                          "+0 none >/dev/null 2>&1")
                             .c_str()) == 0;
    }
    ~TwoMonitors() {
        std::system("xrandr --delmonitor bench-right >/dev/null 2>&1");
        std::system("xrandr --delmonitor bench-left >/dev/null 2>&1");
    }
    TwoMonitors(const TwoMonitors&) = delete;
    TwoMonitors& operator=(const TwoMonitors&) = delete;
    int half = 0;
    bool ok = false;
};

// One iteration: a block of frames into the window across the border, then a block into the
// window on the left monitor alone; both with the DC callback.
void Paired_Straddling560x420(benchmark::State& state) {
    constexpr int kWidth = 560;
    constexpr int kHeight = 420;
    Display* probe = XOpenDisplay(nullptr);
    if (probe == nullptr) {
        state.SkipWithError("no X display");
        return;
    }
    TwoMonitors monitors(probe);
    XCloseDisplay(probe);
    if (!monitors.ok) {
        state.SkipWithError("xrandr could not define two monitors");
        return;
    }
    BenchWindow across(monitors.half - kWidth / 2, 40, kWidth, kHeight);
    BenchWindow one(40, 40 + kHeight + 40, kWidth, kHeight);
    LibraryPath straddling(across.window, 640, 512);
    LibraryPath single(one.window, 640, 512);
    if (!straddling.Ready() || !single.Ready()) {
        state.SkipWithError("no display engine");
        return;
    }
    straddling.DrawOverlay();
    single.DrawOverlay();
    // The first frames meet the new monitor layout and make the devices and surfaces.
    for (int i = 0; i < 3; ++i) {
        straddling.Frame();
        single.Frame();
    }
    Stopwatch across_time;
    Stopwatch one_time;
    const double frames = TimeInBlocks(
        state, across_time, [&] { return straddling.Frame(); }, one_time,
        [&] { return single.Frame(); });
    if (frames == 0 || one_time.wall_s == 0 || one_time.cpu_s == 0) return;
    state.counters["across_ms"] = across_time.wall_s / frames * 1e3;
    state.counters["one_ms"] = one_time.wall_s / frames * 1e3;
    state.counters["x_one_monitor"] = across_time.wall_s / one_time.wall_s;
    state.counters["x_one_monitor_cpu"] = across_time.cpu_s / one_time.cpu_s;
}

void ORVD_DisplayFrame_Uyvy1920x1080(benchmark::State& state) {
    DisplayFrame(state, 1920, 1080);
}
void Bare_Uyvy1920x1080(benchmark::State& state) {
    Bare(state, 1920, 1080);
}
void Paired_Uyvy1920x1080(benchmark::State& state) {
    Paired(state, 1920, 1080);
}
void ORVD_DisplayFrame_Uyvy640x512(benchmark::State& state) {
    DisplayFrame(state, 640, 512);
}
void Bare_Uyvy640x512(benchmark::State& state) {
    Bare(state, 640, 512);
}
void Paired_Uyvy640x512(benchmark::State& state) {
    Paired(state, 640, 512);
}

BENCHMARK(ORVD_DisplayFrame_Uyvy1920x1080)->Unit(benchmark::kMillisecond);
BENCHMARK(Bare_Uyvy1920x1080)->Unit(benchmark::kMillisecond);
BENCHMARK(Paired_Uyvy1920x1080)->Unit(benchmark::kMillisecond);
BENCHMARK(ORVD_DisplayFrame_Uyvy640x512)->Unit(benchmark::kMillisecond);
BENCHMARK(Bare_Uyvy640x512)->Unit(benchmark::kMillisecond);
BENCHMARK(Paired_Uyvy640x512)->Unit(benchmark::kMillisecond);
BENCHMARK(Paired_Straddling560x420)->Unit(benchmark::kMillisecond);

}  // namespace
