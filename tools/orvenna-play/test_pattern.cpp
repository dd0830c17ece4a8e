// Packing of the test pattern into each frame format.
#include "test_pattern.h"

#include <strings.h>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "orvenna.h"

namespace orvenna_play {
namespace {

const char* const kNames[ORVD_FORMAT_COUNT] = {"RGB555", "RGB565", "RGB24", "RGB32", "UYVY",
                                               "YV12",   "YUY2",   "YUV9",  "YVYU",  "IYUV",
                                               "YV16",   "NV12",   "IUYV",  "IYU2"};

struct Yuv {
    uint8_t y, u, v;
};

}  // namespace

size_t FrameBytes(uint32_t format, uint32_t width, uint32_t height) {
    const size_t w = width, h = height;
    switch (format) {
        case ORVD_FORMAT_RGB555:
        case ORVD_FORMAT_RGB565:
        case ORVD_FORMAT_UYVY:
        case ORVD_FORMAT_YUY2:
        case ORVD_FORMAT_YVYU:
        case ORVD_FORMAT_IUYV:
            return 2 * w * h;
        case ORVD_FORMAT_RGB24:
        case ORVD_FORMAT_IYU2:
            return 3 * w * h;
        case ORVD_FORMAT_RGB32:
            return 4 * w * h;
        case ORVD_FORMAT_YV12:
        case ORVD_FORMAT_IYUV:
            return w * h + 2 * (w / 2) * (h / 2);
        case ORVD_FORMAT_YV16:
            return w * h + 2 * (w / 2) * h;
        case ORVD_FORMAT_NV12:
            return w * h + w * (h / 2);
        case ORVD_FORMAT_YUV9:
            return w * h + 2 * (w / 4) * (h / 4);
        default:
            return 0;
    }
}

int FormatByName(const char* name) {
    for (int i = 0; i < ORVD_FORMAT_COUNT; ++i) {
        if (strcasecmp(name, kNames[i]) == 0) return i;
    }
    return -1;
}

const char* FormatName(uint32_t format) {
    return format < ORVD_FORMAT_COUNT ? kNames[format] : "?";
}

PatternPixel PatternAt(uint32_t x, uint32_t y, uint32_t width, uint32_t height, uint32_t n) {
    // A box an eighth of the picture wide runs left to right, one pixel pair a frame.
    const uint32_t box = std::max(width / 8, 2u);
    const uint32_t box_x = (2 * n) % std::max(width - std::min(width, box) + 1, 1u);
    const uint32_t box_y = height / 2 - std::min(height / 2, box / 2);
    if (x >= box_x && x < box_x + box && y >= box_y && y < box_y + box) return {240, 240, 240};
    // Elsewhere gentle gradients: red across, green down, blue along the diagonal.
    const auto r = static_cast<uint8_t>(32 + 191 * x / std::max(width - 1, 1u));
    const auto g = static_cast<uint8_t>(32 + 191 * y / std::max(height - 1, 1u));
    const auto b = static_cast<uint8_t>(200 - 160 * (x + y) / std::max(width + height - 2, 1u));
    return {r, g, b};
}

void RgbToYuv(const PatternPixel& p, uint8_t* y, uint8_t* u, uint8_t* v) {
    auto clamp = [](double c) {
        return static_cast<uint8_t>(std::clamp(std::lround(c), 0L, 255L));
    };
    *y = clamp(16 + 0.257 * p.r + 0.504 * p.g + 0.098 * p.b);
    *u = clamp(128 - 0.148 * p.r - 0.291 * p.g + 0.439 * p.b);
    *v = clamp(128 + 0.439 * p.r - 0.368 * p.g - 0.071 * p.b);
}

std::vector<uint8_t> MakePatternFrame(uint32_t format, uint32_t width, uint32_t height,
                                      uint32_t n) {
    std::vector<uint8_t> out(FrameBytes(format, width, height));
    if (out.empty()) return out;
    const size_t w = width, h = height;
    std::vector<PatternPixel> rgb(w * h);
    std::vector<Yuv> yuv(w * h);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const size_t i = y * w + x;
            rgb[i] = PatternAt(x, y, width, height, n);
            RgbToYuv(rgb[i], &yuv[i].y, &yuv[i].u, &yuv[i].v);
        }
    }
    uint8_t* o = out.data();
    auto put16 = [](uint8_t* at, unsigned value) {
        at[0] = static_cast<uint8_t>(value);
        at[1] = static_cast<uint8_t>(value >> 8);
    };
    // Packed 4:2:2 rows: the four bytes of each pixel pair in the order given (0 Y0, 1 U, 2 Y1, 3
    // V).
    auto pack422 = [&](uint8_t* row_out, uint32_t y, const int order[4]) {
        for (uint32_t x = 0; x + 1 < width; x += 2) {
            const Yuv& a = yuv[y * w + x];
            const uint8_t values[4] = {a.y, a.u, yuv[y * w + x + 1].y, a.v};
            for (int k = 0; k < 4; ++k) row_out[2 * x + k] = values[order[k]];
        }
        if (width % 2 == 1) {  // a lone last pixel: its luma and its first chroma
            const Yuv& a = yuv[y * w + width - 1];
            const uint8_t values[4] = {a.y, a.u, a.y, a.v};
            const size_t last = 2 * (w - 1);
            row_out[last] = values[order[0]];
            row_out[last + 1] = values[order[1]];
        }
    };
    static const int kUyvy[4] = {1, 0, 3, 2};
    static const int kYuy2[4] = {0, 1, 2, 3};
    static const int kYvyu[4] = {0, 3, 2, 1};

    switch (format) {
        case ORVD_FORMAT_RGB555:
        case ORVD_FORMAT_RGB565:
            for (size_t i = 0; i < w * h; ++i) {
                const PatternPixel& p = rgb[i];
                put16(o + 2 * i, format == ORVD_FORMAT_RGB555
                                     ? ((p.r >> 3) << 10) | ((p.g >> 3) << 5) | (p.b >> 3)
                                     : ((p.r >> 3) << 11) | ((p.g >> 2) << 5) | (p.b >> 3));
            }
            break;
        case ORVD_FORMAT_RGB24:
        case ORVD_FORMAT_RGB32: {
            const size_t step = format == ORVD_FORMAT_RGB24 ? 3 : 4;
            for (size_t i = 0; i < w * h; ++i) {
                o[step * i] = rgb[i].b;
                o[step * i + 1] = rgb[i].g;
                o[step * i + 2] = rgb[i].r;
                if (step == 4) o[step * i + 3] = 0;
            }
            break;
        }
        case ORVD_FORMAT_UYVY:
        case ORVD_FORMAT_YUY2:
        case ORVD_FORMAT_YVYU: {
            const int* order = format == ORVD_FORMAT_UYVY   ? kUyvy
                               : format == ORVD_FORMAT_YUY2 ? kYuy2
                                                            : kYvyu;
            for (uint32_t y = 0; y < height; ++y) pack422(o + 2 * w * y, y, order);
            break;
        }
        case ORVD_FORMAT_IUYV:  // the even picture lines first, then the odd ones
            for (uint32_t y = 0; y < height; ++y) {
                const uint32_t row = y % 2 == 0 ? y / 2 : (height + 1) / 2 + y / 2;
                pack422(o + 2 * w * row, y, kUyvy);
            }
            break;
        case ORVD_FORMAT_IYU2:  // U Y V for every pixel
            for (size_t i = 0; i < w * h; ++i) {
                o[3 * i] = yuv[i].u;
                o[3 * i + 1] = yuv[i].y;
                o[3 * i + 2] = yuv[i].v;
            }
            break;
        case ORVD_FORMAT_YV12:
        case ORVD_FORMAT_IYUV:
        case ORVD_FORMAT_YV16:
        case ORVD_FORMAT_YUV9: {
            for (size_t i = 0; i < w * h; ++i) o[i] = yuv[i].y;
            const size_t step_x = format == ORVD_FORMAT_YUV9 ? 4 : 2;
            const size_t step_y = format == ORVD_FORMAT_YV16 ? 1 : step_x;
            const size_t cw = w / step_x, ch = h / step_y;
            uint8_t* first = o + w * h;
            uint8_t* second = first + cw * ch;
            const bool u_first = format == ORVD_FORMAT_IYUV;
            for (size_t y = 0; y < ch; ++y) {
                for (size_t x = 0; x < cw; ++x) {
                    const Yuv& s = yuv[y * step_y * w + x * step_x];
                    first[y * cw + x] = u_first ? s.u : s.v;
                    second[y * cw + x] = u_first ? s.v : s.u;
                }
            }
            break;
        }
        case ORVD_FORMAT_NV12: {
            for (size_t i = 0; i < w * h; ++i) o[i] = yuv[i].y;
            uint8_t* uv = o + w * h;
            for (size_t y = 0; y < h / 2; ++y) {
                for (size_t x = 0; x + 1 < w; x += 2) {
                    const Yuv& s = yuv[2 * y * w + x];
                    uv[y * w + x] = s.u;
                    uv[y * w + x + 1] = s.v;
                }
            }
            break;
        }
        default:
            break;
    }
    return out;
}

}  // namespace orvenna_play
