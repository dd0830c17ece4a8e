// The fake backend, for tests: scriptable devices (monitors, capabilities, refused formats,
// pitch padding), windows, failures and lost surfaces; it logs every DirectDraw call with its
// arguments and keeps each offscreen surface's memory, so tests check flags, sizes and copied
// bytes exactly. Sleep advances a fake clock at once.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/backend.h"
#include "platform/surface_memory.h"

namespace orvenna::platform {

// One device as DirectDrawEnumerateExA reports it.
struct FakeDevice {
    bool bHasGuid = false;     // the primary display driver has none
    bool bHasMonitor = false;  // the primary display driver has none
    RECT rcMonitor{};          // virtual-desktop coordinates
    DWORD dwCaps = DDCAPS_BLT | DDCAPS_BLTFOURCC | DDCAPS_BLTSTRETCH | DDCAPS_BLTCOLORFILL;
    DWORD dwFXCaps =
        DDFXCAPS_BLTSHRINKX | DDFXCAPS_BLTSHRINKY | DDFXCAPS_BLTSTRETCHX | DDFXCAPS_BLTSTRETCHY;
    std::set<DWORD> refusedFormats;  // FourCC codes, or RGB bit counts, that CreateSurface refuses
    DWORD dwPitchPadding = 0;        // bytes added to every offscreen surface's pitch
    bool bGone = false;              // RestoreDisplayMode and TestCooperativeLevel fail for ever
    bool bRestoreFails = false;      // Restore of its lost surfaces fails
    int nCoopFailures = 0;           // TestCooperativeLevel fails this many more times
};

// One logged call.
struct FakeCall {
    std::string method;  // "DirectDrawCreateEx", "IDirectDraw7::CreateSurface", ...
    int device = -1;     // device index of the object called (-1: none)
    int object = 0;      // id of the object called (0: a free function)
    HRESULT result = DD_OK;
    std::string args;       // the arguments as text
    DWORD flags = 0;        // the flags argument, where there is one
    bool bHasDesc = false;  // desc: the description passed, as it was after the call
    DDSURFACEDESC2 desc{};
    bool bHasDest = false;  // Blt: destination rectangle
    RECT rcDest{};
    bool bHasSrc = false;  // Blt: source rectangle
    RECT rcSrc{};
    bool bHasFx = false;  // Blt: effects record
    DDBLTFX fx{};
    int srcObject = 0;  // Blt: id of the source surface (0: none)
    HWND hwnd = 0;      // SetHWnd, SetCooperativeLevel
};

// What a test can see of a surface.
struct FakeSurfaceState {
    int id = 0;
    int device = -1;
    bool bPrimary = false;
    bool bLost = false;
    bool bOrphaned = false;  // its DirectDraw object is gone: lost for good
    int clipper = 0;         // id of the attached clipper (0: none)
    DDCOLORKEY srcColorKey{};
    SurfaceMemory memory;  // offscreen surfaces only
};

class FakeBackend : public Backend {
  public:
    FakeBackend();
    ~FakeBackend() override;

    // ---- scripting ----
    // Monitors as Windows reports them: none or one gives the primary display driver alone;
    // more give the driver entry and one entry per monitor. The screen is the first monitor.
    void SetMonitors(const std::vector<RECT>& monitors);
    // Direct access to the device list (before the library sets its devices up).
    std::vector<FakeDevice>& Devices();
    void SetScreenSize(int width, int height);
    void SetDirectDrawLoaded(bool loaded);
    void SetHasEnumerateEx(bool present);
    // The next calls of `method` on `device` (-1: any) fail with `result`: after `skip` calls
    // that succeed, `times` calls fail (-1: for ever).
    void FailCall(std::string_view method, HRESULT result, int skip = 0, int times = 1,
                  int device = -1);
    void ClearFailures();
    // Every live surface of the device (primary included) reports DDERR_SURFACELOST until
    // Restore succeeds.
    void LoseSurfaces(int device);
    void SetRestoreFails(int device, bool fails);
    // RestoreDisplayMode and TestCooperativeLevel fail for ever (or again succeed).
    void SetDeviceGone(int device, bool gone);
    void SetCoopFailures(int device, int failures);

    // ---- windows ----
    HWND AddWindow(RECT client_in_screen, bool visible = true);
    void MoveWindow(HWND hwnd, RECT client_in_screen);
    void SetWindowVisible(HWND hwnd, bool visible);
    void DestroyWindow(HWND hwnd);
    // IsWindow throws std::runtime_error, as a fault inside an engine operation would.
    void SetWindowCallsThrow(bool throws);

    // ---- inspection ----
    std::vector<FakeCall> Calls() const;
    std::vector<FakeCall> CallsNamed(std::string_view method) const;
    size_t CountCalls(std::string_view method) const;
    void ClearCalls();
    // The state of a surface made by this backend (null for anything else).
    FakeSurfaceState* Surface(IDirectDrawSurface7* surface);
    // Live COM objects made by this backend (DirectDraw objects, surfaces, clippers).
    int LiveObjects() const;
    // How often the enumeration called its callback, and whether the callback stopped it.
    int EnumeratedCallbacks() const;
    bool EnumerationStopped() const;
    DWORD Now() const;
    size_t SleepCalls() const;

    // ---- Backend ----
    bool IsDirectDrawLoaded() override;
    bool HasEnumerateEx() override;
    HRESULT EnumerateDevices(LPDDENUMCALLBACKEXA callback, LPVOID context, DWORD flags) override;
    HRESULT CreateDirectDraw(GUID* guid, IDirectDraw7** out) override;
    BOOL GetMonitorInfo(HMONITOR monitor, MONITORINFO* info) override;
    int GetSystemMetrics(int index) override;
    BOOL IsWindow(HWND hwnd) override;
    BOOL IsWindowVisible(HWND hwnd) override;
    BOOL GetClientRect(HWND hwnd, LPRECT rect) override;
    BOOL GetWindowRect(HWND hwnd, LPRECT rect) override;
    BOOL ClientToScreen(HWND hwnd, LPPOINT point) override;
    void Sleep(DWORD milliseconds) override;
    DWORD GetTickCount() override;

    struct State;  // shared with the objects the backend makes

  private:
    std::shared_ptr<State> m_pState;
};

// The GUID that the fake gives device `index` (when it has one).
GUID FakeDeviceGuid(int index);

}  // namespace orvenna::platform
