// Real top-level windows for the display tests: borderless (client area = window rectangle),
// white background, placed at a given screen position, and read back pixel by pixel.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <functional>

namespace wt {

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

// Pumps messages for `milliseconds`.
inline void PumpFor(DWORD milliseconds) {
    const DWORD start = GetTickCount();
    do {
        PumpMessages();
        Sleep(10);
    } while (GetTickCount() - start < milliseconds);
}

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
            wc.lpszClassName = L"OrvennaTestWindow";
            return RegisterClassW(&wc);
        }();
        m_hwnd = CreateWindowExW(WS_EX_TOPMOST,
                                 reinterpret_cast<LPCWSTR>(static_cast<uintptr_t>(window_class)),
                                 L"orvenna test", WS_POPUP, x, y, width, height, nullptr, nullptr,
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

// Calls `show` (which puts the picture on screen again) and then `matches` until `matches` is
// true, for at most `milliseconds`; pumps messages meanwhile. returns: the last answer of
// `matches`.
inline bool PollUntil(const std::function<void()>& show, const std::function<bool()>& matches,
                      DWORD milliseconds = 4000) {
    const DWORD start = GetTickCount();
    for (;;) {
        show();
        PumpFor(40);
        if (matches()) return true;
        if (GetTickCount() - start >= milliseconds) return false;
        PumpFor(60);
    }
}

}  // namespace wt
