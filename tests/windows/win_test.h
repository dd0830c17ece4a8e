// A small test runner for the Windows programs that run under Wine, and the real windows that the
// display tests draw into. Named cases run in the order they are written; a failed check marks its
// case failed and carries on; WT_SKIP ends a case as skipped with its reason. The closing line is
// "N passed, N failed, N skipped"; the exit code is 0 only when nothing failed. An unhandled
// exception ends the process at once with exit code 3 (no crash dialog, no debugger), so ctest
// sees a failure instead of a hang.
#pragma once

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "../common/wait_until.h"

namespace wt {

struct Case {
    const char* name;
    void (*body)();
};

inline std::vector<Case>& Cases() {
    static std::vector<Case> cases;
    return cases;
}

struct Registrar {
    Registrar(const char* name, void (*body)()) { Cases().push_back({name, body}); }
};

struct Skipped {
    std::string reason;
};

inline int& FailureCount() {
    static int failures = 0;
    return failures;
}

inline void Fail(const char* file, int line, const std::string& what) {
    std::printf("  %s:%d: %s\n", file, line, what.c_str());
    std::fflush(stdout);
    ++FailureCount();
}

[[noreturn]] inline void EndProcess(const char* why) {
    std::printf("%s: the process ends\n", why);
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 3);
    std::abort();
}

// Runs every case whose name contains argv[1] (all without an argument).
inline int RunAll(int argc, char** argv) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter([](EXCEPTION_POINTERS* info) -> LONG {
        char why[64];
        std::snprintf(why, sizeof(why), "unhandled exception 0x%08lX",
                      info->ExceptionRecord->ExceptionCode);
        EndProcess(why);
    });
    std::set_terminate([] { EndProcess("std::terminate"); });
    const char* filter = argc > 1 ? argv[1] : "";
    int passed = 0, failed = 0, skipped = 0;
    for (const Case& c : Cases()) {
        if (std::strstr(c.name, filter) == nullptr) continue;
        std::printf("[ RUN  ] %s\n", c.name);
        std::fflush(stdout);
        const int before = FailureCount();
        try {
            c.body();
        } catch (const Skipped& skip) {
            std::printf("[ SKIP ] %s: %s\n", c.name, skip.reason.c_str());
            ++skipped;
            continue;
        } catch (const std::exception& e) {
            Fail(__FILE__, __LINE__, std::string("exception: ") + e.what());
        }
        const bool ok = FailureCount() == before;
        std::printf(ok ? "[  OK  ] %s\n" : "[ FAIL ] %s\n", c.name);
        ++(ok ? passed : failed);
        std::fflush(stdout);
    }
    std::printf("%d passed, %d failed, %d skipped\n", passed, failed, skipped);
    std::fflush(stdout);
    return failed == 0 ? 0 : 1;
}

struct Rgb {
    int r, g, b;
};

inline bool Near(Rgb a, Rgb b, int tolerance) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}

// Handles every queued message of this thread.
inline void PumpMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

inline void PumpFor(DWORD milliseconds) {
    const DWORD start = GetTickCount();
    do {
        PumpMessages();
        Sleep(10);
    } while (GetTickCount() - start < milliseconds);
}

// Calls `show` (which puts the picture on screen again) and then `matches` until `matches` is
// true, for at most `milliseconds`; pumps messages meanwhile. returns: the last answer of
// `matches`.
inline bool PollUntil(const std::function<void()>& show, const std::function<bool()>& matches,
                      DWORD milliseconds = 4000) {
    return kx_test::WaitUntil(
        [&] {
            show();
            PumpFor(100);
            return matches();
        },
        std::chrono::milliseconds(milliseconds), PumpMessages);
}

// A real top-level window: borderless (client area = window rectangle), white background, placed
// at a given screen position, and read back pixel by pixel.
class TestWindow {
  public:
    // A window whose client area is (x, y, x + width, y + height) on the screen.
    TestWindow(int x, int y, int width, int height, bool show = true) {
        static const ATOM window_class = [] {
            WNDCLASSW wc = {};
            wc.lpfnWndProc = &DefWindowProcW;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
            wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
            wc.lpszClassName = L"KxTestWindow";
            return RegisterClassW(&wc);
        }();
        m_hwnd = CreateWindowExW(WS_EX_TOPMOST,
                                 reinterpret_cast<LPCWSTR>(static_cast<uintptr_t>(window_class)),
                                 L"test window", WS_POPUP, x, y, width, height, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
        if (m_hwnd != nullptr && show) Show();
    }
    ~TestWindow() {
        if (m_hwnd != nullptr) DestroyWindow(m_hwnd);
        PumpMessages();
    }
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    HWND Handle() const { return m_hwnd; }

    void Show() {
        ShowWindow(m_hwnd, SW_SHOWNOACTIVATE);
        UpdateWindow(m_hwnd);
        PumpFor(150);
    }

    // The colour shown at client point (x, y). It is read through the screen's device context:
    // under Wine the window's own device context reads back only what GDI drew into the window,
    // while DirectDraw's blits to the primary surface land on the screen.
    Rgb Pixel(int x, int y) const {
        POINT p = {x, y};
        ClientToScreen(m_hwnd, &p);
        HDC dc = GetDC(nullptr);
        const COLORREF c = GetPixel(dc, p.x, p.y);
        ReleaseDC(nullptr, dc);
        return {GetRValue(c), GetGValue(c), GetBValue(c)};
    }

  private:
    HWND m_hwnd = nullptr;
};

// A point of a window's client area and the colour it should show.
struct Probe {
    int x, y;
    Rgb expected;
};

// Calls `show` (which puts the picture on screen again; without it the picture must come on its
// own) until every probe of `window` has its colour within `tolerance`, for a few seconds; reports
// each probe that never matched as a failure at file:line. Called through WT_EXPECT_SHOWN.
inline void ExpectShown(
    const char* file, int line, const TestWindow& window, const std::vector<Probe>& probes,
    int tolerance, const std::function<void()>& show = [] {}) {
    const auto matches = [&](const Probe& p) {
        return Near(window.Pixel(p.x, p.y), p.expected, tolerance);
    };
    if (PollUntil(show, [&] { return std::all_of(probes.begin(), probes.end(), matches); })) return;
    const auto text = [](Rgb c) {
        return "(" + std::to_string(c.r) + ", " + std::to_string(c.g) + ", " + std::to_string(c.b) +
               ")";
    };
    for (const Probe& p : probes) {
        if (matches(p)) continue;
        Fail(file, line,
             "at (" + std::to_string(p.x) + ", " + std::to_string(p.y) + ") " +
                 text(window.Pixel(p.x, p.y)) + ", expected " + text(p.expected));
    }
}

}  // namespace wt

#define WT_EXPECT_SHOWN(...) wt::ExpectShown(__FILE__, __LINE__, __VA_ARGS__)

#define WT_CONCAT_(a, b) a##b
#define WT_CONCAT(a, b) WT_CONCAT_(a, b)
#define WT_TEST(name)                                                      \
    static void name();                                                    \
    static const wt::Registrar WT_CONCAT(g_register_, name){#name, &name}; \
    static void name()

#define WT_CHECK(cond)                                                 \
    do {                                                               \
        if (!(cond)) wt::Fail(__FILE__, __LINE__, "expected: " #cond); \
    } while (0)

// Compares two integral values (result codes, handles) and prints both on a mismatch.
#define WT_CHECK_EQ(actual, expected)                                                        \
    do {                                                                                     \
        const long long wt_a = static_cast<long long>(actual);                               \
        const long long wt_e = static_cast<long long>(expected);                             \
        if (wt_a != wt_e) {                                                                  \
            wt::Fail(__FILE__, __LINE__,                                                     \
                     #actual " is " + std::to_string(wt_a) + ", expected " #expected " = " + \
                         std::to_string(wt_e));                                              \
        }                                                                                    \
    } while (0)

#define WT_SKIP(reason) \
    throw wt::Skipped { \
        reason          \
    }

#define WT_MAIN                        \
    int main(int argc, char** argv) {  \
        return wt::RunAll(argc, argv); \
    }
