// The x11 backend: DirectDraw devices are the X screen's monitors (XRandR), windows are X11
// windows, surfaces are system memory in their own pixel format. Primary surfaces draw into the
// window that their clipper is bound to. "ddraw.dll is loaded" while an X display can be opened.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>

#include "platform/backend.h"

namespace orvenna::platform {

struct X11Connection;

class X11Backend final : public Backend {
  public:
    X11Backend();
    ~X11Backend() override;

    bool IsDirectDrawLoaded() override;
    HRESULT EnumerateDevices(LPDDENUMCALLBACKEXA callback, LPVOID context, DWORD flags) override;
    HRESULT CreateDirectDraw(GUID* guid, IDirectDraw7** out) override;
    BOOL GetMonitorInfo(HMONITOR monitor, MONITORINFO* info) override;
    int GetSystemMetrics(int index) override;
    BOOL IsWindow(HWND hwnd) override;
    BOOL IsWindowVisible(HWND hwnd) override;
    BOOL GetClientRect(HWND hwnd, LPRECT rect) override;
    BOOL GetWindowRect(HWND hwnd, LPRECT rect) override;
    BOOL ClientToScreen(HWND hwnd, LPPOINT point) override;

  private:
    // The connection, opened on first use; null while no display can be opened (tried again
    // at most once a second).
    std::shared_ptr<X11Connection> Connection();

    std::mutex m_lock;                             // guards the two members below; any thread
    std::shared_ptr<X11Connection> m_pConnection;  // shared with every object made
    std::chrono::steady_clock::time_point m_nextOpenAttempt{};
};

// The GUID that the x11 backend gives the device of monitor `index`.
GUID X11MonitorGuid(int index);

}  // namespace orvenna::platform
