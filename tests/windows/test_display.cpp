// Orvenna in real windows: frames shown through DirectDraw are read back from the screen where
// the window is, and must match the picture within a tolerance.
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "orvenna.h"
#include "win_test.h"

namespace {

using wt::Rgb;

// Four quadrants of distinct colours, each exactly representable in RGB565.
const Rgb kQuadrants[4] = {{224, 32, 64}, {32, 192, 96}, {48, 64, 224}, {128, 128, 128}};

Rgb QuadrantColour(uint32_t x, uint32_t y, uint32_t width, uint32_t height) {
    return kQuadrants[(y * 2 / height) * 2 + x * 2 / width];
}

// BT.601 video range, the usual reading of UYVY.
struct Yuv {
    int y, u, v;
};
Yuv ToYuv(Rgb c) {
    const double y = 16 + (65.481 * c.r + 128.553 * c.g + 24.966 * c.b) / 255;
    const double u = 128 + (-37.797 * c.r - 74.203 * c.g + 112.0 * c.b) / 255;
    const double v = 128 + (112.0 * c.r - 93.786 * c.g - 18.214 * c.b) / 255;
    return {static_cast<int>(std::lround(y)), static_cast<int>(std::lround(u)),
            static_cast<int>(std::lround(v))};
}

// The quadrants as a frame of RGB32, RGB565 or UYVY.
std::vector<uint8_t> QuadrantFrame(uint32_t format, uint32_t width, uint32_t height) {
    const size_t bytes_per_pixel = format == ORVD_FORMAT_RGB32 ? 4 : 2;
    std::vector<uint8_t> bytes(size_t{width} * height * bytes_per_pixel);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const Rgb c = QuadrantColour(x, y, width, height);
            uint8_t* p = &bytes[(size_t{y} * width + x) * bytes_per_pixel];
            if (format == ORVD_FORMAT_RGB32) {
                p[0] = static_cast<uint8_t>(c.b);
                p[1] = static_cast<uint8_t>(c.g);
                p[2] = static_cast<uint8_t>(c.r);
            } else if (format == ORVD_FORMAT_RGB565) {
                const auto v = ((c.r >> 3) << 11) | ((c.g >> 2) << 5) | (c.b >> 3);
                p[0] = static_cast<uint8_t>(v & 0xFF);
                p[1] = static_cast<uint8_t>(v >> 8);
            } else {  // U Y V Y: each pixel its luma, the pair's chroma from the even pixel
                const Yuv yuv = ToYuv(QuadrantColour(x & ~1u, y, width, height));
                p[0] = static_cast<uint8_t>(x % 2 == 0 ? yuv.u : yuv.v);
                p[1] = static_cast<uint8_t>(ToYuv(c).y);
            }
        }
    }
    return bytes;
}

// One display handle on a window, released with the object.
struct Display {
    explicit Display(HWND hwnd) {
        EXPECT_EQ(ORVD_InitByDisEngine(&handle, ORVD_ENGINE_DDRAW), ORVD_OK);
        EXPECT_EQ(ORVD_SetDisplayWindow(handle, hwnd), ORVD_OK);
    }
    ~Display() { ORVD_Release(handle); }
    Display(const Display&) = delete;
    int32_t handle = -1;
};

using wt::Probe;

// Shows `frame` again and again until every probe point of `window` has its colour (within
// `tolerance`) or a few seconds have passed; the last frame must have been taken.
void ExpectShown(const wt::TestWindow& window, int32_t handle, tagORVD_FRAME frame,
                 const std::vector<Probe>& probes, int tolerance) {
    int32_t result = ORVD_OK;
    WT_EXPECT_SHOWN(window, probes, tolerance, [&] { result = ORVD_DisplayFrame(handle, &frame); });
    EXPECT_EQ(result, ORVD_OK);
}

// The centres of the four quadrants of a width x height client area.
std::vector<Probe> QuadrantProbes(int width, int height) {
    std::vector<Probe> probes;
    for (int q = 0; q < 4; ++q) {
        probes.push_back(
            {(q % 2) * width / 2 + width / 4, (q / 2) * height / 2 + height / 4, kQuadrants[q]});
    }
    return probes;
}

constexpr int kWidth = 320;
constexpr int kHeight = 240;

// Each format shown into a window, at the window's size or scaled up by two.
TEST(OrvennaWindow, frames_of_each_format_fill_the_window) {
    struct Case {
        uint32_t format;
        uint32_t width, height;
        int x, y, tolerance;
    };
    const Case cases[] = {
        {ORVD_FORMAT_RGB32, kWidth, kHeight, 64, 64, 4},
        {ORVD_FORMAT_RGB565, 160, 120, 100, 80, 8},
        {ORVD_FORMAT_UYVY, kWidth, kHeight, 128, 96, 12},  // YUV blits need an even position
    };
    for (const Case& c : cases) {
        std::printf("  format %u\n", c.format);
        wt::TestWindow window(c.x, c.y, kWidth, kHeight);
        Display display(window.Handle());
        std::vector<uint8_t> bytes = QuadrantFrame(c.format, c.width, c.height);
        tagORVD_FRAME frame = {bytes.data(), 0, c.format, c.width, c.height};
        if (c.format == ORVD_FORMAT_UYVY &&
            ORVD_DisplayFrame(display.handle, &frame) == ORVD_E_UNSUPPORTED) {
            std::printf("  this Wine's DirectDraw renderer offers no UYVY surfaces\n");
            continue;
        }
        ExpectShown(window, display.handle, frame, QuadrantProbes(kWidth, kHeight), c.tolerance);
    }
}

// Mode 1 in a window too wide for 4:3: 400/4 > 200/3, a picture 266 wide between bars of 67
// (the bars' rectangles of every mode are checked on Linux).
TEST(OrvennaWindow, a_fitted_mode_shows_the_picture_between_black_bars) {
    const Rgb black = {0, 0, 0};
    wt::TestWindow window(200, 400, 400, 200);
    Display display(window.Handle());
    EXPECT_EQ(ORVD_SetDisplayMode(display.handle, 1), ORVD_OK);
    std::vector<uint8_t> bytes = QuadrantFrame(ORVD_FORMAT_RGB32, 160, 120);
    const std::vector<Probe> probes = {{5, 100, black},
                                       {60, 100, black},
                                       {340, 100, black},
                                       {394, 100, black},
                                       {67 + 266 / 4, 50, kQuadrants[0]},
                                       {67 + 3 * 266 / 4, 150, kQuadrants[3]}};
    ExpectShown(window, display.handle, {bytes.data(), 0, ORVD_FORMAT_RGB32, 160, 120}, probes, 4);
}

struct CallbackLog {
    int calls = 0;
    int32_t handle = -1;
    bool dc_valid = false;
};

void ORVD_CALL DrawMarker(int32_t handle, ORVD_HDC hdc, intptr_t user) {
    auto* log = reinterpret_cast<CallbackLog*>(user);
    ++log->calls;
    log->handle = handle;
    log->dc_valid = hdc != nullptr && GetObjectType(hdc) != 0;
    if (hdc == nullptr) return;
    HBRUSH brush = CreateSolidBrush(RGB(255, 255, 0));
    const RECT marker = {20, 20, 120, 100};
    FillRect(hdc, &marker, brush);
    DeleteObject(brush);
}

TEST(OrvennaWindow, dc_callback_draws_over_the_frame_with_gdi) {
    wt::TestWindow window(64, 600, kWidth, kHeight);
    Display display(window.Handle());
    CallbackLog log;
    EXPECT_EQ(
        ORVD_RegisterDCCallback(display.handle, &DrawMarker, reinterpret_cast<intptr_t>(&log)),
        ORVD_OK);
    std::vector<uint8_t> bytes = QuadrantFrame(ORVD_FORMAT_RGB32, kWidth, kHeight);
    const Rgb yellow = {255, 255, 0};
    ExpectShown(window, display.handle, {bytes.data(), 0, ORVD_FORMAT_RGB32, kWidth, kHeight},
                {{70, 60, yellow}, {240, 180, kQuadrants[3]}, {240, 60, kQuadrants[1]}}, 6);
    EXPECT_TRUE(log.calls > 0);
    EXPECT_EQ(log.handle, display.handle);
    EXPECT_TRUE(log.dc_valid);

    // Without the callback the marker is gone again.
    EXPECT_EQ(ORVD_RegisterDCCallback(display.handle, nullptr, 0), ORVD_OK);
    const int calls = log.calls;
    ExpectShown(window, display.handle, {bytes.data(), 0, ORVD_FORMAT_RGB32, kWidth, kHeight},
                {{70, 60, kQuadrants[0]}}, 4);
    EXPECT_EQ(log.calls, calls);
}

}  // namespace

WT_MAIN
