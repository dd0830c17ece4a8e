// Setting up and tearing down the display devices.
#include "device_table.h"

#include <cstring>
#include <new>

#include "orvenna.h"

namespace orvenna {

DWORD CapabilityMask(const DDCAPS& caps) {
    DWORD mask = kCapObjects;
    if ((caps.dwCaps & DDCAPS_BLT) != 0) mask |= kCapBlt;
    if ((caps.dwCaps & DDCAPS_BLTFOURCC) != 0) mask |= kCapBltFourCC;
    if ((caps.dwFXCaps & DDFXCAPS_BLTSHRINKX) != 0) mask |= kCapShrinkX;
    if ((caps.dwFXCaps & DDFXCAPS_BLTSHRINKY) != 0) mask |= kCapShrinkY;
    if ((caps.dwFXCaps & DDFXCAPS_BLTSTRETCHX) != 0) mask |= kCapStretchX;
    if ((caps.dwFXCaps & DDFXCAPS_BLTSTRETCHY) != 0) mask |= kCapStretchY;
    if ((caps.dwCaps & DDCAPS_BLTCOLORFILL) != 0) mask |= kCapColorFill;
    if ((caps.dwCaps & DDCAPS_BLTSTRETCH) != 0) mask |= kCapBltStretch;
    return mask;
}

BOOL CALLBACK EnumDeviceCallback(GUID* guid, LPSTR /*description*/, LPSTR /*driver_name*/,
                                 LPVOID /*context*/, HMONITOR monitor) {
    DisplayDeviceTable& table = DeviceTable();
    if (table.dwCount >= kMaxDisplayDevices) return FALSE;

    std::unique_ptr<DisplayDevice> entry(new (std::nothrow) DisplayDevice);
    if (!entry) {
        TearDownDevices();
        return FALSE;
    }
    if (guid != nullptr) entry->guid = *guid;
    entry->hMonitor = monitor;
    if (monitor != nullptr) {
        entry->pMonitorInfo = std::unique_ptr<MONITORINFOEXA>(new (std::nothrow) MONITORINFOEXA{});
        if (!entry->pMonitorInfo) {
            TearDownDevices();
            return FALSE;
        }
        entry->pMonitorInfo->cbSize = sizeof(MONITORINFOEXA);
        GetMonitorInfoA(monitor, entry->pMonitorInfo.get());
        ++table.wMonitorCount;
    }
    table.entries[table.dwCount] = std::move(entry);
    ++table.dwCount;
    return TRUE;
}

namespace {

// Creates the DirectDraw object, primary surface and clipper of one entry. returns: false when
// a DirectDraw call fails (what was made stays in the entry for TearDownDevices to release).
bool CreateDeviceObjects(DisplayDevice& device) {
    IDirectDraw7* direct_draw = nullptr;
    if (FAILED(DirectDrawCreateEx(&device.guid, reinterpret_cast<LPVOID*>(&direct_draw),
                                  IID_IDirectDraw7, nullptr)) ||
        direct_draw == nullptr) {
        return false;
    }
    device.pDirectDraw.Reset(direct_draw);

    if (FAILED(device.pDirectDraw->SetCooperativeLevel(0, DDSCL_NORMAL))) return false;

    DDSURFACEDESC2 desc;
    std::memset(&desc, 0, sizeof(desc));
    desc.dwSize = sizeof(desc);
    desc.dwFlags = DDSD_CAPS;
    desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
    if (FAILED(device.pDirectDraw->CreateSurface(&desc, device.pPrimary.ReleaseAndGetAddressOf(),
                                                 nullptr)) ||
        !device.pPrimary) {
        return false;
    }

    DDCAPS caps;
    std::memset(&caps, 0, sizeof(caps));
    caps.dwSize = sizeof(caps);
    if (FAILED(device.pDirectDraw->GetCaps(&caps, nullptr))) return false;

    if (FAILED(device.pDirectDraw->CreateClipper(0, device.pClipper.ReleaseAndGetAddressOf(),
                                                 nullptr)) ||
        !device.pClipper) {
        return false;
    }
    if (FAILED(device.pPrimary->SetClipper(device.pClipper.Get()))) return false;

    device.dwCapabilities = CapabilityMask(caps);
    return true;
}

}  // namespace

LONG SetUpDevices() {
    DisplayDeviceTable& table = DeviceTable();
    if (table.bSetUp) return 0;
    // Entries left from an interrupted set-up would be counted twice by a new enumeration.
    if (table.dwCount != 0) TearDownDevices();

    HMODULE ddraw = GetModuleHandleA("ddraw.dll");
    if (ddraw == nullptr) return ORVD_E_NOT_READY;
    // Through void (*)(): the one function-pointer type that converts to any other quietly.
    auto enumerate = reinterpret_cast<LPDIRECTDRAWENUMERATEEXA>(
        reinterpret_cast<void (*)()>(GetProcAddress(ddraw, "DirectDrawEnumerateExA")));
    if (enumerate == nullptr) return ORVD_E_UNSUPPORTED;

    enumerate(&EnumDeviceCallback, nullptr, DDENUM_ATTACHEDSECONDARYDEVICES);
    if (table.dwCount == 0) return ORVD_E_NOT_READY;

    for (DWORD i = 0; i < table.dwCount; ++i) {
        if (!table.entries[i] || !CreateDeviceObjects(*table.entries[i])) {
            TearDownDevices();
            return -1;
        }
    }
    table.bSetUp = true;
    ++table.dwGeneration;
    return 0;
}

void TearDownDevices() {
    DisplayDeviceTable& table = DeviceTable();
    for (auto& entry : table.entries) {
        if (!entry) continue;
        entry->pMonitorInfo.reset();
        entry->pPrimary.Reset();
        entry->pClipper.Reset();
        entry->pDirectDraw.Reset();
        entry.reset();
    }
    table.dwCount = 0;
    table.wMonitorCount = 0;
    table.bSetUp = false;
}

}  // namespace orvenna
