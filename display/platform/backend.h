// What the DirectDraw layer's functions stand on when there is no Windows underneath: one
// backend per process (x11 for real windows, the fake for tests). Each operation states its
// contract once, here; the global functions of ddraw_layer.h forward to the current backend.
#pragma once

#include <memory>

#include "platform/ddraw_layer.h"

namespace orvenna::platform {

class Backend {
  public:
    virtual ~Backend() = default;

    // GetModuleHandleA("ddraw.dll"): true while DirectDraw can be reached (a display is open).
    virtual bool IsDirectDrawLoaded() = 0;
    // GetProcAddress(ddraw, "DirectDrawEnumerateExA"): true when the entry point exists.
    virtual bool HasEnumerateEx() { return true; }
    // DirectDrawEnumerateExA: calls `callback` once per device in a fixed order, the primary
    // display driver first, until it returns FALSE. returns: DD_OK or a failure code.
    virtual HRESULT EnumerateDevices(LPDDENUMCALLBACKEXA callback, LPVOID context, DWORD flags) = 0;
    // DirectDrawCreateEx for IID_IDirectDraw7: the device of `guid` (null or all zero: the
    // primary display driver). returns: DD_OK with a new object (one reference), or a failure.
    virtual HRESULT CreateDirectDraw(GUID* guid, IDirectDraw7** out) = 0;
    // GetMonitorInfoA: fills rcMonitor, rcWork, dwFlags (and szDevice when cbSize says EX).
    virtual BOOL GetMonitorInfo(HMONITOR monitor, MONITORINFO* info) = 0;
    // GetSystemMetrics: at least SM_CXSCREEN and SM_CYSCREEN; 0 for what it does not know.
    virtual int GetSystemMetrics(int index) = 0;

    // Windows. A window that does not exist (or no longer does) is never an error that ends the
    // process: the functions answer FALSE.
    virtual BOOL IsWindow(HWND hwnd) = 0;
    // TRUE when the window and all its ancestors are shown.
    virtual BOOL IsWindowVisible(HWND hwnd) = 0;
    // The client area in client coordinates: (0, 0, width, height).
    virtual BOOL GetClientRect(HWND hwnd, LPRECT rect) = 0;
    // The window's rectangle in screen (virtual desktop) coordinates.
    virtual BOOL GetWindowRect(HWND hwnd, LPRECT rect) = 0;
    // A client-coordinate point to screen coordinates, in place.
    virtual BOOL ClientToScreen(HWND hwnd, LPPOINT point) = 0;

    // kernel32 timing: Sleep and GetTickCount (milliseconds, wrapping at 2^32).
    virtual void Sleep(DWORD milliseconds);
    virtual DWORD GetTickCount();
};

// The backend the layer uses now: the x11 one unless a test has put another in place.
std::shared_ptr<Backend> CurrentBackend();

// Test-only entry point: puts `backend` in place of the x11 backend (null restores the x11 one).
// Call it while the library holds no engine and no device (see orvenna_testing.h).
void SetBackendForTesting(std::shared_ptr<Backend> backend);

}  // namespace orvenna::platform
