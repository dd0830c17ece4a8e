// Pixel formats and the layouts that the copy, the conversions and the backends' allocations must
// agree on; the bytes that a frame leaves in locked surface memory, for every format and each
// substitute surface, with padded pitches, odd sizes and surfaces that do not fit the frame; and
// the x11 device's conversions against a reference BT.601 conversion, its scaling, clipping and
// fills.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "frame_copy.h"
#include "orvenna.h"
#include "pixel_formats.h"
#include "platform/surface_layout.h"
#include "platform/x11_convert.h"
#include "reference_colour.h"

namespace orvenna {
namespace {

using platform::ConvertAndScale;
using platform::ConvertScratch;
using platform::X11CanConvert;
using platform::XrgbImage;
using testing::Distance;
using testing::Rgb;

TEST(PixelFormatTable, DoesNotRecogniseOtherFormats) {
    DDPIXELFORMAT pf = kPixelFormatTable[ORVD_FORMAT_UYVY];
    pf.dwFourCC = MAKEFOURCC('A', 'Y', 'U', 'V');
    EXPECT_EQ(FormatFromPixelFormat(pf), -1);
    pf = kPixelFormatTable[ORVD_FORMAT_RGB32];
    pf.dwRBitMask = 0x0000FF;  // BGR order
    pf.dwBBitMask = 0xFF0000;
    EXPECT_EQ(FormatFromPixelFormat(pf), -1);
    EXPECT_EQ(FormatFromPixelFormat(DDPIXELFORMAT{}), -1);
}

TEST(FrameLayout, PacksRowsAndRoundsOddHalvesDown) {
    struct Row {
        unsigned format;
        uint32_t w, h;
        size_t bytes;
    };
    const Row rows[] = {
        {ORVD_FORMAT_RGB555, 641, 3, 2 * 641 * 3},
        {ORVD_FORMAT_RGB24, 641, 3, 3 * 641 * 3},
        {ORVD_FORMAT_RGB32, 5, 2, 40},
        {ORVD_FORMAT_UYVY, 641, 2, 2 * 641 * 2},
        {ORVD_FORMAT_YV12, 640, 480, 640 * 480 + 480 * 320},
        {ORVD_FORMAT_IYUV, 641, 481, 641 * 481 + 2 * 240 * 320},
        {ORVD_FORMAT_YV16, 641, 5, 641 * 5 + 2 * 5 * 320},
        {ORVD_FORMAT_NV12, 641, 481, 641 * 481 + 240 * 641},
        {ORVD_FORMAT_IUYV, 4, 3, 24},
        {ORVD_FORMAT_IYU2, 3, 2, 18},
        {ORVD_FORMAT_YUV9, 64, 64, 0},  // never read
        {14, 64, 64, 0},
        {ORVD_FORMAT_RGB32, 32769, 1, 0},  // too large
    };
    for (const Row& row : rows) {
        EXPECT_EQ(FrameByteCount(row.format, row.w, row.h), row.bytes)
            << row.format << " " << row.w << "x" << row.h;
    }
}

// The copy checks its writes against the bytes the backends allocate: both must describe the
// same memory for every format, including odd sizes and padded pitches.
TEST(SurfaceLayout, EndsWhereTheBackendsAllocationEnds) {
    const uint32_t sizes[][2] = {{640, 480}, {641, 481}, {1, 1}, {3, 7}, {1920, 1080}, {5, 2}};
    for (unsigned code = 0; code < kPixelFormatCount; ++code) {
        for (const auto& size : sizes) {
            for (DWORD padding : {0u, 12u, 64u}) {
                const platform::SurfaceLayout alloc = platform::ComputeSurfaceLayout(
                    kPixelFormatTable[code], size[0], size[1], padding);
                ASSERT_TRUE(alloc.bKnown);
                PlaneLayout l;
                ASSERT_TRUE(SurfacePlanes(code, size[0], size[1], alloc.lPitch, &l))
                    << code << " " << size[0] << "x" << size[1];
                EXPECT_EQ(l.bytes, alloc.nBytes) << code << " " << size[0] << "x" << size[1];
                for (int p = 0; p < l.count; ++p) {
                    EXPECT_LE(l.row_bytes[p], static_cast<uint32_t>(l.pitch[p])) << code;
                }
            }
        }
    }
}

constexpr uint8_t kUntouched = 0xEE;
constexpr size_t kGuard = 64;

// Surface memory as a backend would allocate it, with a guard zone behind it.
struct TestSurface {
    TestSurface(unsigned format, uint32_t width, uint32_t height, ptrdiff_t pitch) {
        EXPECT_TRUE(SurfacePlanes(format, width, height, pitch, &layout));
        memory.assign(layout.bytes + kGuard, kUntouched);
        mem = {memory.data(), pitch, width, height, format, layout.bytes};
    }
    // The pitch a backend gives: rows 4-byte aligned plus `padding`.
    static ptrdiff_t PitchFor(unsigned format, uint32_t width, DWORD padding) {
        return platform::ComputeSurfaceLayout(kPixelFormatTable[format], width, 1, padding).lPitch;
    }
    const uint8_t* Row(int plane, size_t row) const {
        return memory.data() + layout.offset[plane] + row * layout.pitch[plane];
    }
    bool GuardIntact() const {
        return std::all_of(memory.begin() + static_cast<ptrdiff_t>(layout.bytes), memory.end(),
                           [](uint8_t b) { return b == kUntouched; });
    }

    PlaneLayout layout;
    std::vector<uint8_t> memory;
    SurfaceView mem;
};

struct TestFrame {
    TestFrame(unsigned format, uint32_t width, uint32_t height)
        : bytes(std::max<size_t>(FrameByteCount(format, width, height), 1)),
          src{bytes.data(), width, height, format} {
        EXPECT_TRUE(FramePlanes(format, width, height, &layout));
        // No period that a row length could hide a shifted row behind.
        for (size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
        }
    }
    const uint8_t* Row(int plane, size_t row) const {
        return bytes.data() + layout.offset[plane] + row * layout.pitch[plane];
    }

    std::vector<uint8_t> bytes;
    FrameSource src;
    PlaneLayout layout;
};

std::vector<uint8_t> Bytes(const uint8_t* p, size_t n) {
    return {p, p + n};
}

// Every format on a surface of its own format: each plane row by row at the surface's pitch.
// RGB24 and RGB32 included: their rows used to go as one block that ignored a padded pitch.
TEST(FrameCopy, OwnFormatSurfacesReceiveEveryPlaneAtThePitch) {
    const unsigned formats[] = {0, 1, 2, 3, 4, 5, 6, 8, 9, 10, 11, 12, 13};
    const uint32_t sizes[][2] = {{64, 48}, {63, 47}, {641, 3}};
    for (unsigned format : formats) {
        for (const auto& size : sizes) {
            for (DWORD padding : {0u, 20u}) {
                SCOPED_TRACE(::testing::Message() << "format " << format << " " << size[0] << "x"
                                                  << size[1] << " padding " << padding);
                TestFrame frame(format, size[0], size[1]);
                TestSurface surface(format, size[0], size[1],
                                    TestSurface::PitchFor(format, size[0], padding));
                ASSERT_TRUE(CopyFrame(frame.src, surface.mem));
                for (int p = 0; p < surface.layout.count; ++p) {
                    const uint32_t len =
                        std::min(frame.layout.row_bytes[p], surface.layout.row_bytes[p]);
                    for (uint32_t r = 0; r < surface.layout.rows[p]; ++r) {
                        // A surface chroma row beyond the frame's (odd height) repeats its last.
                        const uint32_t from = std::min(r, frame.layout.rows[p] - 1);
                        ASSERT_EQ(Bytes(surface.Row(p, r), len), Bytes(frame.Row(p, from), len))
                            << "plane " << p << " row " << r;
                        const uint8_t* end = surface.Row(p, r) + len;
                        ASSERT_TRUE(std::all_of(end, surface.Row(p, r) + surface.layout.pitch[p],
                                                [](uint8_t b) { return b == kUntouched; }))
                            << "padding of plane " << p << " row " << r;
                    }
                }
                EXPECT_TRUE(surface.GuardIntact());
            }
        }
    }
}

// A substitute, from a frame whose bytes count 0, 1, 2, ...: the bytes of each surface row, plane
// after plane, and the padding behind them untouched.
TEST(FrameCopy, SubstitutesReceiveTheirOwnLayout) {
    auto seq = [](uint8_t from, uint8_t count) {
        std::vector<uint8_t> bytes(count);
        for (uint8_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(from + i);
        return bytes;
    };
    // 8 x 4 YV12 and IYUV on each other: the luma rows, then the chroma planes exchanged.
    const std::vector<std::vector<uint8_t>> exchanged{seq(0, 8),  seq(8, 8),  seq(16, 8),
                                                      seq(24, 8), seq(40, 4), seq(44, 4),
                                                      seq(32, 4), seq(36, 4)};
    struct Case {
        const char* what;
        unsigned from, to;
        uint32_t width, height;
        ptrdiff_t pitch;
        std::vector<std::vector<uint8_t>> rows;
    };
    // clang-format off
    const Case cases[] = {
        {"RGB24 on RGB32: B, G, R, 0", ORVD_FORMAT_RGB24, ORVD_FORMAT_RGB32, 3, 2, 16,
         {{0, 1, 2, 0, 3, 4, 5, 0, 6, 7, 8, 0}, {9, 10, 11, 0, 12, 13, 14, 0, 15, 16, 17, 0}}},
        // Odd width: the lone last pixel is copied as it is.
        {"YVYU on YUY2: bytes 1 and 3 exchanged", ORVD_FORMAT_YVYU, ORVD_FORMAT_YUY2, 5, 2, 12,
         {{0, 3, 2, 1, 4, 7, 6, 5, 8, 9}, {10, 13, 12, 11, 14, 17, 16, 15, 18, 19}}},
        // Odd width: each frame row is 15 bytes and the last pixel has no partner.
        {"IYU2 on UYVY: the first chroma of each pair", ORVD_FORMAT_IYU2, ORVD_FORMAT_UYVY, 5, 2,
         12, {{0, 1, 2, 4, 6, 7, 8, 10}, {15, 16, 17, 19, 21, 22, 23, 25}}},
        {"IUYV on UYVY: the even lines, then the odd lines", ORVD_FORMAT_IUYV, ORVD_FORMAT_UYVY, 2,
         4, 8, {seq(0, 4), seq(8, 4), seq(4, 4), seq(12, 4)}},
        {"IUYV of odd height", ORVD_FORMAT_IUYV, ORVD_FORMAT_UYVY, 2, 5, 8,
         {seq(0, 4), seq(12, 4), seq(4, 4), seq(16, 4), seq(8, 4)}},
        // Chroma rows 3 apart: an average of .5 rounds up; the last row of an odd height alone.
        {"YV16 on YV12: pairs of chroma rows averaged", ORVD_FORMAT_YV16, ORVD_FORMAT_YV12, 6, 5, 8,
         {seq(0, 6), seq(6, 6), seq(12, 6), seq(18, 6), seq(24, 6), seq(32, 3), seq(38, 3),
          seq(42, 3), seq(47, 3), seq(53, 3), seq(57, 3)}},
        {"YV12 on IYUV", ORVD_FORMAT_YV12, ORVD_FORMAT_IYUV, 8, 4, 12, exchanged},
        {"IYUV on YV12", ORVD_FORMAT_IYUV, ORVD_FORMAT_YV12, 8, 4, 12, exchanged},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestFrame frame(c.from, c.width, c.height);
        for (size_t i = 0; i < frame.bytes.size(); ++i) frame.bytes[i] = static_cast<uint8_t>(i);
        TestSurface surface(c.to, c.width, c.height, c.pitch);
        ASSERT_TRUE(CopyFrame(frame.src, surface.mem));
        size_t i = 0;
        for (int p = 0; p < surface.layout.count; ++p) {
            for (uint32_t r = 0; r < surface.layout.rows[p]; ++r, ++i) {
                ASSERT_LT(i, c.rows.size());
                EXPECT_EQ(Bytes(surface.Row(p, r), c.rows[i].size()), c.rows[i]) << "row " << i;
                EXPECT_EQ(surface.Row(p, r)[c.rows[i].size()], kUntouched) << "row " << i;
            }
        }
        EXPECT_EQ(i, c.rows.size());
        EXPECT_TRUE(surface.GuardIntact());
    }
}

TEST(FrameCopy, CopiesThePartThatASmallerSurfaceHolds) {
    TestFrame frame(ORVD_FORMAT_RGB24, 64, 48);
    TestSurface surface(ORVD_FORMAT_RGB32, 32, 16, 128);
    ASSERT_TRUE(CopyFrame(frame.src, surface.mem));
    EXPECT_EQ(surface.Row(0, 15)[0], frame.Row(0, 15)[0]);
    EXPECT_TRUE(surface.GuardIntact());
}

// Refused, with nothing copied: pairs without a rule, a YUV9 frame (never copied: the surface
// keeps its content), and frames or surfaces that cannot be read or written whole.
TEST(FrameCopy, CopiesNothingWhereThereIsNoRuleOrNoRoom) {
    enum Spoil { kNothing, kSmallerMemory, kPitchBelowTheRow, kNoFrameBytes, kNoSurfaceMemory };
    struct Case {
        unsigned from, to;
        Spoil spoil;
    };
    const Case cases[] = {
        {ORVD_FORMAT_YUV9, ORVD_FORMAT_YUV9, kNothing},
        {ORVD_FORMAT_UYVY, ORVD_FORMAT_RGB32, kNothing},
        {ORVD_FORMAT_IUYV, ORVD_FORMAT_YUY2, kNothing},
        {ORVD_FORMAT_IYU2, ORVD_FORMAT_YV12, kNothing},
        {ORVD_FORMAT_RGB32, ORVD_FORMAT_RGB24, kNothing},
        {ORVD_FORMAT_NV12, ORVD_FORMAT_NV12, kSmallerMemory},
        {ORVD_FORMAT_UYVY, ORVD_FORMAT_UYVY, kPitchBelowTheRow},
        {ORVD_FORMAT_RGB565, ORVD_FORMAT_RGB565, kNoFrameBytes},
        {ORVD_FORMAT_RGB565, ORVD_FORMAT_RGB565, kNoSurfaceMemory},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.from << " on " << c.to << ", spoilt " << c.spoil);
        TestFrame frame(c.from, 16, 8);
        TestSurface surface(c.to, 16, 8, 64);
        if (c.spoil == kSmallerMemory) surface.mem.capacity -= 1;
        if (c.spoil == kPitchBelowTheRow) surface.mem.pitch = 30;
        if (c.spoil == kNoFrameBytes) frame.src.bytes = nullptr;
        if (c.spoil == kNoSurfaceMemory) surface.mem.bytes = nullptr;
        EXPECT_FALSE(CopyFrame(frame.src, surface.mem));
        EXPECT_EQ(surface.memory, std::vector<uint8_t>(surface.memory.size(), kUntouched));
    }
}

constexpr int kTolerance = 3;  // per channel, against the floating-point reference

// Pattern frame 0 copied into surface memory of its own format with a padded pitch, as the
// engine gives it to the conversion.
struct Picture : TestSurface {
    Picture(unsigned format, uint32_t w, uint32_t h)
        : TestSurface(format, w, h, PitchFor(format, w, 8)),
          frame(orvenna_play::MakePatternFrame(format, w, h, 0)) {
        EXPECT_TRUE(CopyFrame(FrameSource{frame.data(), w, h, format}, mem));
    }

    std::vector<uint8_t> frame;
};

struct Target {
    Target(int w, int h, uint8_t fill = 0x5A)
        : pixels(static_cast<size_t>(w) * 4 * h + 64, fill), image{pixels.data(), w * 4, w, h} {}
    Rgb At(int x, int y) const {
        const uint8_t* p = &pixels[static_cast<size_t>(y) * image.stride + x * 4];
        return {p[2], p[1], p[0]};
    }
    std::vector<uint8_t> pixels;
    XrgbImage image;
};

// Runs `check` on a picture of every accepted format, in an even and an odd size.
template <typename Check>
void ForEveryAcceptedPicture(Check check) {
    for (unsigned format = 0; format < kPixelFormatCount; ++format) {
        if (!X11CanConvert(format)) continue;
        for (const auto& size : {std::pair{64u, 48u}, std::pair{37u, 21u}}) {
            SCOPED_TRACE(::testing::Message()
                         << "format " << format << " " << size.first << "x" << size.second);
            const Picture picture(format, size.first, size.second);
            check(picture, size);
        }
    }
}

TEST(X11Convert, MatchesTheReferenceConversionForEveryAcceptedFormat) {
    ForEveryAcceptedPicture([](const Picture& picture, std::pair<uint32_t, uint32_t> size) {
        const int w = static_cast<int>(size.first), h = static_cast<int>(size.second);
        Target target(w, h);
        ConvertScratch scratch;
        ASSERT_TRUE(ConvertAndScale(picture.mem, target.image, RECT{0, 0, w, h}, scratch));
        // At an odd size the YUV frame formats hold no chroma for the last column (and, where
        // two lines share it, the last line).
        const bool yuv = picture.mem.format > ORVD_FORMAT_RGB32;
        const bool planar = picture.mem.format == ORVD_FORMAT_YV12 ||
                            picture.mem.format == ORVD_FORMAT_IYUV ||
                            picture.mem.format == ORVD_FORMAT_NV12;
        int worst = 0;
        for (int y = 0; y < (planar ? h & ~1 : h); ++y) {
            for (int x = 0; x < (yuv ? w & ~1 : w); ++x) {
                const Rgb want = testing::Expected(picture.mem.format, x, y, w, h, 0);
                worst = std::max(worst, Distance(target.At(x, y), want));
            }
        }
        EXPECT_LE(worst, kTolerance);
        EXPECT_EQ(target.pixels[static_cast<size_t>(w) * 4 * h], 0x5A);  // nothing past it
    });
}

TEST(X11Convert, ScalesBilinearlyKeepingFlatAreasFlat) {
    // Left half red, right half blue, scaled up 2.5 times and down to a third.
    std::vector<uint8_t> bytes(40 * 20 * 4);
    for (size_t i = 0; i < bytes.size(); i += 4) {
        const bool left = i % 160 < 80;
        bytes[i] = left ? 0 : 255, bytes[i + 1] = 0, bytes[i + 2] = left ? 255 : 0,
        bytes[i + 3] = 0;
    }
    const SurfaceView picture{bytes.data(), 160, 40, 20, ORVD_FORMAT_RGB32, bytes.size()};
    auto near = [](int got, int want) { return std::abs(got - want) <= kTolerance; };
    for (int w : {100, 13}) {
        SCOPED_TRACE(w);
        const int h = w / 2;
        Target target(w, h);
        ConvertScratch scratch;
        ASSERT_TRUE(ConvertAndScale(picture, target.image, RECT{0, 0, w, h}, scratch));
        for (auto [x, y] : {std::pair{0, 0}, std::pair{w / 4, h / 2}}) {
            EXPECT_TRUE(near(target.At(x, y).r, 255) && near(target.At(x, y).b, 0)) << x;
        }
        for (auto [x, y] : {std::pair{w - 1, h - 1}, std::pair{3 * w / 4, h / 2}}) {
            EXPECT_TRUE(near(target.At(x, y).b, 255) && near(target.At(x, y).r, 0)) << x;
        }
        // At the border the two blend.
        const Rgb mid = target.At(w / 2, h / 2);
        EXPECT_TRUE(near(mid.r + mid.b, 255)) << mid.r << " " << mid.b;
    }
}

// A destination reaching past the image, or limited to a part, draws exactly that part of what
// the whole destination would show, and nothing else: only the source the part reads is
// converted, so every plane's offset into it must be right.
TEST(X11Convert, ClipsTheDestinationToTheImageAndToAPart) {
    ForEveryAcceptedPicture([](const Picture& picture, std::pair<uint32_t, uint32_t>) {
        ConvertScratch scratch;
        Target whole(200, 150);
        ASSERT_TRUE(ConvertAndScale(picture.mem, whole.image, RECT{0, 0, 200, 150}, scratch));
        // Partly left of and above the image; partly right and below; the image limited to
        // its right part, and to a band in the middle.
        struct Row {
            RECT into;
            RECT part;
        };
        for (const Row& row :
             {Row{{-30, -20, 170, 130}, {0, 0, 100, 80}}, Row{{40, 30, 240, 180}, {0, 0, 100, 80}},
              Row{{-100, -70, 100, 80}, {57, 0, 100, 80}},
              Row{{-100, 0, 100, 150}, {0, 33, 100, 61}}}) {
            Target clipped(100, 80);
            ConvertScratch fresh;  // nothing left over from the whole conversion
            ASSERT_TRUE(ConvertAndScale(picture.mem, clipped.image, row.into, fresh, &row.part));
            for (int y = 0; y < 80; ++y) {
                for (int x = 0; x < 100; ++x) {
                    const int wx = x - row.into.left, wy = y - row.into.top;
                    const bool inside = wx >= 0 && wy >= 0 && wx < 200 && wy < 150 &&
                                        x >= row.part.left && x < row.part.right &&
                                        y >= row.part.top && y < row.part.bottom;
                    const uint8_t* got = &clipped.pixels[static_cast<size_t>(y) * 400 + x * 4];
                    if (inside) {
                        const uint8_t* want = &whole.pixels[static_cast<size_t>(wy) * 800 + wx * 4];
                        ASSERT_TRUE(std::equal(got, got + 3, want)) << x << "," << y;
                    } else {
                        ASSERT_EQ(got[0], 0x5A) << x << "," << y;
                    }
                }
            }
        }
    });
    Picture picture(ORVD_FORMAT_UYVY, 64, 48);
    ConvertScratch scratch;
    // The same size as the source with a clip, and a destination wholly outside.
    Target same(64, 48);
    ASSERT_TRUE(ConvertAndScale(picture.mem, same.image, RECT{0, 0, 64, 48}, scratch));
    Target shifted(64, 48);
    ASSERT_TRUE(ConvertAndScale(picture.mem, shifted.image, RECT{-10, 5, 54, 53}, scratch));
    EXPECT_TRUE(
        std::equal(&shifted.pixels[5 * 256], &shifted.pixels[5 * 256 + 3], &same.pixels[10 * 4]));
    Target outside(16, 16);
    EXPECT_TRUE(ConvertAndScale(picture.mem, outside.image, RECT{20, 20, 40, 40}, scratch));
    EXPECT_TRUE(std::all_of(outside.pixels.begin(), outside.pixels.end(),
                            [](uint8_t b) { return b == 0x5A; }));
}

TEST(X11Convert, RefusesSourcesItCannotReadAndDrawsNothing) {
    Picture picture(ORVD_FORMAT_YV12, 32, 16);
    picture.mem.capacity -= 1;  // smaller than its layout
    Target target(32, 16);
    ConvertScratch scratch;
    EXPECT_FALSE(ConvertAndScale(picture.mem, target.image, RECT{0, 0, 32, 16}, scratch));
    EXPECT_FALSE(ConvertAndScale(Picture(ORVD_FORMAT_YV12, 32, 16).mem, target.image,
                                 RECT{0, 0, 0, 16}, scratch));
    // A format it does not convert (the engine takes a substitute for it).
    std::vector<uint8_t> bytes(48, 1);
    EXPECT_FALSE(X11CanConvert(ORVD_FORMAT_RGB24));
    EXPECT_FALSE(ConvertAndScale(SurfaceView{bytes.data(), 12, 4, 4, ORVD_FORMAT_RGB24, 48},
                                 target.image, RECT{0, 0, 4, 4}, scratch));
    EXPECT_TRUE(std::all_of(target.pixels.begin(), target.pixels.end(),
                            [](uint8_t b) { return b == 0x5A; }));
}

TEST(X11Convert, FillsOnlyTheVisiblePartOfARectangle) {
    Target target(8, 4), want(8, 4);
    platform::FillXrgb(target.image, RECT{-2, 2, 3, 9}, 0x00102030);
    for (size_t y = 2; y < 4; ++y) {
        for (size_t x = 0; x < 3; ++x) std::memcpy(&want.pixels[y * 32 + x * 4], "\x30\x20\x10", 4);
    }
    EXPECT_EQ(target.pixels, want.pixels);
}

}  // namespace
}  // namespace orvenna
