// glintra.dll in a real window: the grey picture read back from the screen, the overlay drawn with
// GLT_DrawRect and with the callback's own device context, WM_PAINT, a parent that changes size
// or goes away, and the drawing thread and child window gone after GLT_DestroyHandle.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "../glintra/pictures.h"
#include "glintra.h"
#include "win_test.h"

namespace {

using wt::Probe;
using wt::Rgb;

// Four quadrants of known greys.
const int kGreys[4] = {30, 90, 160, 230};
const Rgb kRed = {255, 0, 0};
const Rgb kBlue = {0, 0, 255};
constexpr int kWidth = 320;
constexpr int kHeight = 240;

Rgb Grey(int g) {
    return {g, g, g};
}

// The overlay of the live view, plus a mark drawn through the callback's own device context.
struct Overlay {
    GLT_HANDLE handle = 0;
    std::atomic<int> calls{0};
    std::atomic<int> width{0};
    std::atomic<int> height{0};
    std::atomic<bool> memoryDc{false};
};

void DrawOverlay(void* user, int32_t, int32_t, int32_t width, int32_t height, int32_t dc) {
    auto* overlay = static_cast<Overlay*>(user);
    const float centre[4] = {0.45f, 0.55f, 0.45f, 0.55f};
    const float red[4] = {1.0f, 0.0f, 0.0f, 1.0f};
    GLT_DrawRect(overlay->handle, centre, red, 1);
    const float corner[4] = {0.9f, 1.0f, 0.9f, 1.0f};
    const float halfBlue[4] = {0.0f, 0.0f, 1.0f, 0.5f};
    GLT_DrawRect(overlay->handle, corner, halfBlue, 0);
    HDC hdc = reinterpret_cast<HDC>(static_cast<intptr_t>(dc));
    overlay->memoryDc = GetObjectType(hdc) == OBJ_MEMDC;
    const RECT mark = {0, 0, 8, 8};
    HBRUSH blue = CreateSolidBrush(RGB(0, 0, 255));
    FillRect(hdc, &mark, blue);
    DeleteObject(blue);
    overlay->width = width;
    overlay->height = height;
    ++overlay->calls;
}

// The centres of the four quadrants of a width x height client area.
std::vector<Probe> QuadrantProbes(int width = kWidth, int height = kHeight) {
    std::vector<Probe> probes;
    for (int q = 0; q < 4; ++q) {
        probes.push_back(
            {(q % 2) * width / 2 + width / 4, (q / 2) * height / 2 + height / 4, Grey(kGreys[q])});
    }
    return probes;
}

}  // namespace

// One live view through its life: picture, overlay, WM_PAINT, a resized parent, a parent that goes
// away, teardown.
TEST(GlintraWindow, overlay_paint_resize_lost_parent_and_destroy) {
    // 50 is not a multiple of 4: the rows are padded for GDI.
    const std::vector<uint8_t> picture = glintra_test::Picture(50, 30, [](int x, int y) {
        return static_cast<uint8_t>(kGreys[(y * 2 / 30) * 2 + x * 2 / 50]);
    });
    GLT_HANDLE handle = GLT_CreateHandle();
    EXPECT_EQ(GLT_Init(handle, GLT_FORMAT_GREY_UYVY, 0, GLT_SCALE_NEAREST), 1);
    EXPECT_EQ(GLT_AddSubPort(handle, 0, 0), 1);
    Overlay overlay;
    overlay.handle = handle;
    EXPECT_EQ(GLT_SetCallBack(handle, 0, GLT_CALLBACK_OVERLAY, &DrawOverlay, &overlay), 1);
    // Hands the picture over and shows it in `window`, as the worker does per frame.
    auto show = [&](HWND window) {
        return GLT_UpdateFrameData(handle, picture.data(), 50, 30, 0) &&
               GLT_Display(handle, 0, reinterpret_cast<uintptr_t>(window));
    };
    auto window = std::make_unique<wt::TestWindow>(64, 64, kWidth, kHeight);
    std::vector<Probe> whole = QuadrantProbes();
    whole.push_back({1, 20, Grey(kGreys[0])});  // the picture reaches the edges
    whole.push_back({kWidth - 2, kHeight - 30, Grey(kGreys[3])});
    WT_EXPECT_SHOWN(*window, whole, 0, [&] { show(window->Handle()); });

    // The box spans 0.45 to 0.55: x 144..175, y 108..131, one pixel wide.
    WT_EXPECT_SHOWN(*window,
                    {{144, 120, kRed},
                     {175, 120, kRed},
                     {160, 108, kRed},
                     {160, 131, kRed},
                     {146, 125, Grey(kGreys[2])},
                     {143, 125, Grey(kGreys[2])},
                     {3, 3, kBlue},
                     {10, 10, Grey(kGreys[0])}},
                    0);
    // Half-transparent blue over grey 230 in the bottom-right corner.
    EXPECT_TRUE(wt::Near(window->Pixel(kWidth - 4, kHeight - 4), {115, 115, 242}, 2));
    EXPECT_TRUE(overlay.memoryDc);
    EXPECT_EQ(overlay.width, kWidth);
    EXPECT_EQ(overlay.height, kHeight);

    HWND child = FindWindowExW(window->Handle(), nullptr, L"GlintraView", nullptr);
    EXPECT_TRUE(child != nullptr);
    // Scribbled over from outside, then invalidated: only the drawing thread's WM_PAINT can bring
    // the picture back, as no new one is given.
    HDC dc = GetDC(child);
    const RECT all = {0, 0, kWidth, kHeight};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    ReleaseDC(child, dc);
    WT_EXPECT_SHOWN(*window, {{80, 60, Grey(255)}}, 0);
    InvalidateRect(child, nullptr, FALSE);
    WT_EXPECT_SHOWN(*window, QuadrantProbes(), 0);

    // No new picture: the drawing thread notices the size and draws the last one again.
    SetWindowPos(window->Handle(), nullptr, 0, 0, 480, 360, SWP_NOMOVE | SWP_NOZORDER);
    std::vector<Probe> resized = QuadrantProbes(480, 360);
    resized.push_back({216, 162, kRed});  // the box's corner, new size
    WT_EXPECT_SHOWN(*window, resized, 0);
    RECT area = {};
    GetClientRect(child, &area);
    EXPECT_EQ(area.right, 480);
    EXPECT_EQ(area.bottom, 360);
    EXPECT_EQ(overlay.width, 480);

    const HWND gone = window->Handle();
    window.reset();  // destroys the parent with the drawing thread's child in it
    EXPECT_TRUE(wt::PollUntil([] {}, [&] { return !show(gone); }));
    // A real window afterwards shows the picture again.
    wt::TestWindow next(64, 64, kWidth, kHeight);
    WT_EXPECT_SHOWN(next, QuadrantProbes(), 0, [&] { show(next.Handle()); });

    child = FindWindowExW(next.Handle(), nullptr, L"GlintraView", nullptr);
    const DWORD drawerId = GetWindowThreadProcessId(child, nullptr);
    EXPECT_TRUE(drawerId != GetCurrentThreadId());
    HANDLE drawer = OpenThread(SYNCHRONIZE, FALSE, drawerId);
    EXPECT_TRUE(drawer != nullptr);
    EXPECT_EQ(GLT_DestroyHandle(handle), 1);
    EXPECT_EQ(WaitForSingleObject(drawer, 0), WAIT_OBJECT_0);
    CloseHandle(drawer);
    EXPECT_TRUE(!IsWindow(child));
    const int calls = overlay.calls;
    wt::PumpFor(200);
    EXPECT_EQ(overlay.calls, calls);
}

WT_MAIN
