// The fast conversion against the plain reference, byte for byte: picture, table, counters and
// the bounds and means, over many random and structured frames in every mode.
#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "agc_frames.h"
#include "agc_harness.h"

namespace kx::agc {
namespace {

using testing::Block;
using testing::FirstDifference;
using testing::ReferenceRun;

void ExpectModeSameAsReference(int32_t mode, uint32_t width, uint32_t height,
                               const std::vector<uint16_t>& image) {
    const testing::Expected want = ReferenceRun(mode, width, height, image);
    Block block(width, height, mode);
    ASSERT_EQ(block.Created(), AGC_OK);
    const std::vector<uint8_t> gray = block.Process(image);
    ASSERT_EQ(block.Result(), AGC_OK);
    EXPECT_EQ(FirstDifference(gray.data(), want.gray.data(), gray.size()), "") << "picture";
    EXPECT_EQ(FirstDifference(block.Lut(), want.lut.data(), kValues), "") << "table";
    EXPECT_EQ(FirstDifference(block.Hist(), want.hist.data(), kValues), "") << "counters";

    std::vector<uint16_t> hist(kValues);
    CountValues(image.data(), image.size(), hist.data());
    const Stats s = FindStats(hist.data(), testing::TuningAfterCreate(mode), width, height);
    const Stats& r = want.stats;
    EXPECT_EQ(std::vector<int>({s.low, s.high, s.peak, s.mean, s.lowMean, s.highMean}),
              std::vector<int>({r.low, r.high, r.peak, r.mean, r.lowMean, r.highMean}))
        << "low, high, peak, mean, lowMean, highMean";
    EXPECT_TRUE(r.low < r.high && r.high <= r.peak && r.peak <= kMaxValue);
}

// Every mode, with the AVX2 kernels (where the processor has them) and with the SSE2 ones.
void ExpectSameAsReference(const std::string& what, uint32_t width, uint32_t height,
                           const std::vector<uint16_t>& image) {
    for (int32_t mode : {AGC_MODE_LINE, AGC_MODE_HISTEQ, AGC_MODE_SPECIAL}) {
        for (bool wide : {true, false}) {
            SCOPED_TRACE(what + " " + std::to_string(width) + "x" + std::to_string(height) +
                         " mode " + std::to_string(mode) + (wide ? " wide" : " SSE2"));
            SetWideKernels(wide);
            ExpectModeSameAsReference(mode, width, height, image);
        }
    }
    SetWideKernels(true);
}

using Generator =
    std::function<std::vector<uint16_t>(uint32_t width, uint32_t height, uint32_t seed)>;

struct Shape {
    const char* name;
    Generator make;
};

const Shape kShapes[] = {
    {"thermal", [](uint32_t w, uint32_t h, uint32_t s) { return frames::Thermal(w, h, s); }},
    {"any 16-bit",
     [](uint32_t w, uint32_t h, uint32_t s) { return frames::Uniform(w * h, s, 0, 65535); }},
    {"any 14-bit",
     [](uint32_t w, uint32_t h, uint32_t s) { return frames::Uniform(w * h, s, 0, 16383); }},
    {"around the top",
     [](uint32_t w, uint32_t h, uint32_t s) { return frames::Uniform(w * h, s, 16370, 16400); }},
    {"narrow",
     [](uint32_t w, uint32_t h, uint32_t s) { return frames::Uniform(w * h, s, 7000, 7090); }},
    {"runs", [](uint32_t w, uint32_t h, uint32_t s) { return frames::Runs(w * h, s, 5000, 5100); }},
    {"wide runs",
     [](uint32_t w, uint32_t h, uint32_t s) { return frames::Runs(w * h, s, 0, 65535); }},
    {"small hot tail",
     [](uint32_t w, uint32_t h, uint32_t s) { return frames::HotTail(w * h, s, 0.02); }},
    {"large hot tail",
     [](uint32_t w, uint32_t h, uint32_t s) { return frames::HotTail(w * h, s, 0.4); }},
    {"black",
     [](uint32_t w, uint32_t h, uint32_t) { return std::vector<uint16_t>(size_t{w} * h, 0); }},
    {"saturated",
     [](uint32_t w, uint32_t h, uint32_t) { return std::vector<uint16_t>(size_t{w} * h, 65535); }},
    {"flat",
     [](uint32_t w, uint32_t h, uint32_t) { return std::vector<uint16_t>(size_t{w} * h, 7123); }},
    {"near black",
     [](uint32_t w, uint32_t h, uint32_t s) { return frames::Uniform(w * h, s, 0, 2); }},
};

TEST(AgcFastPath, MatchesReferenceForEveryShapeAndSize) {
    const std::pair<uint32_t, uint32_t> sizes[] = {
        {1, 1},  {2, 1},  {1, 3},   {3, 3},   {7, 5},    {8, 1},    {9, 2},
        {16, 1}, {17, 3}, {33, 31}, {64, 48}, {161, 97}, {640, 512}};
    for (const Shape& shape : kShapes) {
        for (const auto& [w, h] : sizes) {
            ExpectSameAsReference(shape.name, w, h, shape.make(w, h, w * 131 + h));
        }
    }
}

TEST(AgcFastPath, MatchesReferenceWhenCountersWrap) {
    // 65,536 equal samples leave a zero counter; the scans then never pass their thresholds.
    ExpectSameAsReference("flat, all wrapped", 256, 256, std::vector<uint16_t>(65536, 4000));
    ExpectSameAsReference("black, all wrapped", 640, 512,
                          std::vector<uint16_t>(size_t{640} * 512, 0));
    ExpectSameAsReference("saturated, all wrapped", 640, 512,
                          std::vector<uint16_t>(size_t{640} * 512, 16383));
    ExpectSameAsReference("flat, one left", 65537, 1, std::vector<uint16_t>(65537, 3000));
    // A dominant value wraps while the rest of the scene counts normally.
    for (uint32_t seed = 1; seed <= 3; ++seed) {
        std::vector<uint16_t> image = frames::Thermal(320, 256, seed);
        std::fill_n(image.begin(), 65536 + size_t{seed} * 7, static_cast<uint16_t>(6500 + seed));
        ExpectSameAsReference("dominant value", 320, 256, image);
        std::shuffle(image.begin(), image.end(), std::mt19937(seed));
        ExpectSameAsReference("dominant value, shuffled", 320, 256, image);
    }
}

TEST(AgcFastPath, MatchesReferenceForRandomFramesAndSizes) {
    std::mt19937 rng(20240601);
    std::uniform_int_distribution<uint32_t> side(1, 90);
    std::uniform_int_distribution<size_t> shape(0, std::size(kShapes) - 1);
    for (int round = 0; round < 150; ++round) {
        const uint32_t w = side(rng), h = side(rng);
        const Shape& s = kShapes[shape(rng)];
        ExpectSameAsReference(s.name, w, h, s.make(w, h, static_cast<uint32_t>(rng())));
    }
}

}  // namespace
}  // namespace kx::agc
