// X11 devices, windows and surfaces.
#include "platform/x11_backend.h"

#include <X11/Xutil.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "pixel_formats.h"
#include "platform/com_object.h"
#include "platform/surface_memory.h"
#include "platform/x11_connection.h"
#include "platform/x11_present.h"

namespace orvenna::platform {

namespace {

RECT ScreenRect(const X11Connection& connection) {
    return RECT{0, 0, DisplayWidth(connection.display, connection.screen),
                DisplayHeight(connection.display, connection.screen)};
}

// ---- Objects ---------------------------------------------------------------------------------

class X11Clipper final : public ComObject<IDirectDrawClipper> {
  public:
    HRESULT STDMETHODCALLTYPE GetHWnd(HWND* hwnd) override {
        if (hwnd == nullptr) return DDERR_INVALIDPARAMS;
        *hwnd = m_hWnd;
        return DD_OK;
    }
    HRESULT STDMETHODCALLTYPE SetHWnd(DWORD /*flags*/, HWND hwnd) override {
        m_hWnd = hwnd;
        return DD_OK;
    }
    // Blits into memory surfaces write only inside the list's bounds.
    HRESULT STDMETHODCALLTYPE SetClipList(LPRGNDATA clip_list, DWORD /*flags*/) override {
        m_bClipList = clip_list != nullptr;
        if (clip_list != nullptr) m_rcClip = clip_list->rdh.rcBound;
        return DD_OK;
    }
    const RECT* ClipBounds() const { return m_bClipList ? &m_rcClip : nullptr; }

  private:
    HWND m_hWnd = 0;
    bool m_bClipList = false;
    RECT m_rcClip{};
};

// The device kinds of format the surfaces take: what the presentation can convert.
bool AcceptsFormat(const DDPIXELFORMAT& format) {
    if ((format.dwFlags & DDPF_RGB) != 0) {
        // 16-bit 555 and 565 and 32-bit; 24-bit is refused (RGB32 is its substitute).
        return format.dwRGBBitCount == 16 || format.dwRGBBitCount == 32;
    }
    if ((format.dwFlags & DDPF_FOURCC) == 0) return false;
    switch (format.dwFourCC) {
        case MAKEFOURCC('U', 'Y', 'V', 'Y'):
        case MAKEFOURCC('Y', 'U', 'Y', '2'):
        case MAKEFOURCC('Y', 'V', '1', '2'):
        case MAKEFOURCC('I', 'Y', 'U', 'V'):
        case MAKEFOURCC('Y', 'V', '1', '6'):
        case MAKEFOURCC('N', 'V', '1', '2'):
            return true;
        default:
            return false;  // YVYU, YUV9, IUYV, IYU2 and unknown codes
    }
}

class X11Surface final : public ComObject<IDirectDrawSurface7> {
  public:
    X11Surface(std::shared_ptr<X11Connection> connection, RECT device_rect, bool primary,
               uint32_t generation)
        : m_pConnection(std::move(connection)),
          m_rcDevice(device_rect),
          m_bPrimary(primary),
          m_nGeneration(generation) {}

    // Lost for good once the monitor layout has changed since its device was made: the
    // engine must make its devices and surfaces again.
    bool IsLostNow() { return m_pConnection->CurrentGeneration() != m_nGeneration; }
    ~X11Surface() override {
        if (m_pClipper != nullptr) m_pClipper->Release();
    }

    HRESULT Allocate(const DDSURFACEDESC2& desc) {
        if ((desc.dwFlags & DDSD_PIXELFORMAT) != 0 && !AcceptsFormat(desc.ddpfPixelFormat)) {
            return DDERR_INVALIDPIXELFORMAT;
        }
        return m_memory.Allocate(desc, 0, 16);
    }

    HRESULT STDMETHODCALLTYPE Blt(LPRECT dest_rect, IDirectDrawSurface7* src, LPRECT src_rect,
                                  DWORD flags, LPDDBLTFX fx) override {
        if (IsLostNow()) return DDERR_SURFACELOST;
        if ((flags & DDBLT_COLORFILL) != 0) {
            if (fx == nullptr || src != nullptr) return DDERR_INVALIDPARAMS;
            return m_bPrimary ? FillWindow(dest_rect, fx->dwFillColor)
                              : FillMemory(dest_rect, fx->dwFillColor);
        }
        // A whole source surface, converted and scaled: onto the screen into the clipper's
        // window, or into a 32-bit memory surface.
        auto* source = dynamic_cast<X11Surface*>(src);
        if (source == nullptr || source->m_bPrimary || src_rect != nullptr) {
            return DDERR_INVALIDPARAMS;
        }
        if (source->IsLostNow()) return DDERR_SURFACELOST;
        if (source->m_memory.Locked() || m_memory.Locked()) return DDERR_SURFACEBUSY;
        if (!m_bPrimary) {
            const auto* clipper = dynamic_cast<X11Clipper*>(m_pClipper);
            std::lock_guard<std::recursive_mutex> guard(m_pConnection->lock);
            return BltToMemory(source->View(), View(), dest_rect, m_pConnection->scratch,
                               clipper != nullptr ? clipper->ClipBounds() : nullptr);
        }
        HWND hwnd = 0;
        if (m_pClipper == nullptr || FAILED(m_pClipper->GetHWnd(&hwnd)) || hwnd == 0) {
            return DDERR_NOCLIPPERATTACHED;
        }
        if (!m_pPresenter) m_pPresenter = std::make_unique<X11Presenter>(m_pConnection);
        // Each device puts only its own part of the window: the other part is another device's.
        return m_pPresenter->Present(hwnd, source->View(),
                                     dest_rect != nullptr ? *dest_rect : m_rcDevice, m_rcDevice);
    }
    HRESULT STDMETHODCALLTYPE GetDC(HDC* hdc) override {
        if (hdc != nullptr) *hdc = nullptr;
        if (IsLostNow()) return DDERR_SURFACELOST;
        if (m_bPrimary) return DDERR_CANTCREATEDC;
        return m_memory.GetDC(hdc);
    }
    HRESULT STDMETHODCALLTYPE GetPixelFormat(LPDDPIXELFORMAT format) override {
        if (format == nullptr) return DDERR_INVALIDPARAMS;
        *format = m_memory.Desc().ddpfPixelFormat;
        return DD_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSurfaceDesc(LPDDSURFACEDESC2 desc) override {
        if (!m_bPrimary) return m_memory.GetDesc(desc);
        if (desc == nullptr || desc->dwSize != sizeof(DDSURFACEDESC2)) return DDERR_INVALIDPARAMS;
        std::memset(desc, 0, sizeof(*desc));
        desc->dwSize = sizeof(*desc);
        desc->dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
        desc->dwWidth = static_cast<DWORD>(m_rcDevice.right - m_rcDevice.left);
        desc->dwHeight = static_cast<DWORD>(m_rcDevice.bottom - m_rcDevice.top);
        desc->ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
        return DD_OK;
    }
    HRESULT STDMETHODCALLTYPE IsLost() override { return IsLostNow() ? DDERR_SURFACELOST : DD_OK; }
    HRESULT STDMETHODCALLTYPE Lock(LPRECT rect, LPDDSURFACEDESC2 desc, DWORD /*flags*/,
                                   HANDLE /*event*/) override {
        if (IsLostNow()) return DDERR_SURFACELOST;
        if (m_bPrimary) return DDERR_UNSUPPORTED;  // the screen is not memory here
        if (rect != nullptr) return DDERR_INVALIDRECT;
        return m_memory.Lock(desc);
    }
    HRESULT STDMETHODCALLTYPE ReleaseDC(HDC hdc) override { return m_memory.ReleaseDC(hdc); }
    HRESULT STDMETHODCALLTYPE Restore() override { return IsLostNow() ? DDERR_WRONGMODE : DD_OK; }
    HRESULT STDMETHODCALLTYPE SetClipper(LPDIRECTDRAWCLIPPER clipper) override {
        if (clipper != nullptr) clipper->AddRef();
        if (m_pClipper != nullptr) m_pClipper->Release();
        m_pClipper = clipper;
        return DD_OK;
    }
    HRESULT STDMETHODCALLTYPE SetColorKey(DWORD flags, LPDDCOLORKEY key) override {
        if (key == nullptr || (flags & DDCKEY_SRCBLT) == 0) return DDERR_INVALIDPARAMS;
        m_srcColorKey = *key;
        return DD_OK;
    }
    HRESULT STDMETHODCALLTYPE Unlock(LPRECT /*rect*/) override { return m_memory.Unlock(); }

  private:
    // The memory as the conversions see it.
    orvenna::SurfaceView View() {
        const DDSURFACEDESC2& desc = m_memory.Desc();
        const auto bytes = m_memory.Bytes();
        const int format = FormatFromPixelFormat(desc.ddpfPixelFormat);
        return {bytes.data(),
                desc.lPitch,
                desc.dwWidth,
                desc.dwHeight,
                static_cast<unsigned>(format < 0 ? kPixelFormatCount : format),
                bytes.size()};
    }

    // A colour fill of a screen rectangle, clipped to the clipper's window.
    HRESULT FillWindow(const RECT* dest, DWORD color) {
        HWND hwnd = 0;
        if (m_pClipper == nullptr || FAILED(m_pClipper->GetHWnd(&hwnd)) || hwnd == 0) {
            return DDERR_NOCLIPPERATTACHED;
        }
        X11Connection& connection = *m_pConnection;
        X11WindowState window;
        if (!connection.WindowState(hwnd, &window) || !window.bOnScreen) {
            return DDERR_INVALIDOBJECT;
        }
        const int origin_x = window.rootX;
        const int origin_y = window.rootY;
        const RECT r = dest != nullptr ? *dest : m_rcDevice;
        if (r.right <= r.left || r.bottom <= r.top) return DD_OK;
        std::lock_guard<std::recursive_mutex> guard(connection.lock);
        X11ErrorTrap trap(connection.display);
        GC gc = XCreateGC(connection.display, static_cast<Window>(hwnd), 0, nullptr);
        XSetForeground(connection.display, gc, color);
        XFillRectangle(connection.display, static_cast<Window>(hwnd), gc, r.left - origin_x,
                       r.top - origin_y, static_cast<unsigned>(r.right - r.left),
                       static_cast<unsigned>(r.bottom - r.top));
        XFreeGC(connection.display, gc);
        return trap.Failed() ? DDERR_INVALIDOBJECT : DD_OK;
    }

    // A colour fill of (part of) a 16- or 32-bit RGB memory surface.
    HRESULT FillMemory(const RECT* dest, DWORD color) {
        const DDSURFACEDESC2& desc = m_memory.Desc();
        const DDPIXELFORMAT& format = desc.ddpfPixelFormat;
        if ((format.dwFlags & DDPF_RGB) == 0 || m_memory.Locked()) return DDERR_UNSUPPORTED;
        RECT r{0, 0, static_cast<LONG>(desc.dwWidth), static_cast<LONG>(desc.dwHeight)};
        if (dest != nullptr) {
            if (dest->left < 0 || dest->top < 0 || dest->right > r.right ||
                dest->bottom > r.bottom || dest->left > dest->right || dest->top > dest->bottom) {
                return DDERR_INVALIDRECT;
            }
            r = *dest;
        }
        const size_t bytes_per_pixel = format.dwRGBBitCount / 8;
        auto memory = m_memory.Bytes();
        for (LONG y = r.top; y < r.bottom; ++y) {
            uint8_t* row = memory.data() + static_cast<size_t>(y) * desc.lPitch;
            for (LONG x = r.left; x < r.right; ++x) {
                std::memcpy(row + static_cast<size_t>(x) * bytes_per_pixel, &color,
                            bytes_per_pixel);
            }
        }
        return DD_OK;
    }

    std::shared_ptr<X11Connection> m_pConnection;
    RECT m_rcDevice;  // the device's part of the virtual desktop
    bool m_bPrimary;
    uint32_t m_nGeneration;                    // the layout generation of the device that made it
    SurfaceMemory m_memory;                    // offscreen surfaces only
    IDirectDrawClipper* m_pClipper = nullptr;  // one reference, while attached
    DDCOLORKEY m_srcColorKey{};
    std::unique_ptr<X11Presenter> m_pPresenter;  // primary surfaces: made on the first blit
};

class X11DirectDraw final : public ComObject<IDirectDraw7> {
  public:
    X11DirectDraw(std::shared_ptr<X11Connection> connection, RECT device_rect)
        : m_pConnection(std::move(connection)),
          m_rcDevice(device_rect),
          m_nGeneration(m_pConnection->CurrentGeneration()) {}

    HRESULT STDMETHODCALLTYPE CreateClipper(DWORD /*flags*/, LPDIRECTDRAWCLIPPER* clipper,
                                            IUnknown* outer) override {
        if (clipper == nullptr || outer != nullptr) return DDERR_INVALIDPARAMS;
        *clipper = new X11Clipper;
        return DD_OK;
    }
    HRESULT STDMETHODCALLTYPE CreateSurface(LPDDSURFACEDESC2 desc, LPDIRECTDRAWSURFACE7* surface,
                                            IUnknown* outer) override {
        if (surface != nullptr) *surface = nullptr;
        if (desc == nullptr || surface == nullptr || outer != nullptr ||
            desc->dwSize != sizeof(DDSURFACEDESC2) || (desc->dwFlags & DDSD_CAPS) == 0) {
            return DDERR_INVALIDPARAMS;
        }
        const bool primary = (desc->ddsCaps.dwCaps & DDSCAPS_PRIMARYSURFACE) != 0;
        auto* made = new X11Surface(m_pConnection, m_rcDevice, primary, m_nGeneration);
        if (!primary) {
            HRESULT hr = DDERR_OUTOFMEMORY;
            try {
                hr = made->Allocate(*desc);
            } catch (...) {
                made->Release();
                throw;
            }
            if (FAILED(hr)) {
                made->Release();
                return hr;
            }
        }
        *surface = made;
        return DD_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCaps(LPDDCAPS driver_caps, LPDDCAPS hel_caps) override {
        if (driver_caps == nullptr && hel_caps == nullptr) return DDERR_INVALIDPARAMS;
        for (LPDDCAPS caps : {driver_caps, hel_caps}) {
            if (caps == nullptr) continue;
            if (caps->dwSize != sizeof(DDCAPS)) return DDERR_INVALIDPARAMS;
            // Blits convert FourCC formats, stretch and shrink both ways, and fill colours.
            caps->dwCaps = DDCAPS_BLT | DDCAPS_BLTFOURCC | DDCAPS_BLTSTRETCH | DDCAPS_BLTCOLORFILL;
            caps->dwFXCaps = DDFXCAPS_BLTSHRINKX | DDFXCAPS_BLTSHRINKY | DDFXCAPS_BLTSTRETCHX |
                             DDFXCAPS_BLTSTRETCHY;
        }
        return DD_OK;
    }
    HRESULT STDMETHODCALLTYPE RestoreDisplayMode() override { return DD_OK; }
    HRESULT STDMETHODCALLTYPE SetCooperativeLevel(HWND /*hwnd*/, DWORD flags) override {
        return (flags & DDSCL_NORMAL) != 0 ? DD_OK : DDERR_INVALIDPARAMS;
    }
    HRESULT STDMETHODCALLTYPE TestCooperativeLevel() override { return DD_OK; }

  private:
    std::shared_ptr<X11Connection> m_pConnection;
    RECT m_rcDevice;
    uint32_t m_nGeneration;  // the layout generation this device belongs to
};

int MonitorIndexOf(HMONITOR monitor) {
    return static_cast<int>(reinterpret_cast<uintptr_t>(monitor)) - 1;
}

}  // namespace

GUID X11MonitorGuid(int index) {
    GUID guid{};
    guid.Data1 = 0x4F52564Eu;  // "ORVN"
    guid.Data2 = 0x5831;       // "X1"
    guid.Data3 = 0x3100;
    guid.Data4[7] = static_cast<uint8_t>(index + 1);
    return guid;
}

// ---- The backend -----------------------------------------------------------------------------

X11Backend::X11Backend() = default;
X11Backend::~X11Backend() = default;

std::shared_ptr<X11Connection> X11Backend::Connection() {
    std::lock_guard<std::mutex> guard(m_lock);
    // A lost server: the objects made on the old connection keep it until they go; the next
    // devices are made on a new one once a server answers.
    if (m_pConnection && m_pConnection->bBroken) m_pConnection.reset();
    const auto now = std::chrono::steady_clock::now();
    if (!m_pConnection && now >= m_nextOpenAttempt) {
        m_nextOpenAttempt = now + std::chrono::seconds(1);
        m_pConnection = X11Connection::Open();
    }
    return m_pConnection;
}

bool X11Backend::IsDirectDrawLoaded() {
    return Connection() != nullptr;
}

HRESULT X11Backend::EnumerateDevices(LPDDENUMCALLBACKEXA callback, LPVOID context, DWORD flags) {
    auto connection = Connection();
    if (!connection) return DDERR_GENERIC;
    std::vector<X11Monitor> monitors = QueryMonitors(*connection);
    {
        std::lock_guard<std::recursive_mutex> guard(connection->lock);
        connection->monitors = monitors;
        connection->NoteLayout(monitors);
    }
    char description[] = "Primary Display Driver";
    char driver[] = "display";
    // One monitor: the primary display driver alone, as Windows reports a single display.
    if (!callback(nullptr, description, driver, context, nullptr)) return DD_OK;
    if (monitors.size() < 2 || (flags & DDENUM_ATTACHEDSECONDARYDEVICES) == 0) return DD_OK;
    for (size_t i = 0; i < monitors.size(); ++i) {
        GUID guid = X11MonitorGuid(static_cast<int>(i));
        std::string name = monitors[i].name.empty() ? "monitor" : monitors[i].name;
        // A monitor handle is an opaque value: the monitor's index plus one.
        HMONITOR monitor = reinterpret_cast<HMONITOR>(
            static_cast<uintptr_t>(i + 1));  // NOLINT(performance-no-int-to-ptr)
        if (!callback(&guid, name.data(), driver, context, monitor)) break;
    }
    return DD_OK;
}

HRESULT X11Backend::CreateDirectDraw(GUID* guid, IDirectDraw7** out) {
    auto connection = Connection();
    if (!connection) return DDERR_GENERIC;
    RECT device_rect = ScreenRect(*connection);
    if (!IsZeroGuid(guid)) {
        std::lock_guard<std::recursive_mutex> guard(connection->lock);
        int index = -1;
        for (size_t i = 0; i < connection->monitors.size(); ++i) {
            const GUID expected = X11MonitorGuid(static_cast<int>(i));
            if (std::memcmp(guid, &expected, sizeof(GUID)) == 0) index = static_cast<int>(i);
        }
        if (index < 0) return DDERR_NOTFOUND;
        device_rect = connection->monitors[static_cast<size_t>(index)].rect;
    }
    *out = new X11DirectDraw(connection, device_rect);
    return DD_OK;
}

BOOL X11Backend::GetMonitorInfo(HMONITOR monitor, MONITORINFO* info) {
    auto connection = Connection();
    if (!connection) return FALSE;
    std::lock_guard<std::recursive_mutex> guard(connection->lock);
    const int index = MonitorIndexOf(monitor);
    if (index < 0 || static_cast<size_t>(index) >= connection->monitors.size()) return FALSE;
    const X11Monitor& found = connection->monitors[static_cast<size_t>(index)];
    info->rcMonitor = found.rect;
    info->rcWork = found.rect;
    info->dwFlags = found.bPrimary ? MONITORINFOF_PRIMARY : 0;
    if (info->cbSize == sizeof(MONITORINFOEXA)) {
        std::snprintf(static_cast<MONITORINFOEXA*>(info)->szDevice, CCHDEVICENAME, "%s",
                      found.name.c_str());
    }
    return TRUE;
}

int X11Backend::GetSystemMetrics(int index) {
    auto connection = Connection();
    if (!connection) return 0;
    std::lock_guard<std::recursive_mutex> guard(connection->lock);
    const RECT screen = ScreenRect(*connection);
    switch (index) {
        case SM_CXSCREEN:
        case SM_CXVIRTUALSCREEN:
            return screen.right;
        case SM_CYSCREEN:
        case SM_CYVIRTUALSCREEN:
            return screen.bottom;
        case SM_CMONITORS:
            return std::max<int>(1, static_cast<int>(connection->monitors.size()));
        default:
            return 0;
    }
}

// The window functions answer from the state that the windows' events keep (x11_windows.h).
// IsWindow, which the engine asks first whenever it follows its window, makes one round trip
// before it answers, so that every change made before the call is taken in.

BOOL X11Backend::IsWindow(HWND hwnd) {
    auto connection = Connection();
    if (!connection) return FALSE;
    std::lock_guard<std::recursive_mutex> guard(connection->lock);
    if (!connection->pendingPuts.empty()) {
        // A part of a window whose later part never came is shown now.
        X11ErrorTrap trap(connection->display);
        SendPendingPuts(*connection);
    }
    connection->Sync();
    X11WindowState state;
    return connection->WindowState(hwnd, &state);
}

BOOL X11Backend::IsWindowVisible(HWND hwnd) {
    auto connection = Connection();
    X11WindowState state;
    return connection && connection->WindowState(hwnd, &state) && state.bViewable;
}

BOOL X11Backend::GetClientRect(HWND hwnd, LPRECT rect) {
    auto connection = Connection();
    X11WindowState state;
    if (!connection || !connection->WindowState(hwnd, &state)) return FALSE;
    *rect = RECT{0, 0, state.width, state.height};
    return TRUE;
}

BOOL X11Backend::GetWindowRect(HWND hwnd, LPRECT rect) {
    // An X11 window has no frame of its own: its rectangle is its client area on the screen.
    auto connection = Connection();
    X11WindowState state;
    if (!connection || !connection->WindowState(hwnd, &state) || !state.bOnScreen) return FALSE;
    *rect = RECT{state.rootX, state.rootY, state.rootX + state.width, state.rootY + state.height};
    return TRUE;
}

BOOL X11Backend::ClientToScreen(HWND hwnd, LPPOINT point) {
    auto connection = Connection();
    X11WindowState state;
    if (!connection || !connection->WindowState(hwnd, &state) || !state.bOnScreen) return FALSE;
    point->x += state.rootX;
    point->y += state.rootY;
    return TRUE;
}

}  // namespace orvenna::platform
