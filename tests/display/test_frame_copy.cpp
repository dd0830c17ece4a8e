// Bytes that a frame leaves in locked surface memory, for every format and each substitute
// surface, with padded pitches, odd sizes and surfaces that do not fit the frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "frame_copy.h"
#include "orvenna.h"
#include "platform/surface_layout.h"

namespace orvenna {
namespace {

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
    bool Untouched() const {
        return std::all_of(memory.begin(), memory.end(), [](uint8_t b) { return b == kUntouched; });
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
                SCOPED_TRACE(testing::Message() << "format " << format << " " << size[0] << "x"
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

// A substitute of one packed plane, from a frame whose bytes count 0, 1, 2, ...: the bytes of each
// surface row, and the padding behind them untouched.
TEST(FrameCopy, PackedSubstitutesReceiveTheirOwnLayout) {
    auto seq = [](uint8_t from, uint8_t count) {
        std::vector<uint8_t> bytes(count);
        for (uint8_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(from + i);
        return bytes;
    };
    struct Case {
        const char* what;
        unsigned from, to;
        uint32_t width, height;
        ptrdiff_t pitch;
        std::vector<std::vector<uint8_t>> rows;
    };
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
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestFrame frame(c.from, c.width, c.height);
        for (size_t i = 0; i < frame.bytes.size(); ++i) frame.bytes[i] = static_cast<uint8_t>(i);
        TestSurface surface(c.to, c.width, c.height, c.pitch);
        ASSERT_TRUE(CopyFrame(frame.src, surface.mem));
        for (size_t r = 0; r < c.rows.size(); ++r) {
            EXPECT_EQ(Bytes(surface.Row(0, r), c.rows[r].size()), c.rows[r]) << "row " << r;
            EXPECT_EQ(surface.Row(0, r)[c.rows[r].size()], kUntouched) << "row " << r;
        }
        EXPECT_TRUE(surface.GuardIntact());
    }
}

TEST(FrameCopy, Yv16OnYv12AveragesPairsOfChromaRows) {
    TestFrame frame(ORVD_FORMAT_YV16, 4, 5);
    const uint8_t v_rows[5] = {10, 20, 30, 41, 50};
    const uint8_t u_rows[5] = {100, 110, 120, 130, 140};
    for (int r = 0; r < 5; ++r) {
        std::fill_n(&frame.bytes[20 + r * 2], 2, v_rows[r]);
        std::fill_n(&frame.bytes[30 + r * 2], 2, u_rows[r]);
    }
    TestSurface surface(ORVD_FORMAT_YV12, 4, 5, 8);
    ASSERT_TRUE(CopyFrame(frame.src, surface.mem));
    for (int r = 0; r < 5; ++r) EXPECT_EQ(Bytes(surface.Row(0, r), 4), Bytes(frame.Row(0, r), 4));
    // Three chroma rows for an odd height: the last frame row stands alone.
    const uint8_t v_expected[3] = {15, 36, 50};
    const uint8_t u_expected[3] = {105, 125, 140};
    for (int r = 0; r < 3; ++r) {
        EXPECT_EQ(Bytes(surface.Row(1, r), 2), std::vector<uint8_t>(2, v_expected[r])) << r;
        EXPECT_EQ(Bytes(surface.Row(2, r), 2), std::vector<uint8_t>(2, u_expected[r])) << r;
    }
    EXPECT_TRUE(surface.GuardIntact());
}

TEST(FrameCopy, Yv12AndIyuvSubstitutesReceiveTheChromaPlanesInTheirOwnOrder) {
    const unsigned pairs[][2] = {{ORVD_FORMAT_YV12, ORVD_FORMAT_IYUV},
                                 {ORVD_FORMAT_IYUV, ORVD_FORMAT_YV12}};
    for (const auto& pair : pairs) {
        TestFrame frame(pair[0], 8, 4);
        TestSurface surface(pair[1], 8, 4, 12);
        ASSERT_TRUE(CopyFrame(frame.src, surface.mem));
        for (int r = 0; r < 4; ++r)
            EXPECT_EQ(Bytes(surface.Row(0, r), 8), Bytes(frame.Row(0, r), 8));
        for (int r = 0; r < 2; ++r) {
            EXPECT_EQ(Bytes(surface.Row(1, r), 4), Bytes(frame.Row(2, r), 4));
            EXPECT_EQ(Bytes(surface.Row(2, r), 4), Bytes(frame.Row(1, r), 4));
        }
        EXPECT_TRUE(surface.GuardIntact());
    }
}

TEST(FrameCopy, CopiesNothingWhereThereIsNoRule) {
    const unsigned pairs[][2] = {
        {ORVD_FORMAT_YUV9, ORVD_FORMAT_YUV9},  // never copied: the surface keeps its content
        {ORVD_FORMAT_UYVY, ORVD_FORMAT_RGB32}, {ORVD_FORMAT_IUYV, ORVD_FORMAT_YUY2},
        {ORVD_FORMAT_IYU2, ORVD_FORMAT_YV12},  {ORVD_FORMAT_RGB32, ORVD_FORMAT_RGB24},
    };
    for (const auto& pair : pairs) {
        TestFrame frame(pair[0], 16, 8);
        TestSurface surface(pair[1], 16, 8, 64);
        EXPECT_FALSE(CopyFrame(frame.src, surface.mem)) << pair[0] << " on " << pair[1];
        EXPECT_TRUE(surface.Untouched()) << pair[0] << " on " << pair[1];
    }
}

TEST(FrameCopy, NeverWritesPastTheSurface) {
    {  // a frame larger than its surface: the part the surface holds
        TestFrame frame(ORVD_FORMAT_RGB24, 64, 48);
        TestSurface surface(ORVD_FORMAT_RGB32, 32, 16, 128);
        ASSERT_TRUE(CopyFrame(frame.src, surface.mem));
        EXPECT_EQ(surface.Row(0, 15)[0], frame.Row(0, 15)[0]);
        EXPECT_TRUE(surface.GuardIntact());
    }
    {  // a surface whose memory is smaller than its description
        TestFrame frame(ORVD_FORMAT_NV12, 32, 16);
        TestSurface surface(ORVD_FORMAT_NV12, 32, 16, 32);
        surface.mem.capacity -= 1;
        EXPECT_FALSE(CopyFrame(frame.src, surface.mem));
        EXPECT_TRUE(surface.Untouched());
    }
    {  // a pitch below the row
        TestFrame frame(ORVD_FORMAT_UYVY, 32, 16);
        TestSurface surface(ORVD_FORMAT_UYVY, 32, 16, 64);
        surface.mem.pitch = 60;
        EXPECT_FALSE(CopyFrame(frame.src, surface.mem));
        EXPECT_TRUE(surface.Untouched());
    }
    {  // no source or no surface memory
        TestFrame frame(ORVD_FORMAT_RGB565, 8, 8);
        TestSurface surface(ORVD_FORMAT_RGB565, 8, 8, 16);
        FrameSource no_bytes = frame.src;
        no_bytes.bytes = nullptr;
        EXPECT_FALSE(CopyFrame(no_bytes, surface.mem));
        SurfaceView no_memory = surface.mem;
        no_memory.bytes = nullptr;
        EXPECT_FALSE(CopyFrame(frame.src, no_memory));
        EXPECT_TRUE(surface.Untouched());
    }
}

}  // namespace
}  // namespace orvenna
