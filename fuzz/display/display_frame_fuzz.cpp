// Frame records from the caller through ORVD_DisplayFrame on the fake DirectDraw backend: each
// frame's bytes lie in a heap block of exactly the size that a caller gives its format, width and
// height (the example player's count, not the library's own), so a read past the caller's frame
// is an AddressSanitizer report; every surface's guard bytes are checked after each call, so a
// write past a surface is caught as well.
//
// Input: a set-up byte (monitors, display mode, DC callback), a byte of surface formats the
// devices refuse, a pitch-padding byte (0 .. 63 bytes), then frame records of 5 bytes each:
// format, width and height as 16-bit little-endian. The height is cut so that width plus padding
// times height stays within 4,096, which keeps every surface small.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "ddraw_engine.h"
#include "orvenna.h"
#include "orvenna_testing.h"
#include "platform/fake_backend.h"
#include "test_pattern.h"

namespace {

using namespace orvenna;

constexpr uint64_t kMaxArea = uint64_t{1} << 12;
constexpr size_t kMaxFrames = 4;

// The surface formats a device may refuse: the RGB bit counts and the FourCCs.
constexpr DWORD kRefusable[8] = {
    24, 32, MAKEFOURCC('U', 'Y', 'V', 'Y'), MAKEFOURCC('Y', 'V', '1', '2'),
    MAKEFOURCC('Y', 'U', 'Y', '2'), MAKEFOURCC('Y', 'V', 'Y', 'U'), MAKEFOURCC('I', 'Y', 'U', 'V'),
    MAKEFOURCC('I', 'U', 'Y', 'V')};

void DrawNothing(int32_t, ORVD_HDC, intptr_t) {}

void CheckSurfaceGuards(platform::FakeBackend& fake, int32_t handle) {
    auto* engine = dynamic_cast<DDrawDisplayEngine*>(testing::EngineForTesting(handle));
    if (engine == nullptr) __builtin_trap();
    for (DWORD i = 0; i < kMaxDisplayDevices; ++i) {
        const DeviceSurfaceSet* set = engine->DeviceSet(i);
        if (set == nullptr) continue;
        for (IDirectDrawSurface7* surface : {set->pFrameSurface.Get(), set->pDCSurface.Get()}) {
            const platform::FakeSurfaceState* state = surface ? fake.Surface(surface) : nullptr;
            if (state != nullptr && !state->memory.GuardIntact()) __builtin_trap();
        }
    }
}

// The two desks an input can choose: one monitor, or two side by side with the window across
// their border. Each keeps its fake backend and the library's device table between inputs; the
// library is reset only when an input chooses the other desk. The DirectDraw objects that the
// device table holds are counted once, so that whatever a handle leaves behind is caught.
struct Desk {
    std::shared_ptr<platform::FakeBackend> fake;
    HWND window = 0;
    int tableObjects = 0;
};

Desk& UseDesk(bool twoMonitors) {
    static Desk desks[2];
    static int current = -1;
    Desk& desk = desks[twoMonitors];
    if (!desk.fake) {
        desk.fake = std::make_shared<platform::FakeBackend>();
        if (twoMonitors) {
            desk.fake->SetMonitors({RECT{0, 0, 1280, 1024}, RECT{1280, 0, 2560, 1024}});
        } else {
            desk.fake->SetMonitors({RECT{0, 0, 1920, 1080}});
        }
        desk.window = desk.fake->AddWindow(RECT{1240, 100, 1320, 140});
    }
    if (current != twoMonitors) {
        testing::UseBackendForTesting(desk.fake);
        int32_t handle = -1;  // a first handle sets the device table up
        if (ORVD_InitByDisEngine(&handle, ORVD_ENGINE_DDRAW) != ORVD_OK) __builtin_trap();
        ORVD_Release(handle);
        desk.tableObjects = desk.fake->LiveObjects();
        current = twoMonitors;
    }
    return desk;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const uint8_t setup = data[0], refused = data[1], padding = data[2] % 64;
    data += 3;
    size -= 3;

    Desk& desk = UseDesk((setup & 1) != 0);
    platform::FakeBackend& fake = *desk.fake;
    for (auto& device : fake.Devices()) {
        device.refusedFormats.clear();
        for (int bit = 0; bit < 8; ++bit) {
            if (refused & (1u << bit)) device.refusedFormats.insert(kRefusable[bit]);
        }
        device.dwPitchPadding = padding;
    }

    int32_t handle = -1;
    if (ORVD_InitByDisEngine(&handle, ORVD_ENGINE_DDRAW) != ORVD_OK) __builtin_trap();
    ORVD_SetDisplayWindow(handle, desk.window);
    ORVD_SetDisplayMode(handle, (setup >> 1) & 3);
    if (setup & 8) ORVD_RegisterDCCallback(handle, &DrawNothing, 0);

    for (size_t n = 0; n < kMaxFrames && size >= 5; ++n, data += 5, size -= 5) {
        const uint32_t format = data[0] % 16;  // 14 and 15 are unknown codes
        const uint32_t width = data[1] | data[2] << 8;
        uint32_t height = data[3] | data[4] << 8;
        const uint64_t across = uint64_t{width} + padding;
        if (across * height > kMaxArea) height = static_cast<uint32_t>(kMaxArea / across);

        const size_t bytes = orvenna_play::FrameBytes(format, width, height);
        std::unique_ptr<unsigned char[]> pixels(new unsigned char[bytes]);
        std::memset(pixels.get(), 0x5A, bytes);
        tagORVD_FRAME frame{pixels.get(), 0, format, width, height};
        ORVD_DisplayFrame(handle, &frame);
        CheckSurfaceGuards(fake, handle);
    }
    ORVD_RefreshDisplay(handle);

    if (ORVD_Release(handle) != ORVD_OK) __builtin_trap();
    if (fake.LiveObjects() != desk.tableObjects) __builtin_trap();
    // The call log goes within the run: memory that outlives a run looks like a leak to the fuzzer.
    fake.ClearCalls();
    return 0;
}
