// The gain control: its C entry points (result codes, guards, the work block after AGC_Create, the
// presets that AGC_SetMode reloads), each mode against tables worked out by hand, and the fast
// conversion over many random and structured frames against what its parts promise.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "agc_harness.h"

namespace kx::agc {
namespace {

using testing::Block;

TEST(AgcApi, RefusalsChangeNothingAndEachModeChoiceReloadsItsPreset) {
    int32_t size = 0;
    EXPECT_EQ(AGC_GetMemSize(nullptr, &size), AGC_OK);
    EXPECT_EQ(size, 49280);
    const AgcParams vga{640, 512};
    EXPECT_EQ(AGC_GetMemSize(&vga, nullptr), AGC_E_NULLPTR);
    constexpr uint64_t kFill = 0xABABABABABABABABull;
    struct Row {
        const char* name;
        int32_t width, height, blockSize, result;
        char null = 0;  // 'p' params, 'b' block, 'h' handle
        size_t misalign = 0;
    } const rows[] = {
        {"null params", 640, 512, AGC_MEM_SIZE, AGC_E_NULLPTR, 'p'},
        {"null block", 640, 512, AGC_MEM_SIZE, AGC_E_NULLPTR, 'b'},
        {"null handle", 640, 512, AGC_MEM_SIZE, AGC_E_NULLPTR, 'h'},
        {"short block", 640, 512, AGC_MEM_SIZE - 1, AGC_E_MEMSIZE},
        {"negative size", 640, 512, -1, AGC_E_MEMSIZE},
        {"misaligned block", 640, 512, AGC_MEM_SIZE, AGC_E_MEMSIZE, 0, 2},
        {"zero width", 0, 512, AGC_MEM_SIZE, AGC_E_SIZE},
        {"zero height", 640, 0, AGC_MEM_SIZE, AGC_E_SIZE},
        {"negative width", -640, 512, AGC_MEM_SIZE, AGC_E_SIZE},
        {"product wraps 32 bits", 65536, 65536, AGC_MEM_SIZE, AGC_E_SIZE},
        {"one pixel too many", 4097, 4096, AGC_MEM_SIZE, AGC_E_SIZE},
        {"largest", 4096, 4096, AGC_MEM_SIZE, AGC_OK},
        {"longer block is fine", 1, 1, AGC_MEM_SIZE + 100, AGC_OK},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        std::vector<uint64_t> words(AGC_MEM_SIZE / 8 + 16, kFill);
        auto* block = reinterpret_cast<uint8_t*>(words.data()) + r.misalign;
        const AgcParams params{r.width, r.height};
        AgcHandle handle = nullptr;
        EXPECT_EQ(AGC_Create(r.null == 'p' ? nullptr : &params, r.null == 'b' ? nullptr : block,
                             r.blockSize, r.null == 'h' ? nullptr : &handle),
                  r.result);
        EXPECT_EQ(static_cast<void*>(handle), r.result == AGC_OK ? block : nullptr);
        if (r.result != AGC_OK) {
            EXPECT_EQ(std::count(words.begin(), words.end(), kFill), std::ssize(words));
            continue;
        }
        // Zeroed behind the 128 bytes of settings (the mode's are checked below), and nothing
        // written past the block.
        EXPECT_EQ(std::count(block + 128, block + AGC_MEM_SIZE, 0), AGC_MEM_SIZE - 128);
        EXPECT_EQ(block[AGC_MEM_SIZE], 0xAB);
        EXPECT_EQ(std::make_pair(handle->width, handle->height),
                  std::make_pair(uint32_t(r.width), uint32_t(r.height)));
    }

    // Each mode choice reloads its preset; a choice that is not a mode, and a conversion with a
    // null pointer, change nothing.
    Block block(64, 48);
    const AgcHandle h = block.handle;
    const auto settings = [&] {
        return std::vector<int>{h->mode,       h->lowCut,   h->highCut,
                                h->brightness, h->contrast, h->minSpan};
    };
    EXPECT_EQ(settings(), (std::vector<int>{1, 20, 20, 100, 220, 160})) << "after AGC_Create";
    // The worked tables below hold each preset's effect on the picture; Histeq's contrast has
    // none: it keeps the one it finds. A stray change is undone by choosing the mode again.
    ASSERT_EQ(AGC_SetMode(h, AGC_MODE_SPECIAL), AGC_OK);
    ASSERT_EQ(AGC_SetMode(h, AGC_MODE_HISTEQ), AGC_OK);
    h->brightness = 7;
    ASSERT_EQ(AGC_SetMode(h, AGC_MODE_HISTEQ), AGC_OK);
    EXPECT_EQ(settings(), (std::vector<int>{2, 20, 20, 96, 150, 160}));
    const std::vector<uint8_t> before(block.Bytes(), block.Bytes() + 128);
    for (int32_t mode : {0, 4, -1, 255, 257}) EXPECT_EQ(AGC_SetMode(h, mode), AGC_E_MODE);
    EXPECT_EQ(std::vector<uint8_t>(block.Bytes(), block.Bytes() + 128), before);
    EXPECT_EQ(AGC_SetMode(nullptr, AGC_MODE_LINE), AGC_E_NULLPTR);
    std::vector<uint16_t> image(64 * 48, 5000);
    std::vector<uint8_t> gray(64 * 48, 0x5A);
    EXPECT_EQ(AGC_Process(nullptr, image.data(), gray.data()), AGC_E_NULLPTR);
    EXPECT_EQ(AGC_Process(h, nullptr, gray.data()), AGC_E_NULLPTR);
    EXPECT_EQ(AGC_Process(h, image.data(), nullptr), AGC_E_NULLPTR);
    EXPECT_EQ(std::count(gray.begin(), gray.end(), 0x5A), std::ssize(gray));
    EXPECT_EQ(std::count(block.Bytes() + 128, block.Bytes() + AGC_MEM_SIZE, 0), AGC_MEM_SIZE - 128);
}

struct Worked {
    const char* name;
    int32_t mode;
    uint32_t width, height;
    std::map<uint32_t, uint32_t> counts;  // value -> pixels
    std::vector<int> stats;               // low, high, peak, mean, lowMean, highMean
    std::map<uint32_t, int> levels;       // value in the frame -> grey level
    std::map<uint32_t, int> table;        // any value -> table entry left in the block
};

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
        const Stats s = FindStats(hist.data(), PresetFor(w.mode, 220), w.width, w.height);
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
        int want[3];  // Line, Histeq, Special
    } const rows[] = {
        {"65,537 equal samples: the counter holds 1", 65537, 1, 3000, {255, 96, 255}},
        {"65,536 equal samples: every counter 0", 256, 256, 4000, {255, 96, 80}},
        {"black", 10, 10, 0, {100, 96, 80}},
        {"saturated", 10, 10, 65535, {255, 96, 255}},
        {"single pixel", 1, 1, 9000, {100, 96, 80}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const std::vector<uint16_t> image(size_t{r.width} * r.height, r.value);
        for (int32_t mode : {AGC_MODE_LINE, AGC_MODE_HISTEQ, AGC_MODE_SPECIAL}) {
            const std::vector<uint8_t> gray = Block(r.width, r.height, mode).Process(image);
            EXPECT_EQ(std::count(gray.begin(), gray.end(), r.want[mode - 1]), std::ssize(gray))
                << "mode " << mode;
        }
    }
}

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
            const auto* hist = reinterpret_cast<const uint16_t*>(block.Bytes() + kHistOffset);
            for (uint32_t v = 0; v < kValues; ++v) {
                const uint16_t got = hist[v], want = counts[v];
                const bool limited = (mode == AGC_MODE_HISTEQ && want > 32 && got == 32) ||
                                     (mode == AGC_MODE_SPECIAL && want > 4 && got == 4);
                ASSERT_TRUE(got == want || limited)
                    << "counter " << v << ": " << got << " of " << want;
            }
        }
        SetWideKernels(true);
        EXPECT_EQ(gray[1], gray[0]) << "AVX2 picture";
        EXPECT_EQ(lut[1], lut[0]) << "AVX2 table";
        std::vector<uint8_t> mapped(image.size());
        for (size_t i = 0; i < image.size(); ++i)
            mapped[i] = lut[0][std::min<uint32_t>(image[i], kMaxValue)];
        EXPECT_EQ(gray[0], mapped) << "picture";
        EXPECT_TRUE(std::is_sorted(lut[0].begin(), lut[0].end())) << "the table falls";
        // The bounds fit their definitions wherever the scans pass their thresholds.
        const Tuning t = PresetFor(mode, 220);  // Histeq keeps the contrast Line left
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

// Samples from lo .. hi in runs of 1 .. run equal ones, with `hot` per cent of the runs drawn
// from hi .. hi + 8000 instead.
struct Shape {
    const char* name;
    uint32_t lo, hi, run, hot;
};
// clang-format off
const Shape kShapes[] = {
    {"any 16-bit", 0, 65535, 1, 0},         {"any 14-bit", 0, 16383, 1, 0},
    {"around the top", 16370, 16400, 1, 0}, {"narrow", 7000, 7090, 1, 0},
    {"runs", 5000, 5100, 40, 0},            {"wide runs", 0, 65535, 40, 0},
    {"small hot tail", 7260, 7340, 1, 2},   {"large hot tail", 7260, 7340, 1, 40},
    {"black", 0, 0, 1, 0},                  {"saturated", 65535, 65535, 1, 0},
    {"flat", 7123, 7123, 1, 0},             {"near black", 0, 2, 1, 0},
};
// clang-format on

std::vector<uint16_t> Samples(const Shape& s, uint32_t w, uint32_t h, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint16_t> px;
    while (px.size() < size_t{w} * h) {
        const uint32_t v =
            rng() % 100 < s.hot ? s.hi + rng() % 8000 : s.lo + rng() % (s.hi - s.lo + 1);
        px.insert(px.end(), std::min<size_t>(1 + rng() % s.run, size_t{w} * h - px.size()),
                  static_cast<uint16_t>(std::min(v, 65535u)));
    }
    return px;
}

TEST(AgcFastPath, EveryShapeAndSize) {
    const std::pair<uint32_t, uint32_t> sizes[] = {
        {1, 1},  {2, 1},  {1, 3},   {3, 3},   {7, 5},    {8, 1},    {9, 2},
        {16, 1}, {17, 3}, {33, 31}, {64, 48}, {161, 97}, {640, 512}};
    for (const auto& [w, h] : sizes)
        for (const Shape& s : kShapes) ExpectSound(s.name, w, h, Samples(s, w, h, w * 131 + h));
    std::mt19937 rng(20240601);
    for (int round = 0; round < 150; ++round) {
        const uint32_t w = 1 + rng() % 90, h = 1 + rng() % 90;
        const Shape& s = kShapes[rng() % std::size(kShapes)];
        ExpectSound(s.name, w, h, Samples(s, w, h, static_cast<uint32_t>(rng())));
    }
}

}  // namespace
}  // namespace kx::agc
