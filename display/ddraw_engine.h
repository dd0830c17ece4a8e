// DDrawDisplayEngine: the display engine over DirectDraw. One per live handle; it follows its
// window across the devices of the shared device table and keeps one surface set per device.
// Every member is touched only under the library lock.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "com_ptr.h"
#include "device_table.h"
#include "display_engine.h"

namespace orvenna {

// A frame shape: width, height and format code.
struct SurfaceGeometry {
    DWORD dwWidth = 0;
    DWORD dwHeight = 0;
    DWORD dwFormat = 0;
};

// The engine's surfaces and placement on one device.
struct DeviceSurfaceSet {
    ComPtr<IDirectDrawSurface7> pFrameSurface;  // the frame in its pixel format
    ComPtr<IDirectDrawSurface7> pDCSurface;     // RGB32 copy for the DC callback
    ComPtr<IDirectDrawClipper> pDCClipper;      // limits its fill to the device's part
    bool bVisible = false;        // the window's client area overlaps this device's monitor
    bool bPrepared = false;       // the frame surface was made for the current geometry
    bool bVideoMemory = false;    // the device is fully capable
    RECT rcDest{};                // the client area in this monitor's coordinates
    RECT rcDCSurface{};           // the destination the DC surface was made for
    LONG lPitch = 0;              // the frame surface's pitch, read when it was made
    int32_t nSurfaceFormat = -1;  // format code the frame surface was really made in (-1: none)
};

class DDrawDisplayEngine final : public DisplayEngine {
  public:
    // How long RecoverLostSurface waits for a device that cannot be drawn to (milliseconds).
    static constexpr DWORD kRecoverWaitMs = 3000;

    DDrawDisplayEngine() = default;
    ~DDrawDisplayEngine() override;
    DDrawDisplayEngine(const DDrawDisplayEngine&) = delete;
    DDrawDisplayEngine& operator=(const DDrawDisplayEngine&) = delete;

    int32_t Init() override;
    int32_t SetDisplayWindow(HWND hwnd) override;
    int32_t DisplayFrame(tagORVD_FRAME* frame) override;
    int32_t RefreshDisplay() override;
    int32_t SetDisplayRect(RECT* rect) override;
    void ReleaseSurfaces() override;
    int32_t SetRotationAngle(uint32_t angle) override;
    int32_t RegisterDCCallback(ORVD_DCCALLBACK callback, intptr_t user, int32_t handle) override;
    int32_t SetDisplayMode(uint32_t mode) override;
    void MarkReleased() override;
    bool Released() const override { return m_bReleased; }

    // Makes the surface sets again when the device table has been rebuilt since they were made
    // (by this engine's recovery or another's). returns: 0 or ORVD_E_NOT_READY.
    int32_t FollowDeviceTable();
    // Follows the window: checks it, reads its client area and places it on the devices.
    // returns: 0, ORVD_E_PARAM or ORVD_E_NOT_READY (no window, hidden, under 10 × 10, off the
    // desktop).
    int32_t TrackWindow();
    // Marks the devices whose monitor the screen rectangle overlaps visible, with the rectangle
    // in that monitor's coordinates. returns: 0, ORVD_E_PARAM (null) or ORVD_E_NOT_READY.
    int32_t PlaceOnDevices(const RECT* screen_rect);
    // After DDERR_SURFACELOST on device i: restores the primary surface (rebuilding the device
    // table when it cannot be restored) and the engine's surfaces. returns: 0 or ORVD_E_DDRAW.
    int32_t RecoverLostSurface(DWORD device);

    // Frame surfaces (frame_surface.cpp) and presentation (ddraw_presentation.cpp).
    // Creates device i's frame surface for `geometry`, in a substitute format when the device
    // refuses the frame's own. returns: 0, ORVD_E_PARAM or ORVD_E_UNSUPPORTED.
    int32_t CreateFrameSurface(DWORD device, const SurfaceGeometry* geometry);
    // Releases, creates and reads the pitch of device i's frame surface. returns: 0 or a code.
    int32_t PrepareFrameSurface(DWORD device, const SurfaceGeometry* geometry);
    // Copies the current frame into device i's locked frame surface. returns: 0 or a code.
    int32_t CopyFrame(DWORD device);
    // Blits device i's frame (through the DC pass when a callback is set) to the screen.
    int32_t Present(DWORD device);
    // Makes device i's RGB32 surface for the DC callback. returns: 0 or ORVD_E_DDRAW.
    int32_t CreateDCSurface(DWORD device);
    // The destination for a picture of aspect aw:ah in the window, with the bars filled black.
    void FitAspect(DWORD device, int aspect_w, int aspect_h, RECT* out);
    // Where the display mode puts the picture on the screen (no bars drawn).
    RECT PictureRect() const;
    // Limits the next fill of device i's DC surface to the part of it that the device shows, when
    // the picture reaches beyond the device's monitor: each device converts only its own part.
    void ClipDCSurface(DWORD device);

    // Read access, for the frame-surface code and for tests.
    HWND Window() const { return m_hWnd; }
    const DeviceSurfaceSet* DeviceSet(DWORD device) const {
        return device < kMaxDisplayDevices ? m_pDeviceSets[device].get() : nullptr;
    }
    DeviceSurfaceSet* DeviceSet(DWORD device) {
        return device < kMaxDisplayDevices ? m_pDeviceSets[device].get() : nullptr;
    }
    RECT DesktopBounds() const { return m_rcDesktop; }
    RECT ScreenRect() const { return m_rcScreen; }
    RECT DisplayRect() const { return m_rcDisplay; }
    bool IsInitialised() const { return m_bInitialised; }
    SurfaceGeometry Geometry() const { return m_geometry; }
    SurfaceGeometry CurrentFrame() const { return m_frame; }
    int32_t SubstituteFormat() const { return m_nSubstituteFormat; }

  private:
    ORVD_DCCALLBACK m_pDCCallback = nullptr;   // null: no DC pass
    HWND m_hWnd = 0;                           // the display window
    SurfaceGeometry m_geometry;                // the shape the frame surfaces were made for
    SurfaceGeometry m_frame;                   // the frame being shown
    RECT m_rcClient{};                         // client area, client coordinates
    RECT m_rcScreen{};                         // client area, screen coordinates
    const unsigned char* m_pSource = nullptr;  // the current frame's bytes
    uint32_t m_dwDisplayMode = 0;              // 0 fill, 1 4:3, 2 16:9, other: nothing
    int32_t m_nSubstituteFormat = -1;          // the substitute once chosen, else -1
    LONG m_nDestPitch = 0;                     // working values of the frame copy
    unsigned char* m_pDest = nullptr;
    RECT m_rcDesktop{};    // least left/top, greatest right/bottom of monitors
    uint32_t m_dwDeviceGeneration = 0;  // the device table's generation the sets were made for
    // Counts the engine's presentations and its release: a DC callback that re-enters the
    // library changes it, and the outer presentation then leaves the engine as the inner left it.
    uint32_t m_nPassSerial = 0;
    bool m_bReleased = false;  // the handle was released while a call on it was running
    std::array<std::unique_ptr<DeviceSurfaceSet>, kMaxDisplayDevices> m_pDeviceSets;
    bool m_bInitialised = false;
    intptr_t m_nCallbackUser = 0;   // handed back to the DC callback
    int32_t m_nCallbackHandle = 0;  // the handle the callback was registered on
    RECT m_rcDisplay{};             // stored by SetDisplayRect, not read elsewhere
};

}  // namespace orvenna
