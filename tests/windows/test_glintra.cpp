// glintra.dll in real windows: the grey picture read back from the screen, the overlay drawn with
// GLT_DrawRect and with the callback's own device context, WM_PAINT, a parent that changes size
// or goes away, and the drawing thread and child window gone after GLT_DestroyHandle.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "glintra.h"
#include "test_window.h"
#include "win_test.h"

namespace {

using wt::Rgb;

// Four quadrants of known greys.
const int kGreys[4] = {30, 90, 160, 230};

std::vector<uint8_t> QuadrantPicture(int width, int height) {
    std::vector<uint8_t> bytes;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            bytes.push_back(0x80);
            bytes.push_back(static_cast<uint8_t>(kGreys[(y * 2 / height) * 2 + x * 2 / width]));
        }
    }
    return bytes;
}

Rgb Grey(int g) {
    return {g, g, g};
}
const Rgb kRed = {255, 0, 0};
const Rgb kBlue = {0, 0, 255};

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

// One render handle set up as the program sets it up, showing a quadrant picture.
class Render {
  public:
    explicit Render(int pictureWidth = 64, int pictureHeight = 48,
                    int32_t filter = GLT_SCALE_BILINEAR)
        : m_picture(QuadrantPicture(pictureWidth, pictureHeight)),
          m_width(pictureWidth),
          m_height(pictureHeight) {
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
    int32_t Destroy() {
        const int32_t result = GLT_DestroyHandle(m_handle);
        m_handle = 0;
        return result;
    }

  private:
    GLT_HANDLE m_handle = 0;
    std::vector<uint8_t> m_picture;
    int m_width;
    int m_height;
};

struct Probe {
    int x, y;
    Rgb expected;
};

// The centres of the four quadrants of a width x height client area.
std::vector<Probe> QuadrantProbes(int width, int height) {
    std::vector<Probe> probes;
    for (int q = 0; q < 4; ++q) {
        probes.push_back(
            {(q % 2) * width / 2 + width / 4, (q / 2) * height / 2 + height / 4, Grey(kGreys[q])});
    }
    return probes;
}

bool Matches(const wt::TestWindow& window, const std::vector<Probe>& probes) {
    for (const Probe& p : probes) {
        if (!wt::Near(window.Pixel(p.x, p.y), p.expected, 0)) return false;
    }
    return true;
}

// Waits until every probe has its colour exactly, calling `show` (if any) each round; reports the
// probes that never matched. Without `show` the drawing thread must get there on its own.
void ExpectShown(
    const wt::TestWindow& window, const std::vector<Probe>& probes, int line,
    const std::function<void()>& show = [] {}) {
    if (wt::PollUntil(show, [&] { return Matches(window, probes); })) return;
    for (const Probe& p : probes) {
        const Rgb seen = window.Pixel(p.x, p.y);
        if (wt::Near(seen, p.expected, 0)) continue;
        const auto text = [](Rgb c) {
            return "(" + std::to_string(c.r) + ", " + std::to_string(c.g) + ", " +
                   std::to_string(c.b) + ")";
        };
        wt::Fail(__FILE__, line,
                 "at (" + std::to_string(p.x) + ", " + std::to_string(p.y) + ") " + text(seen) +
                     ", expected " + text(p.expected));
    }
}

HWND ChildOf(HWND parent) {
    return FindWindowExW(parent, nullptr, L"GlintraView", nullptr);
}

constexpr int kWidth = 320;
constexpr int kHeight = 240;

// A window showing the quadrant picture with the live view's overlay over it.
struct Scene {
    Scene() : window(64, 64, kWidth, kHeight) {
        render.WithOverlay(overlay);
        const auto show = [this] { render.Show(window.Handle()); };
        ExpectShown(window, QuadrantProbes(kWidth, kHeight), __LINE__, show);
    }
    wt::TestWindow window;
    Render render;
    Overlay overlay;
};

WT_TEST(greys_are_scaled_into_the_window_unchanged) {
    struct Case {
        int width, height;  // 50 is not a multiple of 4: its rows are padded for GDI
        int32_t filter;
    };
    for (const Case& c : {Case{64, 48, GLT_SCALE_BILINEAR}, Case{50, 30, GLT_SCALE_NEAREST}}) {
        wt::TestWindow window(64, 64, kWidth, kHeight);
        Render render(c.width, c.height, c.filter);
        const auto show = [&] { render.Show(window.Handle()); };
        ExpectShown(window, QuadrantProbes(kWidth, kHeight), __LINE__, show);
        // The picture fills the window to its edges.
        ExpectShown(window, {{1, 1, Grey(kGreys[0])}, {kWidth - 2, kHeight - 2, Grey(kGreys[3])}},
                    __LINE__);
    }
}

WT_TEST(overlay_draws_the_centre_box_and_with_its_device_context) {
    Scene scene;
    // The box spans 0.45 to 0.55: x 144..175, y 108..131, one pixel wide.
    ExpectShown(scene.window,
                {{144, 120, kRed},
                 {175, 120, kRed},
                 {160, 108, kRed},
                 {160, 131, kRed},
                 {146, 125, Grey(kGreys[2])},
                 {143, 125, Grey(kGreys[2])},
                 {3, 3, kBlue},
                 {10, 10, Grey(kGreys[0])}},
                __LINE__);
    // Half-transparent blue over grey 230 in the bottom-right corner.
    WT_CHECK(wt::Near(scene.window.Pixel(kWidth - 4, kHeight - 4), {115, 115, 242}, 2));
    WT_CHECK(scene.overlay.memoryDc);
    WT_CHECK_EQ(scene.overlay.width, kWidth);
    WT_CHECK_EQ(scene.overlay.height, kHeight);
    // Outside the callback there is nothing to draw into.
    const float all[4] = {0, 1, 0, 1};
    WT_CHECK_EQ(GLT_DrawRect(scene.render.Handle(), all, all, 0), 0);
}

WT_TEST(wm_paint_redraws_the_last_picture) {
    Scene scene;
    HWND child = ChildOf(scene.window.Handle());
    WT_CHECK(child != nullptr);
    // Scribbled over from outside, then invalidated: only the drawing thread's WM_PAINT can bring
    // the picture back, as no new one is given.
    HDC dc = GetDC(child);
    const RECT all = {0, 0, kWidth, kHeight};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    ReleaseDC(child, dc);
    ExpectShown(scene.window, {{80, 60, Grey(255)}}, __LINE__);
    InvalidateRect(child, nullptr, FALSE);
    ExpectShown(scene.window, QuadrantProbes(kWidth, kHeight), __LINE__);
}

WT_TEST(child_follows_the_parent_size) {
    Scene scene;
    SetWindowPos(scene.window.Handle(), nullptr, 0, 0, 480, 360, SWP_NOMOVE | SWP_NOZORDER);
    // No new picture: the drawing thread notices the size and draws the last one again.
    ExpectShown(scene.window, QuadrantProbes(480, 360), __LINE__);
    RECT child = {};
    GetClientRect(ChildOf(scene.window.Handle()), &child);
    WT_CHECK_EQ(child.right, 480);
    WT_CHECK_EQ(child.bottom, 360);
    WT_CHECK_EQ(scene.overlay.width, 480);
    ExpectShown(scene.window, {{216, 162, kRed}}, __LINE__);  // the box's corner, new size
}

WT_TEST(destroy_ends_the_thread_and_removes_the_child) {
    Scene scene;
    HWND child = ChildOf(scene.window.Handle());
    WT_CHECK(child != nullptr);
    const DWORD drawerId = GetWindowThreadProcessId(child, nullptr);
    WT_CHECK(drawerId != GetCurrentThreadId());
    HANDLE drawer = OpenThread(SYNCHRONIZE, FALSE, drawerId);
    WT_CHECK(drawer != nullptr);

    WT_CHECK_EQ(scene.render.Destroy(), 1);
    WT_CHECK_EQ(WaitForSingleObject(drawer, 0), WAIT_OBJECT_0);
    CloseHandle(drawer);
    WT_CHECK(!IsWindow(child));
    const int calls = scene.overlay.calls;
    wt::PumpFor(200);
    WT_CHECK_EQ(scene.overlay.calls, calls);
}

WT_TEST(a_parent_that_goes_away_is_refused_without_a_hang) {
    Render render;
    auto window = std::make_unique<wt::TestWindow>(64, 64, kWidth, kHeight);
    const HWND gone = window->Handle();
    ExpectShown(*window, QuadrantProbes(kWidth, kHeight), __LINE__, [&] { render.Show(gone); });
    window.reset();  // destroys the parent with the drawing thread's child in it
    WT_CHECK(wt::PollUntil([] {}, [&] { return render.Show(gone) == 0; }));
    // A handle that never was a window is refused the same way.
    const HWND never = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x7ff0));
    WT_CHECK(wt::PollUntil([] {}, [&] { return render.Show(never) == 0; }));
    // A real window afterwards shows the picture again.
    wt::TestWindow next(64, 64, kWidth, kHeight);
    const auto show = [&] { render.Show(next.Handle()); };
    ExpectShown(next, QuadrantProbes(kWidth, kHeight), __LINE__, show);
}

}  // namespace

WT_MAIN
