// SurfaceMemory: the system-memory body of an offscreen surface, shared by the backends: its
// description, its bytes in the surface's own format at its pitch, locking, and a cairo device
// context over 32-bit surfaces.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/ddraw_layer.h"

namespace orvenna::platform {

class SurfaceMemory {
  public:
    // Bytes past the surface that must never be written (checked by GuardIntact).
    static constexpr size_t kGuardBytes = 64;
    static constexpr uint8_t kGuardValue = 0xFD;

    SurfaceMemory() = default;
    SurfaceMemory(const SurfaceMemory&) = delete;
    SurfaceMemory& operator=(const SurfaceMemory&) = delete;
    ~SurfaceMemory();

    // Takes width, height, pixel format (RGB32 when the description has none), caps and colour
    // key from `requested` and allocates the memory. returns: DD_OK, DDERR_INVALIDPARAMS (no
    // size) or DDERR_INVALIDPIXELFORMAT (a format no backend holds).
    HRESULT Allocate(const DDSURFACEDESC2& requested, DWORD extra_pitch, DWORD alignment);

    // The description as made: size, pitch (DDSD_PITCH), pixel format, caps, colour key.
    const DDSURFACEDESC2& Desc() const { return m_desc; }
    // Fills `out` (dwSize must be sizeof(DDSURFACEDESC2)) with the description and, when
    // locking, the memory. returns: DD_OK, DDERR_INVALIDPARAMS, DDERR_SURFACEBUSY.
    HRESULT GetDesc(LPDDSURFACEDESC2 out) const;
    HRESULT Lock(LPDDSURFACEDESC2 out);
    // returns: DD_OK or DDERR_NOTLOCKED.
    HRESULT Unlock();
    bool Locked() const { return m_bLocked; }

    // A cairo_t* over a 32-bit RGB surface. returns: DD_OK, DDERR_CANTCREATEDC (other formats),
    // DDERR_DCALREADYCREATED is folded into DDERR_CANTCREATEDC.
    HRESULT GetDC(HDC* hdc);
    // Flushes the drawing into the memory and frees the context. returns: DD_OK or DDERR_NODC.
    HRESULT ReleaseDC(HDC hdc);

    std::span<uint8_t> Bytes() { return {m_memory.data(), m_nBytes}; }
    std::span<const uint8_t> Bytes() const { return {m_memory.data(), m_nBytes}; }
    bool GuardIntact() const;

  private:
    DDSURFACEDESC2 m_desc{};
    std::vector<uint8_t> m_memory;  // m_nBytes of surface, then the guard
    size_t m_nBytes = 0;
    bool m_bLocked = false;
    HDC m_hDC = nullptr;
};

}  // namespace orvenna::platform
