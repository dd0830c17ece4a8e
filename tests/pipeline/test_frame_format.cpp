// Header parse, CRC and parameter-row decoding.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "frame_format.h"
#include "stream_builder.h"

namespace kestrix {
namespace {

std::vector<uint8_t> HeaderBytes(uint16_t format, int32_t w, int32_t h, bool crc, uint32_t value) {
    std::vector<uint8_t> header(kFrameHeaderSize);
    WriteFrameHeader(header.data(), format, w, h, crc, value);
    return header;
}

void PutBlock(std::vector<uint8_t>& header, int pos, const char* tag, int32_t length) {
    std::memcpy(&header[pos], tag, 4);
    std::memcpy(&header[pos + 4], &length, 4);
}

TEST(FrameHeader, AcceptsAWrittenHeaderAndReadsItsBlocks) {
    FrameHeaderState state;
    auto header = HeaderBytes(4, 640, 512, true, 0xE7E67603);
    ASSERT_TRUE(ParseFrameHeader(header.data(), state));
    EXPECT_EQ(state.m_nFrameFormat, 4u);
    EXPECT_EQ(state.m_nWidth, 640);
    EXPECT_EQ(state.m_nHeight, 512);
    EXPECT_EQ(state.m_nFrameCrc, 0xE7E67603u);
    EXPECT_TRUE(state.m_bCrcPresent);
    // The CRC field holds the CRC most significant byte first.
    EXPECT_EQ(header[12 + 20 + 12], 0x03);
    EXPECT_EQ(header[12 + 20 + 15], 0xE7);
}

TEST(FrameHeader, RefusesEveryOneByteChangeOfTheMagicWords) {
    const auto good = HeaderBytes(4, 4, 4, false, 0);
    for (int i = 0; i < 8; ++i) {
        auto header = good;
        header[i] ^= 0x01;
        FrameHeaderState state;
        EXPECT_FALSE(ParseFrameHeader(header.data(), state)) << "byte " << i;
        EXPECT_EQ(state.m_nWidth, 0);
    }
    FrameHeaderState state;
    EXPECT_FALSE(ParseFrameHeader(nullptr, state));
}

TEST(FrameHeader, MissingBlocksKeepTheEarlierValues) {
    FrameHeaderState state;
    auto first = HeaderBytes(8, 32, 16, true, 0x11223344);
    ASSERT_TRUE(ParseFrameHeader(first.data(), state));
    auto second = HeaderBytes(4, 4, 4, false, 0);  // no "CRC_" block
    ASSERT_TRUE(ParseFrameHeader(second.data(), state));
    EXPECT_EQ(state.m_nWidth, 4);
    EXPECT_EQ(state.m_nFrameCrc, 0x11223344u);
    EXPECT_TRUE(state.m_bCrcPresent);

    auto blocksOnly = HeaderBytes(4, 4, 4, false, 0);
    int32_t zero = 0;
    std::memcpy(&blocksOnly[8], &zero, 4);  // a block list length of 0: no block is read
    state = {};
    ASSERT_TRUE(ParseFrameHeader(blocksOnly.data(), state));
    EXPECT_EQ(state.m_nWidth, 0);
}

TEST(FrameHeader, BlockWalkStaysInsideTheHeader) {
    struct Case {
        const char* name;
        int32_t firstLength;  // data length of an unknown first block at offset 12
        bool mrfRead;
    };
    // An unknown block of 12 bytes puts "MRF_" at offset 32, whose fields end at byte 52: read.
    // One of 20 puts it at 40: its fields would end at 60, past the header, and are not read.
    // A negative length ends the walk.
    const Case cases[] = {{"fits", 12, true}, {"runs past byte 56", 20, false},
                          {"negative length", -8, false}, {"huge length", 0x7FFFFFF0, false}};
    for (const auto& c : cases) {
        std::vector<uint8_t> header(kFrameHeaderSize);
        WriteFrameHeader(header.data(), 4, 4, 4, false, 0);
        int32_t listLength = 44;
        std::memcpy(&header[8], &listLength, 4);
        PutBlock(header, 12, "XYZ_", c.firstLength);
        const int64_t mrf = 12 + 8 + int64_t{std::max(0, c.firstLength)};
        if (mrf + 20 <= kFrameHeaderSize) {
            PutBlock(header, static_cast<int>(mrf), "MRF_", 12);
            const uint16_t format = 4;
            const int32_t w = 6, h = 2;
            std::memcpy(&header[mrf + 8], &format, 2);
            std::memcpy(&header[mrf + 12], &w, 4);
            std::memcpy(&header[mrf + 16], &h, 4);
        } else if (mrf + 8 <= kFrameHeaderSize) {
            PutBlock(header, static_cast<int>(mrf), "MRF_", 12);
        }
        FrameHeaderState state;
        EXPECT_TRUE(ParseFrameHeader(header.data(), state)) << c.name;
        EXPECT_EQ(state.m_nWidth == 6, c.mrfRead) << c.name;
    }
}

TEST(FrameHeader, AnImpossibleImageSizeIsNoHeaderAndSetsNothing) {
    const struct {
        int32_t w, h;
    } sizes[] = {{0, 4}, {4, 0}, {-4, 4}, {4, -1}, {65536, 65536}, {1000, 1000}, {999973, 1}};
    for (const auto& s : sizes) {
        FrameHeaderState state;
        state.m_nWidth = 7;
        auto header = HeaderBytes(4, s.w, s.h, true, 0x1234);
        EXPECT_FALSE(ParseFrameHeader(header.data(), state)) << s.w << "x" << s.h;
        EXPECT_EQ(state.m_nWidth, 7);
        EXPECT_FALSE(state.m_bCrcPresent);
    }
    FrameHeaderState state;
    auto largest = HeaderBytes(4, 999972, 1, false, 0);  // 56 + 2 x 999,972 = 2,000,000
    EXPECT_TRUE(ParseFrameHeader(largest.data(), state));
}

TEST(FrameCrc, CheckValueEmptyInputAndFastPathAgreeWithTheTableMethod) {
    const char* digits = "123456789";
    EXPECT_EQ(FrameCrc32(digits, 9), 0xE7E67603u);
    EXPECT_EQ(FrameCrc32Bytewise(digits, 9), 0xE7E67603u);
    EXPECT_EQ(FrameCrc32(digits, 0), 0xFFFFFFFFu);
    EXPECT_EQ(FrameCrc32(digits, -5), 0xFFFFFFFFu);
    EXPECT_EQ(FrameCrc32(nullptr, 9), 0xFFFFFFFFu);

    std::mt19937 rng(7);
    std::vector<uint8_t> data(70003);
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    // Every length around the fast path's block sizes, and odd starting addresses.
    for (int32_t len : {1, 15, 16, 17, 63, 64, 65, 79, 80, 127, 128, 129, 191, 255, 1000, 65536,
                        69999}) {
        for (int offset : {0, 1, 3}) {
            EXPECT_EQ(FrameCrc32(data.data() + offset, len),
                      FrameCrc32Bytewise(data.data() + offset, len))
                << len << " at +" << offset;
        }
    }
}

TEST(DeviceParams, ReadoutTextsOfTheExampleWords) {
    struct Case {
        int field;
        uint16_t word;
        const char* text;
    };
    const Case cases[] = {
        {kFocalPlane, 0x0929, "23.45℃"}, {kFocalPlane, 0x2929, "-23.45℃"},
        {kCavity, 0x1FFF, "81.91℃"},     {kPcb, 0x0000, "0.00℃"},
        {kPcb, 0x2000, "-0.00℃"},        {kVitec, 0xFFFF, "655.35"},
        {kEocc, 0x8000, "-32768"},        {kTec, 3, "3"},
        {kBValue, 0xFFFF, "-1"},
    };
    for (const auto& c : cases) {
        DeviceParams params{};
        uint16_t* words = reinterpret_cast<uint16_t*>(&params);
        const int wordIndex[] = {0, 1, 2, 3, 4, 5, 11};
        words[wordIndex[c.field]] = c.word;
        ReadoutTexts texts;
        FormatReadouts(params, texts);
        EXPECT_STREQ(texts.text[c.field], c.text) << "field " << c.field;
    }
}

TEST(DeviceParams, ParameterRowAndCentreBlockStayInsideTheImage) {
    const std::vector<uint16_t> words = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
    auto image = testing::MakeImage(14, 2, 1, words);
    auto params = ReadDeviceParams(image.data(), 14, 2);
    ASSERT_TRUE(params);
    EXPECT_EQ(params->focalPlaneTemp, 1);
    EXPECT_EQ(params->responsivityLevel, 14);
    EXPECT_FALSE(ReadDeviceParams(image.data(), 13, 2));
    EXPECT_FALSE(ReadDeviceParams(image.data(), 14, 1));

    // With 5 x 5 pixels the centre block is the whole image; values are signed and truncated.
    std::vector<uint8_t> small(50);
    for (int i = 0; i < 25; ++i) {
        const int16_t v = i == 0 ? -30 : 1;
        std::memcpy(&small[2 * i], &v, 2);
    }
    EXPECT_EQ(CentreGrayValue(small.data(), 5, 5), (-30 + 24) / 25);
    std::vector<uint8_t> hot(50, 0xFF);
    EXPECT_EQ(CentreGrayValue(hot.data(), 5, 5), -1);
    EXPECT_FALSE(CentreGrayValue(small.data(), 4, 6));
}

}  // namespace
}  // namespace kestrix
