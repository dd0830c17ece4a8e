// kestrix-convert as a user runs it: the pictures it writes, read back by libpng, its parameter
// CSV against the text record of the same frames, and what it refuses.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>

#include "include/agc.h"
#include "tool_runner.h"

namespace {

using namespace kx_tools_test;

std::vector<uint16_t> RandomSamples(size_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<uint16_t> samples(count);
    for (auto& s : samples) s = static_cast<uint16_t>(random());
    return samples;
}

// The samples as a raw file stores them in the given byte order.
void WriteRaw(const std::string& path, const std::vector<uint16_t>& samples, bool big) {
    std::string bytes;
    for (uint16_t s : samples) {
        const char hi = static_cast<char>(s >> 8), lo = static_cast<char>(s);
        bytes += big ? std::string{hi, lo} : std::string{lo, hi};
    }
    std::ofstream(path, std::ios::binary) << bytes;
}

class ConvertTest : public ScratchDirTest {};

TEST_F(ConvertTest, SixteenBitPngHoldsThePixelValuesInEitherByteOrder) {
    struct Case {
        const char* input;
        const char* order;
        int width, height, frames;
        std::vector<std::string> extra;
        std::vector<std::string> outputs;  // in frame order, in the folder of the input
        int firstFrame;
    };
    // clang-format off
    const Case cases[] = {
        {"Record_20261207101500", "big", 7, 3, 3, {}, {"Record_20261207101500_000000.png",
            "Record_20261207101500_000001.png", "Record_20261207101500_000002.png"}, 0},
        {"rec_le", "little", 7, 3, 3, {"--frames", "1-2"}, {"rec_le_000001.png",
            "rec_le_000002.png"}, 1},
        {"snapshot_2026120710150042.raw", "big", 640, 512, 1, {},
            {"snapshot_2026120710150042.png"}, 0},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        const size_t pixels = static_cast<size_t>(c.width) * c.height;
        const auto samples = RandomSamples(pixels * c.frames, c.width);
        WriteRaw(dir + "/" + c.input, samples, std::string(c.order) == "big");
        std::vector<std::string> args = {KX_CONVERT, "--byte-order", c.order, "--size",
                                         std::to_string(c.width) + "x" + std::to_string(c.height)};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        args.push_back(dir + "/" + c.input);
        const Result r = RunTool(args, dir);
        ASSERT_EQ(r.status, 0) << r.err;

        for (size_t i = 0; i < c.outputs.size(); ++i) {
            const Png png = ReadPng(ReadFile(dir + "/" + c.outputs[i]));
            ASSERT_EQ(png.format, PNG_FORMAT_LINEAR_Y) << c.outputs[i] << " is not 16-bit grey";
            ASSERT_EQ(png.width, c.width);
            ASSERT_EQ(png.height, c.height);
            const uint16_t* frame = samples.data() + (c.firstFrame + i) * pixels;
            ASSERT_EQ(png.bytes.size(), 2 * pixels);
            EXPECT_EQ(std::memcmp(png.bytes.data(), frame, png.bytes.size()), 0);
        }
        EXPECT_EQ(Files(dir).size(), 3 + c.outputs.size()) << "input, stdout, stderr and the PNGs";
        for (const std::string& f : Files(dir)) std::filesystem::remove(dir + "/" + f);
    }
}

TEST_F(ConvertTest, GainControlledPicturesMatchTheProgramsOwnGainControl) {
    const int width = 40, height = 30;
    auto samples = RandomSamples(width * height, 3);
    for (auto& s : samples) s &= 0x3FFF;
    WriteRaw(dir + "/rec", samples, true);

    alignas(8) static uint8_t block[AGC_MEM_SIZE];
    const AgcParams params{width, height};
    AgcHandle agc = nullptr;
    ASSERT_EQ(AGC_Create(&params, block, sizeof block, &agc), AGC_OK);
    ASSERT_EQ(AGC_SetMode(agc, AGC_MODE_HISTEQ), AGC_OK);
    std::vector<uint8_t> gray(samples.size());
    ASSERT_EQ(AGC_Process(agc, samples.data(), gray.data()), AGC_OK);

    struct Case {
        const char* palette;
        uint32_t format;
    };
    for (const Case& c : {Case{"grey", PNG_FORMAT_GRAY}, Case{"iron", PNG_FORMAT_RGB},
                          Case{"rainbow", PNG_FORMAT_RGB}}) {
        SCOPED_TRACE(c.palette);
        const Result r = RunTool({KX_CONVERT, "--size", "40x30", "--agc", "histeq", "--palette",
                                  c.palette, "--out", dir + "/" + c.palette, dir + "/rec"},
                                 dir);
        ASSERT_EQ(r.status, 0) << r.err;
        const Png png = ReadPng(ReadFile(dir + "/" + c.palette + "/rec.png"));
        ASSERT_EQ(png.format, c.format);
        // The grey picture is the gain control's output byte for byte; a palette gives RGB.
        if (c.format == PNG_FORMAT_GRAY) {
            EXPECT_EQ(png.bytes, gray);
        } else {
            EXPECT_EQ(png.bytes.size(), 3 * gray.size());
        }
    }
}

TEST_F(ConvertTest, ParameterCsvHoldsTheNumbersOfTheTextRecordOfTheSameFrames) {
    const std::string stream = Dump({"--frames", "6", "--seed", "9"});
    ASSERT_EQ(RunTool({KX_REPLAY, "--raw-log", dir + "/raw", stream}, dir).status, 0);
    ASSERT_EQ(RunTool({KX_REPLAY, "--text-log", dir + "/text", stream}, dir).status, 0);
    std::vector<std::string> expected = Lines(ReadFile(dir + "/text"));
    ASSERT_EQ(expected.size(), 7u) << "the header line and six records";
    for (auto& line : expected) {
        for (size_t tab; (tab = line.find("\t\t")) != std::string::npos;) line.replace(tab, 2, ",");
        if (!line.empty() && line.back() == '\r') line.pop_back();
    }

    Result r = RunTool({KX_CONVERT, "--size", "64x48", "--params", dir + "/raw"}, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0].rfind("focalPlaneTemp,", 0), 0u);
    EXPECT_TRUE(std::equal(lines.begin() + 1, lines.end(), expected.begin() + 1));

    r = RunTool({KX_CONVERT, "--size", "64x48", "--params", "--frames", "2-4", "--byte-order",
                 "little", dir + "/raw"},
                dir);
    lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_TRUE(std::equal(lines.begin() + 1, lines.end(), expected.begin() + 3));
}

TEST_F(ConvertTest, RefusesBadOptionsAndFilesThatAreNotWholeImages) {
    std::ofstream(dir + "/odd", std::ios::binary) << std::string(2 * 4 * 3 * 2 + 1, 'x');
    std::ofstream(dir + "/two", std::ios::binary) << std::string(2 * 4 * 3 * 2, 'x');
    std::ofstream(dir + "/empty", std::ios::binary);
    const std::string odd = dir + "/odd", two = dir + "/two";
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string says;
    };
    const Case cases[] = {
        {{}, 2, "no input file"},
        {{"--size", "0x3", two}, 2, "--size takes WxH"},
        {{"--size", "4x3x1", two}, 2, "--size takes WxH"},
        {{"--size", "1000x1000", two}, 2, "--size takes WxH"},
        {{"--size"}, 2, "--size needs a value"},
        {{"--byte-order", "middle", two}, 2, "big or little"},
        {{"--agc", "bright", two}, 2, "line, histeq or special"},
        {{"--palette", "iron", two}, 2, "--palette needs --agc"},
        {{"--agc", "line", "--palette", "sepia", two}, 2, "grey, iron or rainbow"},
        {{"--frames", "3-1", two}, 2, "--frames takes"},
        {{"--params", "--agc", "line", two}, 2, "--params writes no pictures"},
        {{"--swap", two}, 2, "unknown option --swap"},
        {{"--size", "4x3", odd}, 1, "49 bytes is not a whole number of 4x3 images of 24 bytes"},
        {{"--size", "4x3", dir + "/empty"}, 1, "holds no image"},
        {{"--params", "--size", "4x3", odd}, 1, "not a whole number"},
        {{"--size", "4x3", "--frames", "1-2", two}, 1, "holds 2 4x3 images (frames 0-1)"},
        {{dir + "/missing"}, 1, "cannot read"},
        {{dir}, 1, "is not a file"},
        {{"--size", "4x3", "--out", odd + "/sub", two}, 1, "cannot write " + odd + "/sub/two_"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {KX_CONVERT};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Result r = RunTool(args, dir);
        const std::string what = c.args.empty() ? "(none)" : c.args.front();
        EXPECT_EQ(r.status, c.status) << what;
        EXPECT_THAT(r.err, HasSubstr(c.says)) << what;
        EXPECT_TRUE(r.out.empty()) << what;
    }
    EXPECT_EQ(Files(dir).size(), 5u) << "no PNG written";
}

}  // namespace
