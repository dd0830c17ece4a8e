// Recognising pixel formats, and the frame and plane layouts that the copy, the conversions and
// the backends' allocations must agree on.
#include <gtest/gtest.h>

#include <cstring>

#include "orvenna.h"
#include "pixel_formats.h"
#include "platform/surface_layout.h"

namespace orvenna {
namespace {

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

}  // namespace
}  // namespace orvenna
