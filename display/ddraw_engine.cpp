// The DirectDraw engine's set-up, release, window tracking, placement on the devices and
// recovery after a lost surface, and its setters.
#include "ddraw_engine.h"

#include <algorithm>
#include <cstdlib>
#include <new>

namespace orvenna {

namespace {

// The client area must be at least this wide and high to be drawn into.
constexpr LONG kMinClientSize = 10;

}  // namespace

DDrawDisplayEngine::~DDrawDisplayEngine() {
    ReleaseSurfaces();
}

int32_t DDrawDisplayEngine::Init() {
    if (SetUpDevices() != 0) return ORVD_E_DDRAW;
    if (m_bInitialised) return ORVD_OK;

    const DisplayDeviceTable& table = DeviceTable();
    m_rcDesktop = RECT{};
    m_dwDeviceGeneration = table.dwGeneration;
    for (DWORD i = 0; i < table.dwCount && i < kMaxDisplayDevices; ++i) {
        if (!m_pDeviceSets[i]) {
            m_pDeviceSets[i] =
                std::unique_ptr<DeviceSurfaceSet>(new (std::nothrow) DeviceSurfaceSet);
        }
        const DisplayDevice* device = table.entries[i].get();
        if (!m_pDeviceSets[i] || device == nullptr || !device->pDirectDraw) {
            ReleaseSurfaces();
            return -1;
        }
        m_pDeviceSets[i]->bVideoMemory = device->dwCapabilities == kFullyCapable;
        if (device->pMonitorInfo) {
            const RECT& monitor = device->pMonitorInfo->rcMonitor;
            m_rcDesktop.left = std::min(m_rcDesktop.left, monitor.left);
            m_rcDesktop.top = std::min(m_rcDesktop.top, monitor.top);
            m_rcDesktop.right = std::max(m_rcDesktop.right, monitor.right);
            m_rcDesktop.bottom = std::max(m_rcDesktop.bottom, monitor.bottom);
        }
        if (table.wMonitorCount == 0) {
            m_rcDesktop.right = std::max<LONG>(m_rcDesktop.right, GetSystemMetrics(SM_CXSCREEN));
            m_rcDesktop.bottom = std::max<LONG>(m_rcDesktop.bottom, GetSystemMetrics(SM_CYSCREEN));
        }
    }
    m_bInitialised = true;
    return ORVD_OK;
}

void DDrawDisplayEngine::ReleaseSurfaces() {
    // Every set goes, not only those below the current device count: a rebuilt device table
    // may hold fewer devices than the one the sets were made for.
    for (auto& set : m_pDeviceSets) {
        if (!set) continue;
        set->pFrameSurface.Reset();
        set->pDCSurface.Reset();
        set->pDCClipper.Reset();
        set.reset();
    }
    m_bInitialised = false;
}

int32_t DDrawDisplayEngine::FollowDeviceTable() {
    const DisplayDeviceTable& table = DeviceTable();
    if (m_bInitialised && table.bSetUp && m_dwDeviceGeneration == table.dwGeneration) {
        return ORVD_OK;
    }
    ReleaseSurfaces();
    return Init() == ORVD_OK ? ORVD_OK : ORVD_E_NOT_READY;
}

void DDrawDisplayEngine::MarkReleased() {
    m_bReleased = true;
    ++m_nPassSerial;
}

int32_t DDrawDisplayEngine::SetDisplayWindow(HWND hwnd) {
    if (!IsWindow(hwnd)) return ORVD_E_PARAM;
    m_hWnd = hwnd;
    return ORVD_OK;
}

int32_t DDrawDisplayEngine::SetDisplayRect(RECT* rect) {
    if (rect == nullptr) {
        m_rcDisplay = RECT{};
        return ORVD_OK;
    }
    if (rect->left < 0 || rect->top < 0 || rect->right < 0 || rect->bottom < 0) {
        return ORVD_E_PARAM;
    }
    m_rcDisplay = *rect;
    return ORVD_OK;
}

int32_t DDrawDisplayEngine::SetRotationAngle(uint32_t /*angle*/) {
    return ORVD_E_UNSUPPORTED;
}

int32_t DDrawDisplayEngine::RegisterDCCallback(ORVD_DCCALLBACK callback, intptr_t user,
                                               int32_t handle) {
    m_pDCCallback = callback;
    m_nCallbackUser = user;
    m_nCallbackHandle = handle;
    return ORVD_OK;
}

int32_t DDrawDisplayEngine::SetDisplayMode(uint32_t mode) {
    m_dwDisplayMode = mode;
    return ORVD_OK;
}

int32_t DDrawDisplayEngine::TrackWindow() {
    if (!IsWindow(m_hWnd) || !IsWindowVisible(m_hWnd)) return ORVD_E_NOT_READY;
    RECT client{};
    // The window may have gone between the two checks and this call.
    if (!GetClientRect(m_hWnd, &client)) return ORVD_E_NOT_READY;
    m_rcClient = client;
    if (std::abs(static_cast<int64_t>(client.right) - client.left) < kMinClientSize ||
        std::abs(static_cast<int64_t>(client.bottom) - client.top) < kMinClientSize) {
        return ORVD_E_NOT_READY;
    }
    POINT top_left{client.left, client.top};
    POINT bottom_right{client.right, client.bottom};
    if (!ClientToScreen(m_hWnd, &top_left) || !ClientToScreen(m_hWnd, &bottom_right)) {
        return ORVD_E_NOT_READY;
    }
    const RECT screen{top_left.x, top_left.y, bottom_right.x, bottom_right.y};
    if (screen.left >= m_rcDesktop.right || screen.top >= m_rcDesktop.bottom ||
        screen.right <= m_rcDesktop.left || screen.bottom <= m_rcDesktop.top) {
        return ORVD_E_NOT_READY;
    }
    m_rcScreen = screen;
    return PlaceOnDevices(&m_rcScreen);
}

int32_t DDrawDisplayEngine::PlaceOnDevices(const RECT* screen_rect) {
    if (screen_rect == nullptr) return ORVD_E_PARAM;
    const DisplayDeviceTable& table = DeviceTable();
    const RECT& r = *screen_rect;
    for (DWORD i = 0; i < table.dwCount && i < kMaxDisplayDevices; ++i) {
        const DisplayDevice* device = table.entries[i].get();
        DeviceSurfaceSet* set = m_pDeviceSets[i].get();
        if (device == nullptr || set == nullptr) return ORVD_E_NOT_READY;
        if (!device->pMonitorInfo) {
            // The primary display driver is drawn to only when it is the whole desktop.
            if (table.dwCount == 1) {
                set->bVisible = true;
                set->rcDest = r;
            }
            continue;
        }
        const RECT& m = device->pMonitorInfo->rcMonitor;
        if (r.top < m.bottom && r.bottom > m.top && r.right > m.left && r.left < m.right) {
            set->bVisible = true;
            set->rcDest = r;
            OffsetRect(&set->rcDest, -m.left, -m.top);
        } else {
            set->bVisible = false;
        }
    }
    return ORVD_OK;
}

int32_t DDrawDisplayEngine::RecoverLostSurface(DWORD device_index) {
    const DisplayDeviceTable& table = DeviceTable();
    DisplayDevice* device = device_index < table.dwCount && device_index < kMaxDisplayDevices
                                ? table.entries[device_index].get()
                                : nullptr;
    if (device != nullptr && device->pPrimary && FAILED(device->pPrimary->Restore())) {
        if (device->pDirectDraw && FAILED(device->pDirectDraw->RestoreDisplayMode())) {
            // Wait for the device to come back, but not for ever: the library lock is held,
            // and every caller of the library waits with us. Once the wait has been in vain,
            // later recoveries only look, until the device table is made again.
            const DWORD start = GetTickCount();
            while (FAILED(device->pDirectDraw->TestCooperativeLevel())) {
                if (device->bGaveUp || GetTickCount() - start >= kRecoverWaitMs) {
                    device->bGaveUp = true;
                    return ORVD_E_DDRAW;
                }
                Sleep(1);
            }
        }
        TearDownDevices();
        if (SetUpDevices() != 0) return ORVD_E_DDRAW;
    }
    DeviceSurfaceSet* set =
        device_index < kMaxDisplayDevices ? m_pDeviceSets[device_index].get() : nullptr;
    if (set != nullptr && set->pFrameSurface && FAILED(set->pFrameSurface->Restore())) {
        ReleaseSurfaces();
        if (Init() != 0) return ORVD_E_DDRAW;
    }
    return ORVD_OK;
}

}  // namespace orvenna
