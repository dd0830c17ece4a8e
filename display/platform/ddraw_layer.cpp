// The DirectDraw, user32 and kernel32 functions of the layer, forwarded to the current backend.
#include <strings.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/backend.h"
#include "platform/x11_backend.h"

const IID IID_IDirectDraw7 = {
    0x15e65ec0, 0x3b9c, 0x11d2, {0xb9, 0x2f, 0x00, 0x60, 0x97, 0x97, 0xea, 0x5b}};

namespace orvenna::platform {

namespace {

std::mutex g_backendLock;             // guards g_pBackend; any thread
std::shared_ptr<Backend> g_pBackend;  // written by CurrentBackend / SetBackendForTesting

// The module handle that GetModuleHandleA("ddraw.dll") hands out: any non-null value will do.
HMODULE DdrawModule() {
    static char token;
    return reinterpret_cast<HMODULE>(&token);
}

}  // namespace

void Backend::Sleep(DWORD milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

DWORD Backend::GetTickCount() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

std::shared_ptr<Backend> CurrentBackend() {
    std::lock_guard<std::mutex> guard(g_backendLock);
    if (!g_pBackend) g_pBackend = std::make_shared<X11Backend>();
    return g_pBackend;
}

void SetBackendForTesting(std::shared_ptr<Backend> backend) {
    std::lock_guard<std::mutex> guard(g_backendLock);
    g_pBackend = std::move(backend);
}

}  // namespace orvenna::platform

using orvenna::platform::CurrentBackend;

HRESULT WINAPI DirectDrawCreateEx(GUID* guid, LPVOID* dd, REFIID iid, IUnknown* outer) {
    if (dd == nullptr) return DDERR_INVALIDPARAMS;
    *dd = nullptr;
    if (outer != nullptr) return DDERR_INVALIDPARAMS;  // no aggregation, as on Windows
    if (std::memcmp(&iid, &IID_IDirectDraw7, sizeof(IID)) != 0) return E_NOINTERFACE;
    IDirectDraw7* object = nullptr;
    const HRESULT hr = CurrentBackend()->CreateDirectDraw(guid, &object);
    if (SUCCEEDED(hr)) *dd = object;
    return hr;
}

HRESULT WINAPI DirectDrawEnumerateExA(LPDDENUMCALLBACKEXA callback, LPVOID context, DWORD flags) {
    if (callback == nullptr) return DDERR_INVALIDPARAMS;
    return CurrentBackend()->EnumerateDevices(callback, context, flags);
}

HMODULE WINAPI GetModuleHandleA(LPCSTR module_name) {
    if (module_name == nullptr || strcasecmp(module_name, "ddraw.dll") != 0) return nullptr;
    return CurrentBackend()->IsDirectDrawLoaded() ? orvenna::platform::DdrawModule() : nullptr;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR proc_name) {
    if (module != orvenna::platform::DdrawModule() || proc_name == nullptr) return nullptr;
    if (std::strcmp(proc_name, "DirectDrawEnumerateExA") == 0) {
        if (!CurrentBackend()->HasEnumerateEx()) return nullptr;
        return reinterpret_cast<FARPROC>(&DirectDrawEnumerateExA);
    }
    if (std::strcmp(proc_name, "DirectDrawCreateEx") == 0) {
        return reinterpret_cast<FARPROC>(&DirectDrawCreateEx);
    }
    return nullptr;
}

void WINAPI Sleep(DWORD milliseconds) {
    CurrentBackend()->Sleep(milliseconds);
}

DWORD WINAPI GetTickCount() {
    return CurrentBackend()->GetTickCount();
}

void WINAPI OutputDebugStringA(LPCSTR text) {
    // Debugger output goes to standard error, and only when ORVENNA_DEBUG is set.
    static const bool enabled = std::getenv("ORVENNA_DEBUG") != nullptr;
    if (enabled && text != nullptr) std::fputs(text, stderr);
}

BOOL WINAPI IsWindow(HWND hwnd) {
    return hwnd != 0 && CurrentBackend()->IsWindow(hwnd);
}

BOOL WINAPI IsWindowVisible(HWND hwnd) {
    return hwnd != 0 && CurrentBackend()->IsWindowVisible(hwnd);
}

BOOL WINAPI GetClientRect(HWND hwnd, LPRECT rect) {
    if (hwnd == 0 || rect == nullptr) return FALSE;
    return CurrentBackend()->GetClientRect(hwnd, rect);
}

BOOL WINAPI GetWindowRect(HWND hwnd, LPRECT rect) {
    if (hwnd == 0 || rect == nullptr) return FALSE;
    return CurrentBackend()->GetWindowRect(hwnd, rect);
}

BOOL WINAPI ClientToScreen(HWND hwnd, LPPOINT point) {
    if (hwnd == 0 || point == nullptr) return FALSE;
    return CurrentBackend()->ClientToScreen(hwnd, point);
}

BOOL WINAPI OffsetRect(LPRECT rect, int dx, int dy) {
    if (rect == nullptr) return FALSE;
    rect->left += dx;
    rect->right += dx;
    rect->top += dy;
    rect->bottom += dy;
    return TRUE;
}

BOOL WINAPI GetMonitorInfoA(HMONITOR monitor, LPMONITORINFO info) {
    if (monitor == nullptr || info == nullptr) return FALSE;
    if (info->cbSize != sizeof(MONITORINFO) && info->cbSize != sizeof(MONITORINFOEXA)) {
        return FALSE;
    }
    return CurrentBackend()->GetMonitorInfo(monitor, info);
}

int WINAPI GetSystemMetrics(int index) {
    return CurrentBackend()->GetSystemMetrics(index);
}
