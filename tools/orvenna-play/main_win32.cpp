// orvenna-play for Windows: the same player as main.cpp (same options, same test pattern), with a
// Win32 window and its overlay drawn with GDI on the device context that Orvenna hands over.
//
//   orvenna-play --format NAME --size WxH [--fps N] [--mode 0|1|2] [--overlay] [--frames N] FILE
//   orvenna-play --format NAME --size WxH [--fps N] [--mode 0|1|2] [--overlay] [--frames N]
//   --generate
#if defined(_WIN32)

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "orvenna.h"
#include "player.h"
#include "test_pattern.h"

namespace {

using orvenna_play::Options;
using orvenna_play::OverlayState;

// Draws a frame counter and a box over the picture with GDI. The device context selects the
// RGB32 surface of the frame as it will be shown, so its bitmap gives the size.
void ORVD_CALL DrawOverlay(int32_t /*handle*/, ORVD_HDC dc, intptr_t user) {
    const auto* state = reinterpret_cast<const OverlayState*>(user);
    BITMAP bitmap = {};
    if (dc == nullptr ||
        GetObjectW(GetCurrentObject(dc, OBJ_BITMAP), sizeof(bitmap), &bitmap) == 0) {
        return;
    }
    const int w = bitmap.bmWidth;
    const int h = bitmap.bmHeight;

    HPEN pen = CreatePen(PS_SOLID, 3, RGB(255, 217, 26));
    HGDIOBJ old_pen = SelectObject(dc, pen);
    HGDIOBJ old_brush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    Rectangle(dc, w / 10, h / 10, w - w / 10, h - h / 10);
    SelectObject(dc, old_brush);
    SelectObject(dc, old_pen);
    DeleteObject(pen);

    const int text_height = std::max(12, h / 20);
    HFONT font = CreateFontW(-text_height, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                             DEFAULT_PITCH | FF_SWISS, L"Arial");
    HGDIOBJ old_font = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(255, 217, 26));
    char text[64];
    const int length =
        std::snprintf(text, sizeof(text), "%s  frame %ld", state->format_name, state->frame);
    TextOutA(dc, w / 10 + 8, h / 10 + 6, text, std::clamp(length, 0, 63));
    SelectObject(dc, old_font);
    DeleteObject(font);
}

int32_t g_handle = -1;  // the display handle, for the window procedure
bool g_running = true;

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT paint;
            BeginPaint(hwnd, &paint);
            EndPaint(hwnd, &paint);
            if (g_handle >= 0) ORVD_RefreshDisplay(g_handle);
            return 0;
        }
        case WM_ERASEBKGND:
            return 1;  // the frame covers the client area
        case WM_KEYDOWN:
            if (wparam == 'Q' || wparam == VK_ESCAPE) DestroyWindow(hwnd);
            return 0;
        case WM_DESTROY:
            g_running = false;
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(hwnd, message, wparam, lparam);
    }
}

HWND CreatePlayerWindow(uint32_t width, uint32_t height) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = &WindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    wc.lpszClassName = L"OrvennaPlay";
    if (RegisterClassW(&wc) == 0) return nullptr;
    const DWORD style = WS_OVERLAPPEDWINDOW;
    RECT rect = {0, 0, static_cast<LONG>(width), static_cast<LONG>(height)};
    AdjustWindowRect(&rect, style, FALSE);
    return CreateWindowW(L"OrvennaPlay", L"orvenna-play", style, CW_USEDEFAULT, CW_USEDEFAULT,
                         rect.right - rect.left, rect.bottom - rect.top, nullptr, nullptr,
                         wc.hInstance, nullptr);
}

// A crash ends the player at once, without a dialog that would wait for somebody to click it.
LONG WINAPI EndOnUnhandledException(EXCEPTION_POINTERS* info) {
    std::fprintf(stderr, "orvenna-play: unhandled exception 0x%08lX\n",
                 info->ExceptionRecord->ExceptionCode);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

int main(int argc, char** argv) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(&EndOnUnhandledException);
    Options options;
    // The Windows player writes no screenshots.
    if (!orvenna_play::ParseOptions(argc, argv, &options) || !options.screenshot.empty()) {
        orvenna_play::Usage(false);
        return 2;
    }
    const auto format = static_cast<uint32_t>(options.format);
    orvenna_play::FrameSource source;
    if (!source.Open(options)) {
        std::fprintf(stderr, "orvenna-play: cannot open %s\n", options.file.c_str());
        return 1;
    }

    HWND window = CreatePlayerWindow(options.width, options.height);
    if (window == nullptr) {
        std::fprintf(stderr, "orvenna-play: cannot create the window\n");
        return 1;
    }
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);

    OverlayState overlay{0, orvenna_play::FormatName(format)};
    g_handle = StartDisplay(window, options, &DrawOverlay, &overlay);
    if (g_handle < 0) return 1;

    const double period_ms = 1000.0 / options.fps;
    LARGE_INTEGER frequency, start, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    int32_t last_result = ORVD_OK;
    int status = 0;
    for (long n = 0; g_running && (options.frames < 0 || n < options.frames); ++n) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (!g_running) break;
        if (!ShowFrame(g_handle, source, n, overlay, &last_result)) {
            status = 1;
            break;
        }
        // Wait for the next frame's time (Sleep's granularity is enough for a player).
        QueryPerformanceCounter(&now);
        const double elapsed_ms = 1000.0 * static_cast<double>(now.QuadPart - start.QuadPart) /
                                  static_cast<double>(frequency.QuadPart);
        const double due_ms = period_ms * static_cast<double>(n + 1);
        if (due_ms > elapsed_ms) Sleep(static_cast<DWORD>(due_ms - elapsed_ms));
    }
    if (last_result != ORVD_OK) status = 1;

    ORVD_Release(g_handle);
    g_handle = -1;
    if (g_running) DestroyWindow(window);
    return status;
}

#endif  // _WIN32
