// The fake backend's devices, objects and windows.
#include "platform/fake_backend.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "platform/com_object.h"

namespace orvenna::platform {

namespace {

std::string Hex(DWORD value) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%X", value);
    return text;
}

std::string RectText(const RECT* rect) {
    if (rect == nullptr) return "null";
    char text[64];
    std::snprintf(text, sizeof(text), "(%d,%d,%d,%d)", rect->left, rect->top, rect->right,
                  rect->bottom);
    return text;
}

std::string FormatText(const DDPIXELFORMAT& format) {
    if ((format.dwFlags & DDPF_FOURCC) != 0) {
        char text[8] = {static_cast<char>(format.dwFourCC & 0xFF),
                        static_cast<char>((format.dwFourCC >> 8) & 0xFF),
                        static_cast<char>((format.dwFourCC >> 16) & 0xFF),
                        static_cast<char>((format.dwFourCC >> 24) & 0xFF), 0};
        return text;
    }
    if ((format.dwFlags & DDPF_RGB) != 0) return "RGB" + std::to_string(format.dwRGBBitCount);
    return "none";
}

struct FailRule {
    std::string method;
    HRESULT result;
    int skip;
    int times;  // -1: for ever
    int device;
};

struct FakeWindow {
    RECT rcClient{};  // client area in screen coordinates
    bool bVisible = true;
    bool bExists = true;
};

}  // namespace

struct FakeBackend::State {
    mutable std::recursive_mutex lock;  // any thread; the library lock serialises callers anyway
    std::vector<FakeDevice> devices;
    int screenWidth = 1920;
    int screenHeight = 1080;
    bool bLoaded = true;
    bool bHasEnumerateEx = true;
    std::vector<FailRule> rules;
    std::vector<FakeCall> calls;
    std::map<int, FakeSurfaceState*> surfaces;  // live surfaces by id
    std::map<HWND, FakeWindow> windows;
    HWND nextWindow = 0x1000;
    int nextObject = 1;
    int liveObjects = 0;
    int enumeratedCallbacks = 0;
    bool bEnumerationStopped = false;
    DWORD ticks = 100000;
    bool bWindowCallsThrow = false;
    size_t sleepCalls = 0;

    // The scripted result for this call of `method` on `device`, DD_OK when none applies.
    HRESULT Scripted(std::string_view method, int device) {
        for (auto it = rules.begin(); it != rules.end(); ++it) {
            if (it->method != method || (it->device >= 0 && it->device != device)) continue;
            if (it->skip > 0) {
                --it->skip;
                return DD_OK;
            }
            const HRESULT result = it->result;
            if (it->times > 0 && --it->times == 0) rules.erase(it);
            return result;
        }
        return DD_OK;
    }

    FakeCall& Log(std::string method, int device, int object) {
        FakeCall call;
        call.method = std::move(method);
        call.device = device;
        call.object = object;
        calls.push_back(std::move(call));
        return calls.back();
    }

    const FakeDevice* Device(int index) const {
        return index >= 0 && static_cast<size_t>(index) < devices.size() ? &devices[index]
                                                                         : nullptr;
    }
};

GUID FakeDeviceGuid(int index) {
    GUID guid{};
    guid.Data1 = 0x0FA4E000u + static_cast<uint32_t>(index);
    guid.Data2 = 0x4F52;
    guid.Data3 = 0x564E;
    return guid;
}

namespace {

using State = FakeBackend::State;

class FakeClipper final : public ComObject<IDirectDrawClipper> {
  public:
    FakeClipper(std::shared_ptr<State> state, int device)
        : m_pState(std::move(state)), m_nDevice(device) {
        std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
        m_nId = m_pState->nextObject++;
        ++m_pState->liveObjects;
    }
    ~FakeClipper() override {
        std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
        --m_pState->liveObjects;
    }
    int Id() const { return m_nId; }

    HRESULT STDMETHODCALLTYPE GetHWnd(HWND* hwnd) override {
        if (hwnd == nullptr) return DDERR_INVALIDPARAMS;
        *hwnd = m_hWnd;
        return DD_OK;
    }
    HRESULT STDMETHODCALLTYPE SetHWnd(DWORD flags, HWND hwnd) override {
        std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
        FakeCall& call = m_pState->Log("IDirectDrawClipper::SetHWnd", m_nDevice, m_nId);
        call.flags = flags;
        call.hwnd = hwnd;
        call.args = "flags=" + Hex(flags) + " hwnd=" + Hex(static_cast<DWORD>(hwnd));
        call.result = m_pState->Scripted(call.method, m_nDevice);
        if (SUCCEEDED(call.result)) m_hWnd = hwnd;
        return call.result;
    }
    HRESULT STDMETHODCALLTYPE SetClipList(LPRGNDATA clip_list, DWORD flags) override {
        std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
        FakeCall& call = m_pState->Log("IDirectDrawClipper::SetClipList", m_nDevice, m_nId);
        call.flags = flags;
        if (clip_list != nullptr) {
            call.bHasDest = true;
            call.rcDest = clip_list->rdh.rcBound;
        }
        call.args = "bound=" + RectText(clip_list != nullptr ? &clip_list->rdh.rcBound : nullptr);
        call.result = m_pState->Scripted(call.method, m_nDevice);
        return call.result;
    }

  private:
    std::shared_ptr<State> m_pState;
    int m_nDevice;
    int m_nId = 0;
    HWND m_hWnd = 0;
};

class FakeSurface final : public ComObject<IDirectDrawSurface7> {
  public:
    FakeSurface(std::shared_ptr<State> state, int device, bool primary,
                std::shared_ptr<bool> owner_alive)
        : m_pState(std::move(state)), m_pOwnerAlive(std::move(owner_alive)) {
        std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
        m_state.id = m_pState->nextObject++;
        m_state.device = device;
        m_state.bPrimary = primary;
        m_pState->surfaces[m_state.id] = &m_state;
        ++m_pState->liveObjects;
    }
    ~FakeSurface() override {
        std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
        if (m_pClipper != nullptr) m_pClipper->Release();
        m_pState->surfaces.erase(m_state.id);
        --m_pState->liveObjects;
    }
    FakeSurfaceState& StateOf() { return m_state; }

    HRESULT STDMETHODCALLTYPE Blt(LPRECT dest_rect, IDirectDrawSurface7* src, LPRECT src_rect,
                                  DWORD flags, LPDDBLTFX fx) override {
        std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
        FakeCall& call = Log("IDirectDrawSurface7::Blt");
        call.flags = flags;
        if (dest_rect != nullptr) {
            call.bHasDest = true;
            call.rcDest = *dest_rect;
        }
        if (src_rect != nullptr) {
            call.bHasSrc = true;
            call.rcSrc = *src_rect;
        }
        if (fx != nullptr) {
            call.bHasFx = true;
            call.fx = *fx;
        }
        auto* source = dynamic_cast<FakeSurface*>(src);
        call.srcObject = source != nullptr ? source->m_state.id : 0;
        call.args = "dst=" + RectText(dest_rect) + " src=" + std::to_string(call.srcObject) +
                    " srcrect=" + RectText(src_rect) + " flags=" + Hex(flags) +
                    (fx != nullptr ? " fill=" + Hex(fx->dwFillColor) : "");
        call.result = m_pState->Scripted(call.method, m_state.device);
        if (FAILED(call.result)) return call.result;
        if (IsLostNow() || (source != nullptr && source->IsLostNow())) {
            return call.result = DDERR_SURFACELOST;
        }
        if (src != nullptr && source == nullptr) return call.result = DDERR_INVALIDPARAMS;
        if ((flags & DDBLT_COLORFILL) != 0 && fx == nullptr) {
            return call.result = DDERR_INVALIDPARAMS;
        }
        if (source != nullptr && dest_rect == nullptr && src_rect == nullptr) {
            CopyWhole(*source);
        }
        return call.result;
    }
    HRESULT STDMETHODCALLTYPE GetDC(HDC* hdc) override {
        std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
        FakeCall& call = Log("IDirectDrawSurface7::GetDC");
        call.result = m_pState->Scripted(call.method, m_state.device);
        if (hdc != nullptr) *hdc = nullptr;
        if (FAILED(call.result)) return call.result;
        if (IsLostNow()) return call.result = DDERR_SURFACELOST;
        if (m_state.bPrimary) return call.result = DDERR_CANTCREATEDC;
        return call.result = m_state.memory.GetDC(hdc);
    }
    HRESULT STDMETHODCALLTYPE GetPixelFormat(LPDDPIXELFORMAT format) override {
        std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
        if (format == nullptr) return DDERR_INVALIDPARAMS;
        *format = m_state.memory.Desc().ddpfPixelFormat;
        return DD_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSurfaceDesc(LPDDSURFACEDESC2 desc) override {
        std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
        FakeCall& call = Log("IDirectDrawSurface7::GetSurfaceDesc");
        call.result = m_pState->Scripted(call.method, m_state.device);
        if (FAILED(call.result)) return call.result;
        if (m_state.bPrimary) {
            if (desc == nullptr || desc->dwSize != sizeof(DDSURFACEDESC2)) {
                return call.result = DDERR_INVALIDPARAMS;
            }
            std::memset(desc, 0, sizeof(*desc));
            desc->dwSize = sizeof(*desc);
            desc->dwFlags = DDSD_CAPS;
            desc->ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
            return call.result;
        }
        call.result = m_state.memory.GetDesc(desc);
        if (SUCCEEDED(call.result)) {
            call.bHasDesc = true;
            call.desc = *desc;
        }
        return call.result;
    }
    HRESULT STDMETHODCALLTYPE IsLost() override {
        std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
        return IsLostNow() ? DDERR_SURFACELOST : DD_OK;
    }
    HRESULT STDMETHODCALLTYPE Lock(LPRECT rect, LPDDSURFACEDESC2 desc, DWORD flags,
                                   HANDLE /*event*/) override {
        std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
        FakeCall& call = Log("IDirectDrawSurface7::Lock");
        call.flags = flags;
        if (rect != nullptr) {
            call.bHasDest = true;
            call.rcDest = *rect;
        }
        call.args = "rect=" + RectText(rect) + " flags=" + Hex(flags);
        call.result = m_pState->Scripted(call.method, m_state.device);
        if (FAILED(call.result)) return call.result;
        if (IsLostNow()) return call.result = DDERR_SURFACELOST;
        if (m_state.bPrimary) return call.result = DDERR_UNSUPPORTED;
        if (rect != nullptr) return call.result = DDERR_INVALIDRECT;  // whole surfaces only
        call.result = m_state.memory.Lock(desc);
        if (SUCCEEDED(call.result)) {
            call.bHasDesc = true;
            call.desc = *desc;
        }
        return call.result;
    }
    HRESULT STDMETHODCALLTYPE ReleaseDC(HDC hdc) override {
        std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
        FakeCall& call = Log("IDirectDrawSurface7::ReleaseDC");
        return call.result = m_state.memory.ReleaseDC(hdc);
    }
    HRESULT STDMETHODCALLTYPE Restore() override {
        std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
        FakeCall& call = Log("IDirectDrawSurface7::Restore");
        call.result = m_pState->Scripted(call.method, m_state.device);
        if (FAILED(call.result)) return call.result;
        if (!*m_pOwnerAlive) m_state.bOrphaned = true;
        if (m_state.bOrphaned) return call.result = DDERR_WRONGMODE;
        if (m_state.bLost) {
            const FakeDevice* device = m_pState->Device(m_state.device);
            // A device that is no longer there (unplugged) cannot restore its surfaces.
            if (device == nullptr || device->bRestoreFails || device->bGone) {
                return call.result = DDERR_WRONGMODE;
            }
            m_state.bLost = false;
        }
        return call.result;
    }
    HRESULT STDMETHODCALLTYPE SetClipper(LPDIRECTDRAWCLIPPER clipper) override {
        std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
        FakeCall& call = Log("IDirectDrawSurface7::SetClipper");
        auto* fake = dynamic_cast<FakeClipper*>(clipper);
        call.args = "clipper=" + std::to_string(fake != nullptr ? fake->Id() : 0);
        call.result = m_pState->Scripted(call.method, m_state.device);
        if (FAILED(call.result)) return call.result;
        if (clipper != nullptr) clipper->AddRef();
        if (m_pClipper != nullptr) m_pClipper->Release();
        m_pClipper = clipper;
        m_state.clipper = fake != nullptr ? fake->Id() : 0;
        return call.result;
    }
    HRESULT STDMETHODCALLTYPE SetColorKey(DWORD flags, LPDDCOLORKEY key) override {
        std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
        FakeCall& call = Log("IDirectDrawSurface7::SetColorKey");
        call.flags = flags;
        call.result = m_pState->Scripted(call.method, m_state.device);
        if (FAILED(call.result)) return call.result;
        if (key == nullptr || (flags & DDCKEY_SRCBLT) == 0)
            return call.result = DDERR_INVALIDPARAMS;
        m_state.srcColorKey = *key;
        return call.result;
    }
    HRESULT STDMETHODCALLTYPE Unlock(LPRECT /*rect*/) override {
        std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
        FakeCall& call = Log("IDirectDrawSurface7::Unlock");
        return call.result = m_state.memory.Unlock();
    }

    // Allocates an offscreen surface. returns: DD_OK or why the device cannot hold it.
    HRESULT Allocate(const DDSURFACEDESC2& desc, DWORD pitch_padding) {
        const HRESULT hr = m_state.memory.Allocate(desc, pitch_padding, 4);
        if (SUCCEEDED(hr) && (desc.dwFlags & DDSD_CKSRCBLT) != 0) {
            m_state.srcColorKey = desc.ddckCKSrcBlt;
        }
        return hr;
    }

  private:
    FakeCall& Log(const char* method) { return m_pState->Log(method, m_state.device, m_state.id); }

    bool IsLostNow() {
        if (!*m_pOwnerAlive) m_state.bOrphaned = true;
        return m_state.bLost || m_state.bOrphaned;
    }

    // A whole-onto-whole blit between surfaces of one format and size copies the bytes; other
    // blits are only logged (the fake does not convert or scale).
    void CopyWhole(FakeSurface& source) {
        const DDSURFACEDESC2& from = source.m_state.memory.Desc();
        const DDSURFACEDESC2& to = m_state.memory.Desc();
        if (source.m_state.bPrimary || m_state.bPrimary || from.dwWidth != to.dwWidth ||
            from.dwHeight != to.dwHeight || from.lPitch != to.lPitch ||
            std::memcmp(&from.ddpfPixelFormat, &to.ddpfPixelFormat, sizeof(DDPIXELFORMAT)) != 0) {
            return;
        }
        auto src = source.m_state.memory.Bytes();
        auto dst = m_state.memory.Bytes();
        std::memcpy(dst.data(), src.data(), std::min(src.size(), dst.size()));
    }

    std::shared_ptr<State> m_pState;
    std::shared_ptr<bool> m_pOwnerAlive;  // false once the DirectDraw object that made it is gone
    FakeSurfaceState m_state;
    IDirectDrawClipper* m_pClipper = nullptr;  // one reference, while attached
};

class FakeDirectDraw final : public ComObject<IDirectDraw7> {
  public:
    FakeDirectDraw(std::shared_ptr<State> state, int device)
        : m_pState(std::move(state)), m_nDevice(device), m_pAlive(std::make_shared<bool>(true)) {
        std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
        m_nId = m_pState->nextObject++;
        ++m_pState->liveObjects;
    }
    ~FakeDirectDraw() override {
        std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
        *m_pAlive = false;
        --m_pState->liveObjects;
    }

    HRESULT STDMETHODCALLTYPE CreateClipper(DWORD flags, LPDIRECTDRAWCLIPPER* clipper,
                                            IUnknown* outer) override {
        std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
        FakeCall& call = m_pState->Log("IDirectDraw7::CreateClipper", m_nDevice, m_nId);
        call.flags = flags;
        call.args = "flags=" + Hex(flags);
        if (clipper != nullptr) *clipper = nullptr;
        call.result = m_pState->Scripted(call.method, m_nDevice);
        if (FAILED(call.result)) return call.result;
        if (clipper == nullptr || outer != nullptr) return call.result = DDERR_INVALIDPARAMS;
        *clipper = new FakeClipper(m_pState, m_nDevice);
        return call.result;
    }
    HRESULT STDMETHODCALLTYPE CreateSurface(LPDDSURFACEDESC2 desc, LPDIRECTDRAWSURFACE7* surface,
                                            IUnknown* outer) override {
        std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
        FakeCall& call = m_pState->Log("IDirectDraw7::CreateSurface", m_nDevice, m_nId);
        if (surface != nullptr) *surface = nullptr;
        if (desc != nullptr) {
            call.bHasDesc = true;
            call.desc = *desc;
            call.flags = desc->dwFlags;
            call.args = "flags=" + Hex(desc->dwFlags) + " caps=" + Hex(desc->ddsCaps.dwCaps) +
                        " w=" + std::to_string(desc->dwWidth) +
                        " h=" + std::to_string(desc->dwHeight) +
                        " format=" + FormatText(desc->ddpfPixelFormat);
        }
        call.result = m_pState->Scripted(call.method, m_nDevice);
        if (FAILED(call.result)) return call.result;
        if (desc == nullptr || surface == nullptr || outer != nullptr ||
            desc->dwSize != sizeof(DDSURFACEDESC2) || (desc->dwFlags & DDSD_CAPS) == 0) {
            return call.result = DDERR_INVALIDPARAMS;
        }
        const bool primary = (desc->ddsCaps.dwCaps & DDSCAPS_PRIMARYSURFACE) != 0;
        const FakeDevice* device = m_pState->Device(m_nDevice);
        if (!primary) {
            const DDPIXELFORMAT& format = desc->ddpfPixelFormat;
            const DWORD key =
                (format.dwFlags & DDPF_FOURCC) != 0 ? format.dwFourCC : format.dwRGBBitCount;
            if ((desc->dwFlags & DDSD_PIXELFORMAT) != 0 && device != nullptr &&
                device->refusedFormats.count(key) != 0) {
                return call.result = DDERR_INVALIDPIXELFORMAT;
            }
        }
        auto* made = new FakeSurface(m_pState, m_nDevice, primary, m_pAlive);
        if (!primary) {
            const HRESULT hr =
                made->Allocate(*desc, device != nullptr ? device->dwPitchPadding : 0);
            if (FAILED(hr)) {
                made->Release();
                return call.result = hr;
            }
        }
        *surface = made;
        call.srcObject = made->StateOf().id;  // the id of the surface made
        return call.result;
    }
    HRESULT STDMETHODCALLTYPE GetCaps(LPDDCAPS driver_caps, LPDDCAPS hel_caps) override {
        std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
        FakeCall& call = m_pState->Log("IDirectDraw7::GetCaps", m_nDevice, m_nId);
        call.args = std::string("driver=") + (driver_caps != nullptr ? "yes" : "null") +
                    " hel=" + (hel_caps != nullptr ? "yes" : "null");
        call.result = m_pState->Scripted(call.method, m_nDevice);
        if (FAILED(call.result)) return call.result;
        if (driver_caps == nullptr && hel_caps == nullptr) return call.result = DDERR_INVALIDPARAMS;
        for (LPDDCAPS caps : {driver_caps, hel_caps}) {
            if (caps == nullptr) continue;
            if (caps->dwSize != sizeof(DDCAPS)) return call.result = DDERR_INVALIDPARAMS;
            const FakeDevice* device = m_pState->Device(m_nDevice);
            caps->dwCaps = device != nullptr ? device->dwCaps : 0;
            caps->dwFXCaps = device != nullptr ? device->dwFXCaps : 0;
        }
        return call.result;
    }
    HRESULT STDMETHODCALLTYPE RestoreDisplayMode() override {
        std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
        FakeCall& call = m_pState->Log("IDirectDraw7::RestoreDisplayMode", m_nDevice, m_nId);
        call.result = m_pState->Scripted(call.method, m_nDevice);
        if (FAILED(call.result)) return call.result;
        const FakeDevice* device = m_pState->Device(m_nDevice);
        if (device != nullptr && device->bGone) call.result = DDERR_GENERIC;
        return call.result;
    }
    HRESULT STDMETHODCALLTYPE SetCooperativeLevel(HWND hwnd, DWORD flags) override {
        std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
        FakeCall& call = m_pState->Log("IDirectDraw7::SetCooperativeLevel", m_nDevice, m_nId);
        call.flags = flags;
        call.hwnd = hwnd;
        call.args = "hwnd=" + Hex(static_cast<DWORD>(hwnd)) + " flags=" + Hex(flags);
        call.result = m_pState->Scripted(call.method, m_nDevice);
        return call.result;
    }
    HRESULT STDMETHODCALLTYPE TestCooperativeLevel() override {
        std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
        FakeCall& call = m_pState->Log("IDirectDraw7::TestCooperativeLevel", m_nDevice, m_nId);
        call.result = m_pState->Scripted(call.method, m_nDevice);
        if (FAILED(call.result)) return call.result;
        FakeDevice* device =
            m_nDevice >= 0 && static_cast<size_t>(m_nDevice) < m_pState->devices.size()
                ? &m_pState->devices[m_nDevice]
                : nullptr;
        if (device != nullptr && device->bGone) return call.result = DDERR_WRONGMODE;
        if (device != nullptr && device->nCoopFailures > 0) {
            --device->nCoopFailures;
            return call.result = DDERR_WRONGMODE;
        }
        return call.result;
    }

  private:
    std::shared_ptr<State> m_pState;
    int m_nDevice;
    int m_nId = 0;
    std::shared_ptr<bool> m_pAlive;  // shared with the surfaces it made
};

}  // namespace

FakeBackend::FakeBackend() : m_pState(std::make_shared<State>()) {
    SetMonitors({});
}

FakeBackend::~FakeBackend() = default;

void FakeBackend::SetMonitors(const std::vector<RECT>& monitors) {
    std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
    m_pState->devices.clear();
    m_pState->devices.emplace_back();  // the primary display driver
    if (!monitors.empty()) {
        m_pState->screenWidth = monitors[0].right - monitors[0].left;
        m_pState->screenHeight = monitors[0].bottom - monitors[0].top;
    }
    if (monitors.size() < 2) return;
    for (const RECT& monitor : monitors) {
        FakeDevice device;
        device.bHasGuid = true;
        device.bHasMonitor = true;
        device.rcMonitor = monitor;
        m_pState->devices.push_back(device);
    }
}

std::vector<FakeDevice>& FakeBackend::Devices() {
    return m_pState->devices;
}

void FakeBackend::SetScreenSize(int width, int height) {
    std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
    m_pState->screenWidth = width;
    m_pState->screenHeight = height;
}

void FakeBackend::SetDirectDrawLoaded(bool loaded) {
    std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
    m_pState->bLoaded = loaded;
}

void FakeBackend::SetHasEnumerateEx(bool present) {
    std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
    m_pState->bHasEnumerateEx = present;
}

void FakeBackend::FailCall(std::string_view method, HRESULT result, int skip, int times,
                           int device) {
    std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
    m_pState->rules.push_back({std::string(method), result, skip, times, device});
}

void FakeBackend::ClearFailures() {
    std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
    m_pState->rules.clear();
}

void FakeBackend::LoseSurfaces(int device) {
    std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
    for (auto& [id, surface] : m_pState->surfaces) {
        if (surface->device == device) surface->bLost = true;
    }
}

void FakeBackend::SetRestoreFails(int device, bool fails) {
    std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
    if (device >= 0 && static_cast<size_t>(device) < m_pState->devices.size()) {
        m_pState->devices[device].bRestoreFails = fails;
    }
}

void FakeBackend::SetDeviceGone(int device, bool gone) {
    std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
    if (device >= 0 && static_cast<size_t>(device) < m_pState->devices.size()) {
        m_pState->devices[device].bGone = gone;
    }
}

void FakeBackend::SetCoopFailures(int device, int failures) {
    std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
    if (device >= 0 && static_cast<size_t>(device) < m_pState->devices.size()) {
        m_pState->devices[device].nCoopFailures = failures;
    }
}

HWND FakeBackend::AddWindow(RECT client_in_screen, bool visible) {
    std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
    const HWND hwnd = m_pState->nextWindow++;
    m_pState->windows[hwnd] = FakeWindow{client_in_screen, visible, true};
    return hwnd;
}

void FakeBackend::MoveWindow(HWND hwnd, RECT client_in_screen) {
    std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
    auto it = m_pState->windows.find(hwnd);
    if (it != m_pState->windows.end()) it->second.rcClient = client_in_screen;
}

void FakeBackend::SetWindowVisible(HWND hwnd, bool visible) {
    std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
    auto it = m_pState->windows.find(hwnd);
    if (it != m_pState->windows.end()) it->second.bVisible = visible;
}

void FakeBackend::DestroyWindow(HWND hwnd) {
    std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
    auto it = m_pState->windows.find(hwnd);
    if (it != m_pState->windows.end()) it->second.bExists = false;
}

std::vector<FakeCall> FakeBackend::Calls() const {
    std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
    return m_pState->calls;
}

std::vector<FakeCall> FakeBackend::CallsNamed(std::string_view method) const {
    std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
    std::vector<FakeCall> named;
    for (const FakeCall& call : m_pState->calls) {
        if (call.method == method) named.push_back(call);
    }
    return named;
}

size_t FakeBackend::CountCalls(std::string_view method) const {
    std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
    return static_cast<size_t>(
        std::count_if(m_pState->calls.begin(), m_pState->calls.end(),
                      [&](const FakeCall& c) { return c.method == method; }));
}

void FakeBackend::ClearCalls() {
    std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
    m_pState->calls.clear();
}

FakeSurfaceState* FakeBackend::Surface(IDirectDrawSurface7* surface) {
    auto* fake = dynamic_cast<FakeSurface*>(surface);
    return fake != nullptr ? &fake->StateOf() : nullptr;
}

int FakeBackend::LiveObjects() const {
    std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
    return m_pState->liveObjects;
}

int FakeBackend::EnumeratedCallbacks() const {
    std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
    return m_pState->enumeratedCallbacks;
}

bool FakeBackend::EnumerationStopped() const {
    std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
    return m_pState->bEnumerationStopped;
}

DWORD FakeBackend::Now() const {
    std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
    return m_pState->ticks;
}

size_t FakeBackend::SleepCalls() const {
    std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
    return m_pState->sleepCalls;
}

bool FakeBackend::IsDirectDrawLoaded() {
    std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
    return m_pState->bLoaded;
}

bool FakeBackend::HasEnumerateEx() {
    std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
    return m_pState->bHasEnumerateEx;
}

HRESULT FakeBackend::EnumerateDevices(LPDDENUMCALLBACKEXA callback, LPVOID context, DWORD flags) {
    std::vector<FakeDevice> devices;
    {
        std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
        FakeCall& call = m_pState->Log("DirectDrawEnumerateExA", -1, 0);
        call.flags = flags;
        call.args = "flags=" + Hex(flags);
        call.result = m_pState->Scripted(call.method, -1);
        if (FAILED(call.result)) return call.result;
        devices = m_pState->devices;
        m_pState->enumeratedCallbacks = 0;
        m_pState->bEnumerationStopped = false;
    }
    char description[] = "Fake display device";
    char driver[] = "fake";
    // The callback runs without the fake's lock: it calls back into the layer.
    for (size_t i = 0; i < devices.size(); ++i) {
        if (devices[i].bHasMonitor && (flags & DDENUM_ATTACHEDSECONDARYDEVICES) == 0) continue;
        GUID guid = FakeDeviceGuid(static_cast<int>(i));
        // A monitor handle is an opaque value: the device's index plus one.
        const auto token = static_cast<uintptr_t>(i + 1);
        HMONITOR monitor = nullptr;
        if (devices[i].bHasMonitor) {
            monitor = reinterpret_cast<HMONITOR>(token);  // NOLINT(performance-no-int-to-ptr)
        }
        const BOOL more =
            callback(devices[i].bHasGuid ? &guid : nullptr, description, driver, context, monitor);
        std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
        ++m_pState->enumeratedCallbacks;
        if (!more) {
            m_pState->bEnumerationStopped = true;
            break;
        }
    }
    return DD_OK;
}

HRESULT FakeBackend::CreateDirectDraw(GUID* guid, IDirectDraw7** out) {
    std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
    FakeCall& call = m_pState->Log("DirectDrawCreateEx", -1, 0);
    int device = -1;
    for (size_t i = 0; i < m_pState->devices.size(); ++i) {
        const FakeDevice& candidate = m_pState->devices[i];
        const GUID expected = FakeDeviceGuid(static_cast<int>(i));
        if (candidate.bHasGuid
                ? (!IsZeroGuid(guid) && std::memcmp(guid, &expected, sizeof(GUID)) == 0)
                : IsZeroGuid(guid)) {
            device = static_cast<int>(i);
            break;
        }
    }
    call.device = device;
    call.args = "device=" + std::to_string(device);
    call.result = m_pState->Scripted(call.method, device);
    if (FAILED(call.result)) return call.result;
    if (device < 0) return call.result = DDERR_NOTFOUND;
    *out = new FakeDirectDraw(m_pState, device);
    return call.result;
}

BOOL FakeBackend::GetMonitorInfo(HMONITOR monitor, MONITORINFO* info) {
    std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
    const auto index = static_cast<int>(reinterpret_cast<uintptr_t>(monitor)) - 1;
    const FakeDevice* device = m_pState->Device(index);
    if (device == nullptr || !device->bHasMonitor) return FALSE;
    info->rcMonitor = device->rcMonitor;
    info->rcWork = device->rcMonitor;
    info->dwFlags = index == 1 ? MONITORINFOF_PRIMARY : 0;
    if (info->cbSize == sizeof(MONITORINFOEXA)) {
        std::snprintf(static_cast<MONITORINFOEXA*>(info)->szDevice, CCHDEVICENAME,
                      "\\\\.\\DISPLAY%d", index);
    }
    return TRUE;
}

int FakeBackend::GetSystemMetrics(int index) {
    std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
    switch (index) {
        case SM_CXSCREEN:
            return m_pState->screenWidth;
        case SM_CYSCREEN:
            return m_pState->screenHeight;
        default:
            return 0;
    }
}

void FakeBackend::SetWindowCallsThrow(bool throws) {
    std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
    m_pState->bWindowCallsThrow = throws;
}

BOOL FakeBackend::IsWindow(HWND hwnd) {
    std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
    if (m_pState->bWindowCallsThrow) throw std::runtime_error("IsWindow failed");
    auto it = m_pState->windows.find(hwnd);
    return it != m_pState->windows.end() && it->second.bExists;
}

BOOL FakeBackend::IsWindowVisible(HWND hwnd) {
    std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
    auto it = m_pState->windows.find(hwnd);
    return it != m_pState->windows.end() && it->second.bExists && it->second.bVisible;
}

BOOL FakeBackend::GetClientRect(HWND hwnd, LPRECT rect) {
    std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
    auto it = m_pState->windows.find(hwnd);
    if (it == m_pState->windows.end() || !it->second.bExists) return FALSE;
    const RECT& r = it->second.rcClient;
    *rect = RECT{0, 0, r.right - r.left, r.bottom - r.top};
    return TRUE;
}

BOOL FakeBackend::GetWindowRect(HWND hwnd, LPRECT rect) {
    std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
    auto it = m_pState->windows.find(hwnd);
    if (it == m_pState->windows.end() || !it->second.bExists) return FALSE;
    *rect = it->second.rcClient;
    return TRUE;
}

BOOL FakeBackend::ClientToScreen(HWND hwnd, LPPOINT point) {
    std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
    auto it = m_pState->windows.find(hwnd);
    if (it == m_pState->windows.end() || !it->second.bExists) return FALSE;
    point->x += it->second.rcClient.left;
    point->y += it->second.rcClient.top;
    return TRUE;
}

void FakeBackend::Sleep(DWORD milliseconds) {
    std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
    m_pState->ticks += milliseconds;
    ++m_pState->sleepCalls;
}

DWORD FakeBackend::GetTickCount() {
    std::lock_guard<std::recursive_mutex> guard(m_pState->lock);
    return m_pState->ticks;
}

}  // namespace orvenna::platform
