// Each mode against tables worked out by hand: frames built from chosen counts, their bounds and
// means, and the grey level of chosen raw values (in the picture, or in the table left in the
// block for values the frame does not hold).
#include <gtest/gtest.h>

#include <map>

#include "agc_harness.h"

namespace kx::agc {
namespace {

using testing::Block;

struct Worked {
    const char* name;
    int32_t mode;
    uint32_t width, height;
    std::map<uint32_t, uint32_t> counts;  // value -> pixels
    std::vector<int> stats;               // low, high, peak, mean, lowMean, highMean
    std::map<uint32_t, int> levels;       // value in the frame -> grey level
    std::map<uint32_t, int> table;        // any value -> table entry left in the block
};

// Rows: counts, then low, high, peak, mean, lowMean, highMean, then levels, then table entries.
// clang-format off
const Worked kWorked[] = {
    {"Line: stretch around the mean", AGC_MODE_LINE, 40, 25,
     {{7000, 21}, {7300, 936}, {7321, 1}, {7599, 21}, {7600, 4}, {7700, 17}},
     {7000, 7600, 7700, 7300, 7000, 7308},
     // span 600, gain 56,320 / 600 = 93, offset 100 - (678,900 >> 8) = -2,551
     {{7000, 0}, {7300, 100}, {7600, 209}, {7700, 246}}, {{0, 0}, {7290, 97}, {16383, 255}}},
    {"Line: a span below 160 stops the gain at 352", AGC_MODE_LINE, 40, 25,
     {{7000, 21}, {7050, 958}, {7100, 4}, {7150, 17}}, {7000, 7100, 7150, 7049, 7000, 7050},
     // gain 220 x 256 / 160 = 352, offset 100 - (7,049 x 352 >> 8) = -9,592
     {{7000, 33}, {7050, 101}, {7100, 170}, {7150, 239}}, {{7049, 100}}},
    {"Histeq: a span of 100 scales the equalised levels by 160/256", AGC_MODE_HISTEQ, 40, 25,
     {{7000, 21}, {7050, 958}, {7100, 4}, {7150, 17}}, {7000, 7100, 7150, 7049, 7000, 7050},
     // limited counters 21, 32, 4, 17 (total 74); cdf 72, 182, 196, 255; offset 96 - 45 = 51
     {{7000, 96}, {7050, 164}, {7100, 173}, {7150, 210}}, {{0, 51}, {7049, 96}, {16383, 210}}},
    {"Histeq: a span of 160 or more keeps the equalised levels", AGC_MODE_HISTEQ, 40, 25,
     {{7000, 21}, {7050, 958}, {7200, 4}, {7250, 17}}, {7000, 7200, 7250, 7049, 7000, 7051},
     // cdf 72, 182, 196, 255 with g = 256; offset 96 - 72 = 24
     {{7000, 96}, {7050, 206}, {7200, 220}, {7250, 255}}, {{0, 24}, {16383, 255}}},
    {"Special: the hot tail is equalised above the knee", AGC_MODE_SPECIAL, 77, 13,
     {{7140, 11}, {7220, 465}, {7299, 11}, {7300, 4}, {7380, 487}, {7460, 4}, {8000, 2},
      {9560, 17}},
     {7140, 7460, 9560, 7300, 7220, 7380},
     // d 80, span 480, gain 80, offset -2,201, knee 7,620, kneeLevel 180, slope 9 < 80;
     // tail counters 2 and 4 (of 17): 180 + 75 x 2 / 6 = 205, then 255
     {{7140, 30}, {7220, 55}, {7299, 79}, {7300, 80}, {7380, 105}, {7460, 130}, {8000, 205},
      {9560, 255}},
     {{7620, 180}, {7621, 180}, {7999, 180}, {9559, 205}, {16383, 255}}},
    {"Special: no hot tail (knee at or above peak) gives the linear table", AGC_MODE_SPECIAL, 40,
     25, {{7220, 200}, {7300, 580}, {7380, 200}, {7400, 20}}, {7220, 7380, 7400, 7279, 7220, 7321},
     // d 42, knee 7,447 >= 7,400; span 252, gain 152, offset 80 - 4,321 = -4,241
     {{7220, 45}, {7300, 93}, {7380, 140}, {7400, 152}}, {{7447, 180}, {8000, 255}}},
    {"Special: mean at low leaves the lowMean range empty", AGC_MODE_SPECIAL, 40, 25,
     {{5000, 979}, {5001, 4}, {5002, 17}}, {5000, 5001, 5002, 5000, 0, 5000},
     // d 0, span 120, gain 320, offset -6,170; knee 5,000, slope 22,400 >= 320: linear
     {{5000, 80}, {5001, 81}, {5002, 82}}, {{4999, 78}}},
};
// clang-format on

TEST(AgcModes, WorkedTables) {
    for (const Worked& w : kWorked) {
        SCOPED_TRACE(w.name);
        std::vector<uint16_t> image;  // `count` pixels of each value, in value order
        for (const auto& [value, count] : w.counts) image.insert(image.end(), count, value);
        ASSERT_EQ(image.size(), size_t{w.width} * w.height);
        Block block(w.width, w.height, w.mode);

        std::vector<uint16_t> hist(kValues);
        CountValues(image.data(), image.size(), hist.data());
        const Stats s =
            FindStats(hist.data(), testing::TuningAfterCreate(w.mode), w.width, w.height);
        EXPECT_EQ(std::vector<int>({s.low, s.high, s.peak, s.mean, s.lowMean, s.highMean}),
                  w.stats);

        const std::vector<uint8_t> gray = block.Process(image);
        for (const auto& [value, level] : w.levels) {
            const size_t at = std::find(image.begin(), image.end(), value) - image.begin();
            EXPECT_EQ(gray[at], level) << "value " << value;
        }
        for (const auto& [value, level] : w.table)
            EXPECT_EQ(block.Lut()[value], level) << "value " << value;
    }
}

// Frames whose counters say little or nothing: every value the same, so that the counter wraps
// to 0 or nearly so, and frames at the ends of the range. The expected levels follow from the
// choices for scans that never pass their thresholds (low at 16382, high 16383) and for nothing
// counted (Histeq at brightness 96, Special's tail at its knee level).
TEST(AgcModes, UniformFramesInEveryMode) {
    struct Row {
        const char* name;
        uint32_t width, height;
        uint16_t value;
        int line, histeq, special;
    } const rows[] = {
        {"65,537 equal samples: the counter holds 1", 65537, 1, 3000, 255, 96, 255},
        {"65,536 equal samples: every counter 0", 256, 256, 4000, 255, 96, 80},
        {"black", 10, 10, 0, 100, 96, 80},
        {"saturated", 10, 10, 65535, 255, 96, 255},
        {"single pixel", 1, 1, 9000, 100, 96, 80},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const std::vector<uint16_t> image(size_t{r.width} * r.height, r.value);
        const int want[] = {r.line, r.histeq, r.special};
        for (int32_t mode : {AGC_MODE_LINE, AGC_MODE_HISTEQ, AGC_MODE_SPECIAL}) {
            const std::vector<uint8_t> gray = Block(r.width, r.height, mode).Process(image);
            EXPECT_EQ(std::count(gray.begin(), gray.end(), want[mode - 1]), std::ssize(gray))
                << "mode " << mode;
        }
    }
}

}  // namespace
}  // namespace kx::agc
