// Frame surfaces: one offscreen surface per device in the frame's pixel format (or the
// substitute the device takes instead), and the copy of each frame into it.
#include <cstring>

#include "ddraw_engine.h"
#include "frame_copy.h"
#include "pixel_formats.h"

namespace orvenna {

int32_t DDrawDisplayEngine::CreateFrameSurface(DWORD device, const SurfaceGeometry* geometry) {
    if (geometry == nullptr) return ORVD_E_PARAM;
    const DisplayDeviceTable& table = DeviceTable();
    DeviceSurfaceSet* set = device < kMaxDisplayDevices ? m_pDeviceSets[device].get() : nullptr;
    DisplayDevice* entry = device < table.dwCount ? table.entries[device].get() : nullptr;
    if (set == nullptr || entry == nullptr || !entry->pDirectDraw) return ORVD_E_NOT_READY;

    DDSURFACEDESC2 desc;
    std::memset(&desc, 0, sizeof(desc));
    desc.dwSize = sizeof(desc);
    desc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PIXELFORMAT;
    desc.dwWidth = geometry->dwWidth;
    desc.dwHeight = geometry->dwHeight;
    desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY;
    if (geometry->dwFormat < kPixelFormatCount) {
        desc.ddpfPixelFormat = kPixelFormatTable[geometry->dwFormat];
    }

    auto format = static_cast<int32_t>(geometry->dwFormat);
    for (bool substituted = false;; substituted = true) {
        IDirectDrawSurface7* surface = nullptr;
        const HRESULT hr = entry->pDirectDraw->CreateSurface(&desc, &surface, nullptr);
        if (hr == DD_OK && surface != nullptr) {
            set->pFrameSurface.Reset(surface);
            set->nSurfaceFormat = format;
            return ORVD_OK;
        }
        if (surface != nullptr) surface->Release();
        if (substituted) return ORVD_E_UNSUPPORTED;
        // The substitute is chosen once per engine. A surface made again later (new frame size,
        // lost surfaces) takes the recorded substitute again when it stands for this format.
        if (!ChooseFallbackFormat(m_nSubstituteFormat, geometry->dwFormat) &&
            (m_nSubstituteFormat == -1 ||
             m_nSubstituteFormat != orvenna::SubstituteFormat(geometry->dwFormat))) {
            return ORVD_E_UNSUPPORTED;
        }
        format = m_nSubstituteFormat;
        desc.ddpfPixelFormat = kPixelFormatTable[format];
    }
}

int32_t DDrawDisplayEngine::PrepareFrameSurface(DWORD device, const SurfaceGeometry* geometry) {
    DeviceSurfaceSet* set = device < kMaxDisplayDevices ? m_pDeviceSets[device].get() : nullptr;
    if (set == nullptr) return ORVD_E_NOT_READY;
    set->pFrameSurface.Reset();
    set->nSurfaceFormat = -1;
    set->lPitch = 0;

    const int32_t created = CreateFrameSurface(device, geometry);
    if (created != ORVD_OK) return created;

    DDSURFACEDESC2 desc;
    std::memset(&desc, 0, sizeof(desc));
    desc.dwSize = sizeof(desc);
    if (FAILED(set->pFrameSurface->GetSurfaceDesc(&desc))) return ORVD_E_DDRAW;
    set->lPitch = desc.lPitch;
    return ORVD_OK;
}

int32_t DDrawDisplayEngine::CopyFrame(DWORD device) {
    if (m_pSource == nullptr) return ORVD_E_PARAM;
    auto frame_surface = [this, device]() -> IDirectDrawSurface7* {
        DeviceSurfaceSet* set = device < kMaxDisplayDevices ? m_pDeviceSets[device].get() : nullptr;
        return set != nullptr ? set->pFrameSurface.Get() : nullptr;
    };
    IDirectDrawSurface7* surface = frame_surface();
    if (surface == nullptr) return ORVD_E_NOT_READY;
    m_nDestPitch = m_pDeviceSets[device]->lPitch;

    DDSURFACEDESC2 desc;
    std::memset(&desc, 0, sizeof(desc));
    desc.dwSize = sizeof(desc);
    HRESULT hr = surface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr);
    if (hr == DDERR_SURFACELOST) {
        surface->Unlock(nullptr);
        RecoverLostSurface(device);
        // Recovery may have made the engine's surfaces again: the surface locked before may be
        // gone, and the new one is made on the next frame.
        surface = frame_surface();
        if (surface == nullptr) return ORVD_E_DDRAW;
        std::memset(&desc, 0, sizeof(desc));
        desc.dwSize = sizeof(desc);
        hr = surface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr);
    }
    if (FAILED(hr)) {
        surface->Unlock(nullptr);
        RecoverLostSurface(device);
        return ORVD_E_DDRAW;
    }
    m_pDest = static_cast<unsigned char*>(desc.lpSurface);
    if (m_pDest == nullptr) {
        surface->Unlock(nullptr);
        RecoverLostSurface(device);
        return ORVD_E_DDRAW;
    }

    // The copy goes by what the surface is: its own size, its pitch and the format it was really
    // made in, so a frame that does not match it is never written past its end.
    const DeviceSurfaceSet& set = *m_pDeviceSets[device];
    SurfaceView view;
    view.bytes = m_pDest;
    view.pitch = desc.lPitch != 0 ? desc.lPitch : m_nDestPitch;
    view.width = (desc.dwFlags & DDSD_WIDTH) != 0 ? desc.dwWidth : m_geometry.dwWidth;
    view.height = (desc.dwFlags & DDSD_HEIGHT) != 0 ? desc.dwHeight : m_geometry.dwHeight;
    view.format = static_cast<unsigned>(set.nSurfaceFormat);
    PlaneLayout layout;
    bool copied = false;
    if (set.nSurfaceFormat >= 0 &&
        SurfacePlanes(view.format, view.width, view.height, view.pitch, &layout)) {
        view.capacity = layout.bytes;
        copied = orvenna::CopyFrame(
            FrameSource{m_pSource, m_frame.dwWidth, m_frame.dwHeight, m_frame.dwFormat}, view);
    }
    surface->Unlock(nullptr);
    // A frame the copy cannot take (a side beyond what a surface holds) is not shown: the old
    // picture must not pass for it. YUV9 alone is never copied, by design.
    return copied || m_frame.dwFormat == ORVD_FORMAT_YUV9 ? ORVD_OK : ORVD_E_PARAM;
}

}  // namespace orvenna
