// The process-wide table of display devices: one DirectDraw object, primary surface and clipper
// per enumerated device, shared by every engine and only touched under the library lock.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "com_ptr.h"
#include "platform/ddraw_layer.h"

namespace orvenna {

inline constexpr DWORD kMaxDisplayDevices = 4;

// Capability mask bits, from the device's DDCAPS.
inline constexpr DWORD kCapObjects = 0x001;     // the device's objects exist
inline constexpr DWORD kCapBlt = 0x002;         // DDCAPS_BLT
inline constexpr DWORD kCapBltFourCC = 0x004;   // DDCAPS_BLTFOURCC
inline constexpr DWORD kCapShrinkX = 0x008;     // DDFXCAPS_BLTSHRINKX
inline constexpr DWORD kCapShrinkY = 0x010;     // DDFXCAPS_BLTSHRINKY
inline constexpr DWORD kCapStretchX = 0x020;    // DDFXCAPS_BLTSTRETCHX
inline constexpr DWORD kCapStretchY = 0x040;    // DDFXCAPS_BLTSTRETCHY
inline constexpr DWORD kCapColorFill = 0x080;   // DDCAPS_BLTCOLORFILL
inline constexpr DWORD kCapBltStretch = 0x100;  // DDCAPS_BLTSTRETCH
inline constexpr DWORD kFullyCapable = 0x1FF;   // all nine: DC surfaces go to video memory

struct DisplayDevice {
    GUID guid{};                                   // all zero for the primary display driver
    DWORD dwCapabilities = 0;                      // the mask above
    HMONITOR hMonitor = nullptr;                   // null for the primary display driver
    std::unique_ptr<MONITORINFOEXA> pMonitorInfo;  // present when hMonitor is not null
    ComPtr<IDirectDraw7> pDirectDraw;
    ComPtr<IDirectDrawSurface7> pPrimary;
    ComPtr<IDirectDrawClipper> pClipper;
    bool bGaveUp = false;  // a recovery waited for it in vain: later ones do not wait again
};

struct DisplayDeviceTable {
    std::array<std::unique_ptr<DisplayDevice>, kMaxDisplayDevices> entries;  // enumeration order
    DWORD dwCount = 0;                                                       // entries in use
    uint16_t wMonitorCount = 0;  // entries that carry a monitor
    bool bSetUp = false;         // SetUpDevices has completed
    // Grows with every completed set-up: an engine whose surface sets were made for another
    // generation makes them again before it draws.
    uint32_t dwGeneration = 0;
};

// The process's table (owned by the library object, library.cpp).
DisplayDeviceTable& DeviceTable();

// Fills the table once per process. returns: 0; ORVD_E_NOT_READY when DirectDraw is not loaded
// or enumerates no device; ORVD_E_UNSUPPORTED when its enumeration entry point is missing; -1
// when a DirectDraw call of the set-up fails (the table is emptied then).
LONG SetUpDevices();
// Releases every device (primary surface, clipper, DirectDraw object) and empties the table.
void TearDownDevices();
// The DirectDrawEnumerateExA callback: appends one entry; FALSE once the table is full.
BOOL CALLBACK EnumDeviceCallback(GUID* guid, LPSTR description, LPSTR driver_name, LPVOID context,
                                 HMONITOR monitor);
// The capability mask of a device from its driver capabilities.
DWORD CapabilityMask(const DDCAPS& caps);

}  // namespace orvenna
