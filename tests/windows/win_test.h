// GoogleTest for the Windows programs that run under Wine, and the real windows that the display
// tests draw into and read back from the screen.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "../common/wait_until.h"

namespace wt {

[[noreturn]] inline void EndProcess(const char* why) {
    std::printf("%s: the process ends\n", why);
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 3);
    std::abort();
}

// Runs the tests (GoogleTest's options apply); a crash ends the process instead of showing a
// dialog or starting a debugger.
inline int RunAll(int argc, char** argv) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter([](EXCEPTION_POINTERS* info) -> LONG {
        char why[64];
        std::snprintf(why, sizeof(why), "unhandled exception 0x%08lX",
                      info->ExceptionRecord->ExceptionCode);
        EndProcess(why);
    });
    std::set_terminate([] { EndProcess("std::terminate"); });
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
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
        ADD_FAILURE_AT(file, line)
            << "at (" << p.x << ", " << p.y << ") " << text(window.Pixel(p.x, p.y)) << ", expected "
            << text(p.expected);
    }
}

}  // namespace wt

#define WT_EXPECT_SHOWN(...) wt::ExpectShown(__FILE__, __LINE__, __VA_ARGS__)

#define WT_MAIN                        \
    int main(int argc, char** argv) {  \
        return wt::RunAll(argc, argv); \
    }
