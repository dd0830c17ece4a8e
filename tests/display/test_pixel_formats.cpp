// The pixel-format records, the substitutes, and the plane layouts that the copy, the conversions
// and the backends' allocations must agree on.
#include <gtest/gtest.h>

#include <cstring>

#include "orvenna.h"
#include "pixel_formats.h"
#include "platform/surface_layout.h"

namespace orvenna {
namespace {

TEST(PixelFormatTable, HoldsTheRgbMasksAndFourCCsOfTheFourteenFormats) {
    struct Row {
        unsigned code;
        DWORD flags;
        const char* fourcc;
        DWORD bits, r, g, b;
    };
    const Row rows[] = {
        {0, 0x40, nullptr, 16, 0x7C00, 0x03E0, 0x001F},
        {1, 0x40, nullptr, 16, 0xF800, 0x07E0, 0x001F},
        {2, 0x40, nullptr, 24, 0xFF0000, 0x00FF00, 0x0000FF},
        {3, 0x40, nullptr, 32, 0xFF0000, 0x00FF00, 0x0000FF},
        {4, 4, "UYVY"},
        {5, 4, "YV12"},
        {6, 4, "YUY2"},
        {7, 4, "YUV9"},
        {8, 4, "YVYU"},
        {9, 4, "IYUV"},
        {10, 4, "YV16"},
        {11, 4, "NV12"},
        {12, 4, "IUYV"},
        {13, 4, "IYU2"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.code);
        const DDPIXELFORMAT& pf = kPixelFormatTable[row.code];
        EXPECT_EQ(pf.dwSize, 32u);
        EXPECT_EQ(pf.dwFlags, row.flags);
        DWORD fourcc = 0;
        if (row.fourcc != nullptr) std::memcpy(&fourcc, row.fourcc, 4);  // memory order
        EXPECT_EQ(pf.dwFourCC, fourcc);
        EXPECT_EQ(pf.dwRGBBitCount, row.bits);
        EXPECT_EQ(pf.dwRBitMask, row.r);
        EXPECT_EQ(pf.dwGBitMask, row.g);
        EXPECT_EQ(pf.dwBBitMask, row.b);
        EXPECT_EQ(pf.dwRGBAlphaBitMask, 0u);
        EXPECT_EQ(FormatFromPixelFormat(pf), static_cast<int>(row.code));
    }
}

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

TEST(Substitutes, AreTheTabledOnesAndNoneForTheRest) {
    const int expected[kPixelFormatCount] = {-1, -1, 3, -1, -1, 9, -1, -1, 6, 5, 5, -1, 4, 4};
    for (unsigned code = 0; code < kPixelFormatCount; ++code) {
        EXPECT_EQ(SubstituteFormat(code), expected[code]) << code;
    }
    EXPECT_EQ(SubstituteFormat(14), -1);
}

TEST(Substitutes, AreChosenOncePerEngine) {
    int32_t substitute = -1;
    EXPECT_FALSE(ChooseFallbackFormat(substitute, ORVD_FORMAT_UYVY));  // has none
    EXPECT_EQ(substitute, -1);
    EXPECT_TRUE(ChooseFallbackFormat(substitute, ORVD_FORMAT_RGB24));
    EXPECT_EQ(substitute, ORVD_FORMAT_RGB32);
    EXPECT_FALSE(ChooseFallbackFormat(substitute, ORVD_FORMAT_RGB24));  // already chosen
    EXPECT_FALSE(ChooseFallbackFormat(substitute, ORVD_FORMAT_YVYU));   // for another format
    EXPECT_EQ(substitute, ORVD_FORMAT_RGB32);
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

TEST(SurfaceLayout, PutsTheYv12PlanesAtTheFullAndHalfPitch) {
    PlaneLayout l;
    ASSERT_TRUE(SurfacePlanes(ORVD_FORMAT_YV12, 640, 480, 704, &l));
    ASSERT_EQ(l.count, 3);
    EXPECT_EQ(l.offset[1], 704u * 480);
    EXPECT_EQ(l.offset[2], 704u * 480 + 352 * 240);
    EXPECT_EQ(l.pitch[1], 352);
    EXPECT_EQ(l.rows[1], 240u);
    EXPECT_EQ(l.row_bytes[1], 320u);
    EXPECT_FALSE(SurfacePlanes(ORVD_FORMAT_RGB32, 640, 480, 2559, &l));  // pitch below the row
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

}  // namespace
}  // namespace orvenna
