// Showing frames: each visible device's frame surface is kept in step with the frame's shape,
// filled, optionally handed to the caller's drawing callback through an RGB32 copy, and blitted
// into the display window, filling it or fitted to 4:3 or 16:9 between black bars.
#include <algorithm>
#include <cstring>

#include "ddraw_engine.h"
#include "letterbox.h"
#include "pixel_formats.h"

namespace orvenna {
namespace {

bool SameRect(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

}  // namespace

int32_t DDrawDisplayEngine::DisplayFrame(tagORVD_FRAME* frame) {
    if (frame == nullptr) return ORVD_E_PARAM;
    const uint32_t serial = ++m_nPassSerial;
    const int32_t followed = FollowDeviceTable();
    if (followed != ORVD_OK) return followed;
    m_pSource = frame->pBuffer;
    if (m_geometry.dwWidth == 0 && m_geometry.dwHeight == 0) {
        m_geometry = {frame->dwWidth, frame->dwHeight, frame->dwFormat};
    }
    m_frame = {frame->dwWidth, frame->dwHeight, frame->dwFormat};

    const int32_t tracked = TrackWindow();
    if (tracked != ORVD_OK) return tracked;

    if (m_geometry.dwWidth != m_frame.dwWidth || m_geometry.dwHeight != m_frame.dwHeight ||
        m_geometry.dwFormat != m_frame.dwFormat) {
        m_geometry = m_frame;
        for (auto& set : m_pDeviceSets) {
            if (set) set->bPrepared = false;
        }
    }
    const DisplayDeviceTable& table = DeviceTable();
    for (DWORD i = 0; i < table.dwCount && i < kMaxDisplayDevices; ++i) {
        if (!m_pDeviceSets[i]) return ORVD_E_NOT_READY;
        if (!m_pDeviceSets[i]->bVisible) continue;
        if (!m_pDeviceSets[i]->bPrepared) {
            const int32_t prepared = PrepareFrameSurface(i, &m_geometry);
            if (prepared != ORVD_OK) return prepared;
            m_pDeviceSets[i]->bPrepared = true;
        }
        const int32_t copied = CopyFrame(i);
        if (copied != ORVD_OK) return copied;
        const int32_t presented = Present(i);
        if (presented != ORVD_OK) return presented;
        // The DC callback showed a newer frame on this handle, or released it: the rest is
        // that call's business.
        if (m_nPassSerial != serial) return ORVD_OK;
    }
    return ORVD_OK;
}

int32_t DDrawDisplayEngine::RefreshDisplay() {
    const uint32_t serial = ++m_nPassSerial;
    const int32_t followed = FollowDeviceTable();
    if (followed != ORVD_OK) return followed;
    const int32_t tracked = TrackWindow();
    if (tracked != ORVD_OK) return tracked;
    const DisplayDeviceTable& table = DeviceTable();
    for (DWORD i = 0; i < table.dwCount && i < kMaxDisplayDevices; ++i) {
        if (m_pDeviceSets[i] && m_pDeviceSets[i]->bVisible) Present(i);
        if (m_nPassSerial != serial) break;
    }
    return ORVD_OK;
}

int32_t DDrawDisplayEngine::Present(DWORD device) {
    const DisplayDeviceTable& table = DeviceTable();
    DeviceSurfaceSet* set = device < kMaxDisplayDevices ? m_pDeviceSets[device].get() : nullptr;
    DisplayDevice* entry = device < table.dwCount ? table.entries[device].get() : nullptr;
    if (set == nullptr || !set->pFrameSurface || entry == nullptr || !entry->pPrimary) {
        return ORVD_E_NOT_READY;
    }
    // Held here for the whole pass: the DC callback may call the library again and replace or
    // release the engine's surfaces meanwhile.
    auto source = ComPtr<IDirectDrawSurface7>::Share(set->pFrameSurface.Get());

    if (m_pDCCallback != nullptr) {
        if (!SameRect(set->rcDCSurface, set->rcDest)) set->pDCSurface.Reset();
        if (!set->pDCSurface) {
            const int32_t made = CreateDCSurface(device);
            if (made != ORVD_OK) return made;
        }
        ClipDCSurface(device);
        auto dc_surface = ComPtr<IDirectDrawSurface7>::Share(set->pDCSurface.Get());
        const HRESULT hr = dc_surface->Blt(nullptr, source.Get(), nullptr, DDBLT_WAIT, nullptr);
        if (FAILED(hr)) {
            OutputDebugStringA("dc off blt fail!\n");
            if (hr == DDERR_SURFACELOST) RecoverLostSurface(device);
            return ORVD_E_DDRAW;
        }
        OutputDebugStringA("dc off blt success!\n");
        const uint32_t serial = m_nPassSerial;
        const uint32_t generation = table.dwGeneration;
        // The callback only ever sees a device context it can draw on.
        HDC dc = nullptr;
        if (SUCCEEDED(dc_surface->GetDC(&dc)) && dc != nullptr) {
            m_pDCCallback(m_nCallbackHandle, dc, m_nCallbackUser);
            dc_surface->ReleaseDC(dc);
        }
        // A presentation of this engine from inside the callback has shown a newer picture (or
        // the handle was released); a rebuilt device table leaves `set` and `entry` behind.
        if (m_nPassSerial != serial) return ORVD_OK;
        if (!table.bSetUp || table.dwGeneration != generation) return ORVD_E_NOT_READY;
        source = std::move(dc_surface);
    }

    // The clipper is shared by every engine on the device: it is bound to this engine's window
    // before each presentation, as another handle may have bound it since.
    if (entry->pClipper) entry->pClipper->SetHWnd(0, m_hWnd);
    RECT dest{};
    switch (m_dwDisplayMode) {
        case kDisplayModeFill:
            GetWindowRect(m_hWnd, &dest);
            break;
        case kDisplayMode4x3:
            FitAspect(device, 4, 3, &dest);
            break;
        case kDisplayMode16x9:
            FitAspect(device, 16, 9, &dest);
            break;
        default:
            break;
    }
    const HRESULT hr = entry->pPrimary->Blt(&dest, source.Get(), nullptr, DDBLT_WAIT, nullptr);
    if (FAILED(hr)) {
        OutputDebugStringA("main surface blt fail!\n");
        if (hr == DDERR_SURFACELOST) RecoverLostSurface(device);
        return ORVD_E_DDRAW;
    }
    OutputDebugStringA("main surface blt success!\n");
    return ORVD_OK;
}

int32_t DDrawDisplayEngine::CreateDCSurface(DWORD device) {
    if (m_pDCCallback == nullptr) return ORVD_OK;
    const DisplayDeviceTable& table = DeviceTable();
    DeviceSurfaceSet* set = device < kMaxDisplayDevices ? m_pDeviceSets[device].get() : nullptr;
    DisplayDevice* entry = device < table.dwCount ? table.entries[device].get() : nullptr;
    if (set == nullptr || entry == nullptr || !entry->pDirectDraw) return ORVD_E_DDRAW;

    const RECT& d = set->rcDest;
    DDSURFACEDESC2 desc;
    std::memset(&desc, 0, sizeof(desc));
    desc.dwSize = sizeof(desc);
    desc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PIXELFORMAT | DDSD_CKSRCBLT;
    desc.ddsCaps.dwCaps =
        DDSCAPS_OFFSCREENPLAIN | (set->bVideoMemory ? DDSCAPS_VIDEOMEMORY : DDSCAPS_SYSTEMMEMORY);
    desc.ddpfPixelFormat = kPixelFormatTable[ORVD_FORMAT_RGB32];
    // One pixel narrower than the destination: the callback's pictures are laid out for that.
    const int64_t width = int64_t{d.right} - d.left - 1;
    const int64_t height = int64_t{d.bottom} - d.top;
    if (width <= 0 || height <= 0) return ORVD_E_DDRAW;
    desc.dwWidth = static_cast<DWORD>(width);
    desc.dwHeight = static_cast<DWORD>(height);
    desc.ddckCKSrcBlt.dwColorSpaceLowValue = 0;  // black
    desc.ddckCKSrcBlt.dwColorSpaceHighValue = 0;
    set->rcDCSurface = d;

    IDirectDrawSurface7* surface = nullptr;
    const HRESULT hr = entry->pDirectDraw->CreateSurface(&desc, &surface, nullptr);
    if (FAILED(hr) || surface == nullptr) {
        if (surface != nullptr) surface->Release();
        return ORVD_E_DDRAW;
    }
    set->pDCSurface.Reset(surface);
    if (set->pDCClipper) surface->SetClipper(set->pDCClipper.Get());
    return ORVD_OK;
}

RECT DDrawDisplayEngine::PictureRect() const {
    RECT window{};
    if (m_dwDisplayMode > kDisplayMode16x9 || !GetWindowRect(m_hWnd, &window)) return RECT{};
    if (m_dwDisplayMode == kDisplayModeFill) return window;
    return m_dwDisplayMode == kDisplayMode4x3 ? FitAspectRect(window, 4, 3).dest
                                              : FitAspectRect(window, 16, 9).dest;
}

void DDrawDisplayEngine::ClipDCSurface(DWORD device) {
    const DisplayDeviceTable& table = DeviceTable();
    DeviceSurfaceSet* set = device < kMaxDisplayDevices ? m_pDeviceSets[device].get() : nullptr;
    DisplayDevice* entry = device < table.dwCount ? table.entries[device].get() : nullptr;
    if (set == nullptr || !set->pDCSurface || entry == nullptr || !entry->pDirectDraw) return;

    // The DC surface in full, and the picture's rectangle on the screen that it is scaled to.
    const RECT& made = set->rcDCSurface;
    const RECT whole{0, 0, made.right - made.left - 1, made.bottom - made.top};
    const RECT picture = PictureRect();
    const int64_t picture_w = int64_t{picture.right} - picture.left;
    const int64_t picture_h = int64_t{picture.bottom} - picture.top;
    RECT part = whole;
    if (entry->pMonitorInfo && picture_w > 0 && picture_h > 0) {
        const RECT& m = entry->pMonitorInfo->rcMonitor;
        const int64_t left = std::max(picture.left, m.left) - int64_t{picture.left};
        const int64_t top = std::max(picture.top, m.top) - int64_t{picture.top};
        const int64_t right = std::min(picture.right, m.right) - int64_t{picture.left};
        const int64_t bottom = std::min(picture.bottom, m.bottom) - int64_t{picture.top};
        if (right > left && bottom > top) {
            // Scaled into the DC surface, rounded outwards, with a margin for the filter that
            // scales it onto the screen.
            constexpr int64_t kMargin = 2;
            part.left =
                static_cast<LONG>(std::max<int64_t>(left * whole.right / picture_w - kMargin, 0));
            part.top =
                static_cast<LONG>(std::max<int64_t>(top * whole.bottom / picture_h - kMargin, 0));
            part.right = static_cast<LONG>(std::min<int64_t>(
                (right * whole.right + picture_w - 1) / picture_w + kMargin, whole.right));
            part.bottom = static_cast<LONG>(std::min<int64_t>(
                (bottom * whole.bottom + picture_h - 1) / picture_h + kMargin, whole.bottom));
        }
    }
    const bool partial = !SameRect(part, whole);
    if (!partial && !set->pDCClipper) return;  // the usual case: the whole, as always
    if (!set->pDCClipper) {
        IDirectDrawClipper* clipper = nullptr;
        if (FAILED(entry->pDirectDraw->CreateClipper(0, &clipper, nullptr)) || clipper == nullptr) {
            return;  // the whole surface is filled: slower, still right
        }
        set->pDCClipper.Reset(clipper);
        set->pDCSurface->SetClipper(clipper);
    }
    struct {
        RGNDATAHEADER rdh;
        RECT rect;
    } region{};
    region.rdh.dwSize = sizeof(RGNDATAHEADER);
    region.rdh.iType = RDH_RECTANGLES;
    region.rdh.nCount = 1;
    region.rdh.nRgnSize = sizeof(RECT);
    region.rdh.rcBound = part;
    region.rect = part;
    set->pDCClipper->SetClipList(reinterpret_cast<RGNDATA*>(&region), 0);
}

void DDrawDisplayEngine::FitAspect(DWORD device, int aspect_w, int aspect_h, RECT* out) {
    DDBLTFX fx;
    std::memset(&fx, 0, sizeof(fx));
    fx.dwSize = sizeof(fx);
    fx.dwFillColor = 0;  // black

    RECT window{};
    GetWindowRect(m_hWnd, &window);
    AspectFit fit = FitAspectRect(window, aspect_w, aspect_h);
    const DisplayDeviceTable& table = DeviceTable();
    DisplayDevice* entry = device < table.dwCount ? table.entries[device].get() : nullptr;
    if (entry != nullptr && entry->pPrimary) {
        for (int i = 0; i < fit.bar_count; ++i) {
            entry->pPrimary->Blt(&fit.bars[i], nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx);
        }
    }
    if (out != nullptr) *out = fit.dest;
}

}  // namespace orvenna
