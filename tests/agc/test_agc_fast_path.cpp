// The fast conversion over many random and structured frames in every mode, against what its parts
// promise: the counters count the samples (modulo 65,536; Histeq and Special limit theirs as they
// go), the bounds and means fit their definitions, the picture is the table applied to each
// sample, the table never falls, and the AVX2 kernels give the SSE2 kernels' bytes.
#include <gtest/gtest.h>

#include <random>

#include "agc_frames.h"
#include "agc_harness.h"

namespace kx::agc {
namespace {

using namespace testing;

void ExpectSound(const std::string& what, uint32_t width, uint32_t height,
                 const std::vector<uint16_t>& image) {
    std::vector<uint16_t> counts(kValues);
    for (uint16_t v : image) ++counts[std::min<uint32_t>(v, kMaxValue)];
    std::vector<uint64_t> pixels(kValues + 1), weights(kValues + 1);  // counted below each value
    for (uint32_t v = 0; v < kValues; ++v) {
        pixels[v + 1] = pixels[v] + counts[v];
        weights[v + 1] = weights[v] + uint64_t{v} * counts[v];
    }
    for (int32_t mode : {AGC_MODE_LINE, AGC_MODE_HISTEQ, AGC_MODE_SPECIAL}) {
        SCOPED_TRACE(what + " " + std::to_string(width) + "x" + std::to_string(height) + " mode " +
                     std::to_string(mode));
        std::vector<uint8_t> gray[2], lut[2];
        for (bool wide : {false, true}) {
            SetWideKernels(wide);
            Block block(width, height, mode);
            gray[wide] = block.Process(image);
            lut[wide].assign(block.Lut(), block.Lut() + kValues);
            for (uint32_t v = 0; v < kValues; ++v) {
                const uint16_t got = block.Hist()[v], want = counts[v];
                const bool limited = (mode == AGC_MODE_HISTEQ && want > 32 && got == 32) ||
                                     (mode == AGC_MODE_SPECIAL && want > 4 && got == 4);
                ASSERT_TRUE(got == want || limited)
                    << "counter " << v << ": " << got << " of " << want;
            }
        }
        SetWideKernels(true);
        EXPECT_EQ(FirstDifference(gray[1], gray[0]), "") << "AVX2 picture";
        EXPECT_EQ(FirstDifference(lut[1], lut[0]), "") << "AVX2 table";
        std::vector<uint8_t> mapped(image.size());
        for (size_t i = 0; i < image.size(); ++i)
            mapped[i] = lut[0][std::min<uint32_t>(image[i], kMaxValue)];
        EXPECT_EQ(FirstDifference(gray[0], mapped), "") << "picture";
        EXPECT_TRUE(std::is_sorted(lut[0].begin(), lut[0].end())) << "the table falls";
        // The bounds fit their definitions wherever the scans pass their thresholds.
        const Tuning t = testing::TuningAfterCreate(mode);
        const Stats s = FindStats(counts.data(), t, width, height);
        ASSERT_TRUE(s.low < s.high && s.high <= s.peak && s.peak <= kMaxValue);
        const uint64_t thrLow = t.lowCut * image.size() / 1000;
        const uint64_t thrPeak = std::min<uint64_t>(t.highCut * image.size() / 1000, 16);
        const auto mean = [&](int64_t a, int64_t b) {
            const uint64_t n = a <= b ? pixels[b + 1] - pixels[a] : 0;
            return n ? static_cast<int>(double(weights[b + 1] - weights[a]) / double(n) + 0.5) : 0;
        };
        EXPECT_EQ(std::vector<int>({s.mean, s.lowMean, s.highMean}),
                  std::vector<int>(
                      {mean(s.low, s.high - 1), mean(s.low, s.mean - 1), mean(s.mean, s.high)}));
        const uint64_t above = pixels[kValues] - pixels[s.peak + 1], from = above + counts[s.peak];
        EXPECT_TRUE(s.low >= kMaxValue - 1 ||
                    (pixels[s.low + 1] > thrLow && pixels[s.low] <= thrLow))
            << "low " << s.low;
        EXPECT_TRUE(s.peak == s.high || (above <= thrPeak && from > thrPeak)) << "peak " << s.peak;
    }
}

const char* const kShapes[] = {"thermal",        "any 16-bit", "any 14-bit", "around the top",
                               "narrow",         "runs",       "wide runs",  "small hot tail",
                               "large hot tail", "black",      "saturated",  "flat",
                               "near black"};

// clang-format off
std::vector<uint16_t> Make(size_t shape, uint32_t w, uint32_t h, uint32_t s) {
    switch (shape) {
        case 0: return frames::Thermal(w, h, s);
        case 1: return frames::Uniform(w * h, s, 0, 65535);
        case 2: return frames::Uniform(w * h, s, 0, 16383);
        case 3: return frames::Uniform(w * h, s, 16370, 16400);
        case 4: return frames::Uniform(w * h, s, 7000, 7090);
        case 5: return frames::Runs(w * h, s, 5000, 5100);
        case 6: return frames::Runs(w * h, s, 0, 65535);
        case 7: return frames::HotTail(w * h, s, 0.02);
        case 8: return frames::HotTail(w * h, s, 0.4);
        case 9: return std::vector<uint16_t>(size_t{w} * h, 0);
        case 10: return std::vector<uint16_t>(size_t{w} * h, 65535);
        case 11: return std::vector<uint16_t>(size_t{w} * h, 7123);
        default: return frames::Uniform(w * h, s, 0, 2);
    }
}
// clang-format on

TEST(AgcFastPath, EveryShapeAndSize) {
    const std::pair<uint32_t, uint32_t> sizes[] = {
        {1, 1},  {2, 1},  {1, 3},   {3, 3},   {7, 5},    {8, 1},    {9, 2},
        {16, 1}, {17, 3}, {33, 31}, {64, 48}, {161, 97}, {640, 512}};
    for (size_t shape = 0; shape < std::size(kShapes); ++shape) {
        for (const auto& [w, h] : sizes)
            ExpectSound(kShapes[shape], w, h, Make(shape, w, h, w * 131 + h));
    }
    std::mt19937 rng(20240601);
    for (int round = 0; round < 150; ++round) {
        const uint32_t w = 1 + rng() % 90, h = 1 + rng() % 90;
        const size_t shape = rng() % std::size(kShapes);
        ExpectSound(kShapes[shape], w, h, Make(shape, w, h, static_cast<uint32_t>(rng())));
    }
}

TEST(AgcFastPath, CountersThatWrap) {
    // Equal samples by the 65,536 (the flat shapes at 640 x 512 above) leave a zero counter.
    // A dominant value wraps while the rest of the scene counts normally.
    for (uint32_t seed = 1; seed <= 3; ++seed) {
        std::vector<uint16_t> image = frames::Thermal(320, 256, seed);
        std::fill_n(image.begin(), 65536 + size_t{seed} * 7, static_cast<uint16_t>(6500 + seed));
        ExpectSound("dominant value", 320, 256, image);
        std::shuffle(image.begin(), image.end(), std::mt19937(seed));
        ExpectSound("dominant value, shuffled", 320, 256, image);
    }
}

}  // namespace
}  // namespace kx::agc
