// glintra.dll in real windows: the grey picture read back from the screen, the overlay drawn with
// GLT_DrawRect and with the callback's own device context, WM_PAINT, a parent that changes size
// or goes away, and the drawing thread and child window gone after GLT_DestroyHandle.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <utility>
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

// One render handle set up as the program sets it up, showing a picture of four grey quadrants.
class Render {
  public:
    explicit Render(int width = 64, int height = 48, int32_t filter = GLT_SCALE_BILINEAR)
        : m_picture(glintra_test::Picture(width, height, [=](int x, int y) {
              return static_cast<uint8_t>(kGreys[(y * 2 / height) * 2 + x * 2 / width]);
          })),
          m_width(width),
          m_height(height) {
        m_handle = GLT_CreateHandle();
        WT_CHECK(m_handle != 0);
        WT_CHECK_EQ(GLT_Init(m_handle, GLT_FORMAT_GREY_UYVY, 0, filter), 1);
        WT_CHECK_EQ(GLT_AddSubPort(m_handle, 0, 0), 1);
    }
    ~Render() {
        if (m_handle) GLT_DestroyHandle(m_handle);
    }
    Render(const Render&) = delete;
    Render& operator=(const Render&) = delete;

    GLT_HANDLE Handle() const { return m_handle; }
    void WithOverlay(Overlay& overlay) {
        overlay.handle = m_handle;
        WT_CHECK_EQ(GLT_SetCallBack(m_handle, 0, GLT_CALLBACK_OVERLAY, &DrawOverlay, &overlay), 1);
    }
    // Hands the picture over and shows it in `window`, as the worker does per frame.
    int32_t Show(HWND window) {
        if (!GLT_UpdateFrameData(m_handle, m_picture.data(), m_width, m_height, 0)) return 0;
        return GLT_Display(m_handle, 0, reinterpret_cast<uintptr_t>(window));
    }
    int32_t Destroy() { return GLT_DestroyHandle(std::exchange(m_handle, 0)); }

  private:
    std::vector<uint8_t> m_picture;
    GLT_HANDLE m_handle = 0;
    int m_width;
    int m_height;
};

// The centres of the four quadrants of a width x height client area; with `edges`, also the
// corners a picture filling the window reaches.
std::vector<Probe> QuadrantProbes(int width = kWidth, int height = kHeight, bool edges = false) {
    std::vector<Probe> probes;
    for (int q = 0; q < 4; ++q) {
        probes.push_back(
            {(q % 2) * width / 2 + width / 4, (q / 2) * height / 2 + height / 4, Grey(kGreys[q])});
    }
    if (edges) {
        probes.push_back({1, 1, Grey(kGreys[0])});
        probes.push_back({width - 2, height - 2, Grey(kGreys[3])});
    }
    return probes;
}

HWND ChildOf(HWND parent) {
    return FindWindowExW(parent, nullptr, L"GlintraView", nullptr);
}

// One live view through its life: overlay, WM_PAINT, a resized parent, teardown.
WT_TEST(overlay_paint_resize_and_destroy) {
    wt::TestWindow window(64, 64, kWidth, kHeight);
    Render render;
    Overlay overlay;
    render.WithOverlay(overlay);
    WT_EXPECT_SHOWN(window, QuadrantProbes(), 0, [&] { render.Show(window.Handle()); });

    // The box spans 0.45 to 0.55: x 144..175, y 108..131, one pixel wide.
    WT_EXPECT_SHOWN(window,
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
    WT_CHECK(wt::Near(window.Pixel(kWidth - 4, kHeight - 4), {115, 115, 242}, 2));
    WT_CHECK(overlay.memoryDc);
    WT_CHECK_EQ(overlay.width, kWidth);
    WT_CHECK_EQ(overlay.height, kHeight);
    // Outside the callback there is nothing to draw into.
    const float all[4] = {0, 1, 0, 1};
    WT_CHECK_EQ(GLT_DrawRect(render.Handle(), all, all, 0), 0);

    const HWND child = ChildOf(window.Handle());
    WT_CHECK(child != nullptr);
    // Scribbled over from outside, then invalidated: only the drawing thread's WM_PAINT can bring
    // the picture back, as no new one is given.
    HDC dc = GetDC(child);
    const RECT whole = {0, 0, kWidth, kHeight};
    FillRect(dc, &whole, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    ReleaseDC(child, dc);
    WT_EXPECT_SHOWN(window, {{80, 60, Grey(255)}}, 0);
    InvalidateRect(child, nullptr, FALSE);
    WT_EXPECT_SHOWN(window, QuadrantProbes(), 0);

    // No new picture: the drawing thread notices the size and draws the last one again.
    SetWindowPos(window.Handle(), nullptr, 0, 0, 480, 360, SWP_NOMOVE | SWP_NOZORDER);
    std::vector<Probe> resized = QuadrantProbes(480, 360);
    resized.push_back({216, 162, kRed});  // the box's corner, new size
    WT_EXPECT_SHOWN(window, resized, 0);
    RECT area = {};
    GetClientRect(child, &area);
    WT_CHECK_EQ(area.right, 480);
    WT_CHECK_EQ(area.bottom, 360);
    WT_CHECK_EQ(overlay.width, 480);

    const DWORD drawerId = GetWindowThreadProcessId(child, nullptr);
    WT_CHECK(drawerId != GetCurrentThreadId());
    HANDLE drawer = OpenThread(SYNCHRONIZE, FALSE, drawerId);
    WT_CHECK(drawer != nullptr);
    WT_CHECK_EQ(render.Destroy(), 1);
    WT_CHECK_EQ(WaitForSingleObject(drawer, 0), WAIT_OBJECT_0);
    CloseHandle(drawer);
    WT_CHECK(!IsWindow(child));
    const int calls = overlay.calls;
    wt::PumpFor(200);
    WT_CHECK_EQ(overlay.calls, calls);
}

WT_TEST(a_parent_that_goes_away_is_refused_without_a_hang) {
    // 50 is not a multiple of 4: the rows are padded for GDI, and scaled into the whole window.
    Render render(50, 30, GLT_SCALE_NEAREST);
    auto window = std::make_unique<wt::TestWindow>(64, 64, kWidth, kHeight);
    const HWND gone = window->Handle();
    WT_EXPECT_SHOWN(*window, QuadrantProbes(kWidth, kHeight, true), 0, [&] { render.Show(gone); });
    window.reset();  // destroys the parent with the drawing thread's child in it
    WT_CHECK(wt::PollUntil([] {}, [&] { return render.Show(gone) == 0; }));
    // A handle that never was a window is refused the same way.
    const HWND never = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x7ff0));
    WT_CHECK(wt::PollUntil([] {}, [&] { return render.Show(never) == 0; }));
    // A real window afterwards shows the picture again.
    wt::TestWindow next(64, 64, kWidth, kHeight);
    WT_EXPECT_SHOWN(next, QuadrantProbes(), 0, [&] { render.Show(next.Handle()); });
}

}  // namespace

WT_MAIN
