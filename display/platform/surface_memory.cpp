// System-memory surfaces.
#include "platform/surface_memory.h"

#include <cairo.h>

#include <algorithm>
#include <cstring>

#include "platform/surface_layout.h"

namespace orvenna::platform {

SurfaceMemory::~SurfaceMemory() {
    if (m_hDC != nullptr) ReleaseDC(m_hDC);
}

HRESULT SurfaceMemory::Allocate(const DDSURFACEDESC2& requested, DWORD extra_pitch,
                                DWORD alignment) {
    if ((requested.dwFlags & (DDSD_WIDTH | DDSD_HEIGHT)) != (DDSD_WIDTH | DDSD_HEIGHT) ||
        requested.dwWidth == 0 || requested.dwHeight == 0) {
        return DDERR_INVALIDPARAMS;
    }
    DDPIXELFORMAT format{};
    if ((requested.dwFlags & DDSD_PIXELFORMAT) != 0) {
        format = requested.ddpfPixelFormat;
    } else {
        format.dwSize = sizeof(format);
        format.dwFlags = DDPF_RGB;
        format.dwRGBBitCount = 32;
        format.dwRBitMask = 0xFF0000;
        format.dwGBitMask = 0x00FF00;
        format.dwBBitMask = 0x0000FF;
    }
    const SurfaceLayout layout =
        ComputeSurfaceLayout(format, requested.dwWidth, requested.dwHeight, extra_pitch, alignment);
    if (!layout.bKnown) return DDERR_INVALIDPIXELFORMAT;

    m_memory.assign(layout.nBytes + kGuardBytes, 0);
    std::fill(m_memory.begin() + static_cast<std::ptrdiff_t>(layout.nBytes), m_memory.end(),
              kGuardValue);
    m_nBytes = layout.nBytes;

    std::memset(&m_desc, 0, sizeof(m_desc));
    m_desc.dwSize = sizeof(m_desc);
    m_desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PITCH | DDSD_PIXELFORMAT |
                     (requested.dwFlags & DDSD_CKSRCBLT);
    m_desc.dwWidth = requested.dwWidth;
    m_desc.dwHeight = requested.dwHeight;
    m_desc.lPitch = layout.lPitch;
    m_desc.ddpfPixelFormat = format;
    m_desc.ddsCaps = requested.ddsCaps;
    m_desc.ddckCKSrcBlt = requested.ddckCKSrcBlt;
    return DD_OK;
}

HRESULT SurfaceMemory::GetDesc(LPDDSURFACEDESC2 out) const {
    if (out == nullptr || out->dwSize != sizeof(DDSURFACEDESC2)) return DDERR_INVALIDPARAMS;
    *out = m_desc;
    return DD_OK;
}

HRESULT SurfaceMemory::Lock(LPDDSURFACEDESC2 out) {
    if (out == nullptr || out->dwSize != sizeof(DDSURFACEDESC2)) return DDERR_INVALIDPARAMS;
    if (m_bLocked || m_hDC != nullptr) return DDERR_SURFACEBUSY;
    *out = m_desc;
    out->dwFlags |= DDSD_LPSURFACE;
    out->lpSurface = m_memory.data();
    m_bLocked = true;
    return DD_OK;
}

HRESULT SurfaceMemory::Unlock() {
    if (!m_bLocked) return DDERR_NOTLOCKED;
    m_bLocked = false;
    return DD_OK;
}

HRESULT SurfaceMemory::GetDC(HDC* hdc) {
    if (hdc == nullptr) return DDERR_INVALIDPARAMS;
    *hdc = nullptr;
    const DDPIXELFORMAT& format = m_desc.ddpfPixelFormat;
    if ((format.dwFlags & DDPF_RGB) == 0 || format.dwRGBBitCount != 32 || m_bLocked ||
        m_hDC != nullptr) {
        return DDERR_CANTCREATEDC;
    }
    const int width = static_cast<int>(m_desc.dwWidth);
    if (m_desc.lPitch < cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, width)) {
        return DDERR_CANTCREATEDC;
    }
    cairo_surface_t* surface =
        cairo_image_surface_create_for_data(m_memory.data(), CAIRO_FORMAT_RGB24, width,
                                            static_cast<int>(m_desc.dwHeight), m_desc.lPitch);
    cairo_t* cr = cairo_create(surface);
    cairo_surface_destroy(surface);  // the context keeps its own reference
    if (cairo_status(cr) != CAIRO_STATUS_SUCCESS) {
        cairo_destroy(cr);
        return DDERR_CANTCREATEDC;
    }
    m_hDC = cr;
    *hdc = cr;
    return DD_OK;
}

HRESULT SurfaceMemory::ReleaseDC(HDC hdc) {
    if (hdc == nullptr || hdc != m_hDC) return DDERR_NODC;
    cairo_surface_flush(cairo_get_target(m_hDC));
    cairo_destroy(m_hDC);
    m_hDC = nullptr;
    return DD_OK;
}

bool SurfaceMemory::GuardIntact() const {
    return std::all_of(m_memory.begin() + static_cast<std::ptrdiff_t>(m_nBytes), m_memory.end(),
                       [](uint8_t b) { return b == kGuardValue; });
}

}  // namespace orvenna::platform
