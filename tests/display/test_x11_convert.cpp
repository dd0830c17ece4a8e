// The x11 device's conversions against a reference BT.601 conversion, and its scaling, clipping
// and fills.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "orvenna.h"
#include "frame_copy.h"
#include "platform/surface_layout.h"
#include "platform/x11_convert.h"
#include "reference_colour.h"

namespace orvenna::platform {
namespace {

constexpr int kTolerance = 3;  // per channel, against the floating-point reference

using testing::Distance;
using testing::Expected;
using testing::Rgb;

// Pattern frame 0 copied into surface memory of its own format with a padded pitch, as the
// engine gives it to the conversion.
struct Picture {
    Picture(unsigned format_in, uint32_t w, uint32_t h)
        : format(format_in), frame(orvenna_play::MakePatternFrame(format_in, w, h, 0)) {
        const SurfaceLayout alloc = ComputeSurfaceLayout(kPixelFormatTable[format], w, h, 8);
        PlaneLayout layout;
        EXPECT_TRUE(SurfacePlanes(format, w, h, alloc.lPitch, &layout));
        memory.assign(layout.bytes, 0);
        mem = {memory.data(), alloc.lPitch, w, h, format, layout.bytes};
        EXPECT_TRUE(CopyFrame(FrameSource{frame.data(), w, h, format}, mem));
    }
    Rgb Reference(uint32_t x, uint32_t y) const {
        return Expected(format, x, y, mem.width, mem.height, 0);
    }

    unsigned format;
    std::vector<uint8_t> frame;
    std::vector<uint8_t> memory;
    SurfaceView mem;
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
            Picture picture(format, size.first, size.second);
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
        const bool yuv = picture.format > ORVD_FORMAT_RGB32;
        const bool planar = picture.format == ORVD_FORMAT_YV12 ||
                            picture.format == ORVD_FORMAT_IYUV || picture.format == ORVD_FORMAT_NV12;
        int worst = 0;
        for (int y = 0; y < (planar ? h & ~1 : h); ++y) {
            for (int x = 0; x < (yuv ? w & ~1 : w); ++x) {
                worst = std::max(worst, Distance(target.At(x, y), picture.Reference(x, y)));
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
        bytes[i] = left ? 0 : 255, bytes[i + 1] = 0, bytes[i + 2] = left ? 255 : 0, bytes[i + 3] = 0;
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
    Target target(8, 4);
    FillXrgb(target.image, RECT{-2, 2, 3, 9}, 0x00102030);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 8; ++x) {
            const uint32_t want = (x < 3 && y >= 2) ? 0x00102030u : 0x5A5A5A5Au;
            uint32_t got;
            std::memcpy(&got, &target.pixels[static_cast<size_t>(y) * 32 + x * 4], 4);
            EXPECT_EQ(got, want) << x << "," << y;
        }
    }
}

}  // namespace
}  // namespace orvenna::platform
