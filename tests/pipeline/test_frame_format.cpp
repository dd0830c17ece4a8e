// Header parse, CRC and parameter-row decoding.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "frame_format.h"
#include "stream_builder.h"

namespace kestrix {
namespace {

struct Block {
    const char* tag;
    int32_t length;
    uint32_t a = 0, b = 0, c = 0;  // "MRF_": format, width, height; "CRC_": the CRC field
};

// Magic words, the list length (the blocks' total unless given) and the blocks one after another;
// what would lie past byte 56 is left out.
std::vector<uint8_t> Header(std::initializer_list<Block> blocks, int64_t listLength = -1) {
    std::vector<uint8_t> h(kFrameHeaderSize + 64);
    const uint32_t magic[] = {kFrameMagic1, kFrameMagic2};
    std::memcpy(h.data(), magic, 8);
    int64_t at = 12;
    for (const Block& k : blocks) {
        if (at + 8 > kFrameHeaderSize) break;
        std::memcpy(&h[at], k.tag, 4);
        std::memcpy(&h[at + 4], &k.length, 4);
        const uint32_t fields[] = {k.a, k.b, k.c};
        const bool crc = k.tag == std::string("CRC_");  // its field follows 4 bytes of flags
        std::memcpy(&h[at + (crc ? 12 : 8)], fields, crc ? 4 : 12);
        at += 8 + std::max(0, k.length);
    }
    const auto length = static_cast<int32_t>(listLength >= 0 ? listLength : at - 12);
    std::memcpy(&h[8], &length, 4);
    h.resize(kFrameHeaderSize);
    return h;
}

Block Mrf(uint32_t format, uint32_t width, uint32_t height) {
    return {"MRF_", 12, format, width, height};
}
Block Crc(uint32_t crc) {
    return {"CRC_", 8, crc};
}

std::vector<uint32_t> Fields(const FrameHeaderState& s) {
    return {s.m_nFrameFormat, uint32_t(s.m_nWidth), uint32_t(s.m_nHeight), s.m_nFrameCrc,
            s.m_bCrcPresent};
}

// Each header parsed over the state an earlier one left: what it accepts and what it sets.
TEST(FrameHeader, BlockWalk) {
    const FrameHeaderState before{9, 7, 3, 0x11223344, false};
    const std::vector<uint32_t> kept = Fields(before);
    struct Row {
        const char* name;
        std::vector<uint8_t> header;
        bool accepted;
        std::vector<uint32_t> fields;  // format, width, height, CRC, CRC present
    } const rows[] = {
        // clang-format off
        {"size and CRC", Header({Mrf(4, 640, 512), Crc(0xE7E67603)}), true,
         {4, 640, 512, 0xE7E67603, 1}},
        {"no CRC_ block keeps the CRC", Header({Mrf(8, 4, 4)}), true, {8, 4, 4, 0x11223344, 0}},
        {"no MRF_ block keeps the size", Header({Crc(5)}), true, {9, 7, 3, 5, 1}},
        {"a list length of 0 reads no block", Header({Mrf(4, 4, 4)}, 0), true, kept},
        {"a negative list length reads no block", Header({Mrf(4, 4, 4)}, 0xFFFFFFFF), true, kept},
        {"unknown block skipped: MRF_ at 32 ends at byte 52",
         Header({{"XYZ_", 12}, Mrf(4, 6, 2)}), true, {4, 6, 2, 0x11223344, 0}},
        {"MRF_ at 40 would end past byte 56", Header({{"XYZ_", 20}, Mrf(4, 6, 2)}), true, kept},
        {"CRC_ at 44 would end past byte 56", Header({{"XYZ_", 24}, Crc(5)}), true, kept},
        {"a negative block length ends the walk", Header({{"XYZ_", -8}, Mrf(4, 6, 2)}, 44), true,
         kept},
        {"a huge block length ends the walk", Header({{"XYZ_", 0x7FFFFFF0}}, 44), true, kept},
        {"zero height", Header({Mrf(4, 4, 0), Crc(5)}), false, kept},
        {"negative height", Header({Mrf(4, 4, uint32_t(-1)), Crc(5)}), false, kept},
        {"product wraps 32 bits", Header({Mrf(4, 65536, 65536), Crc(5)}), false, kept},
        {"one pixel too big", Header({Mrf(4, 999973, 1), Crc(5)}), false, kept},
        // 56 + 2 x 999,972 = 2,000,000
        {"the largest image", Header({Mrf(4, 999972, 1)}), true, {4, 999972, 1, 0x11223344, 0}},
        // clang-format on
    };
    for (const Row& r : rows) {
        FrameHeaderState state = before;
        EXPECT_EQ(ParseFrameHeader(r.header.data(), state), r.accepted) << r.name;
        EXPECT_EQ(Fields(state), r.fields) << r.name;
    }
    const std::vector<uint8_t> good = Header({Mrf(4, 4, 4)});
    for (int i = 0; i < 8; ++i) {
        std::vector<uint8_t> header = good;
        header[i] ^= 0x01;
        FrameHeaderState state = before;
        EXPECT_FALSE(ParseFrameHeader(header.data(), state)) << "magic byte " << i;
        EXPECT_EQ(Fields(state), kept);
    }
    FrameHeaderState state;
    EXPECT_FALSE(ParseFrameHeader(nullptr, state));
}

TEST(FrameHeader, WrittenHeaderLayout) {
    std::vector<uint8_t> written(kFrameHeaderSize);
    WriteFrameHeader(written.data(), 4, 640, 512, true, 0xE7E67603);
    EXPECT_EQ(written, Header({Mrf(4, 640, 512), Crc(0xE7E67603), {"PAD_", 0}}, 44));
    WriteFrameHeader(written.data(), 8, 6, 2, false, 0);
    EXPECT_EQ(written, Header({Mrf(8, 6, 2), {"PAD_", 16}}, 44));
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
    for (int32_t len :
         {1, 15, 16, 17, 63, 64, 65, 79, 80, 127, 128, 129, 191, 255, 1000, 65536, 69999}) {
        for (int offset : {0, 1, 3}) {
            EXPECT_EQ(FrameCrc32(data.data() + offset, len),
                      FrameCrc32Bytewise(data.data() + offset, len))
                << len << " at +" << offset;
        }
    }
}

TEST(DeviceParams, ReadoutTextsOfTheExampleWords) {
    const struct {
        DeviceParams params;
        std::vector<std::string> texts;  // focal plane, cavity, PCB, VITEC, EOCC, TEC, B value
    } rows[] = {
        {{0x0929, 0x1FFF, 0x0000, 0xFFFF, 0x8000, 3, 0, 0, 0, 0, 0, 0xFFFF},
         {"23.45℃", "81.91℃", "0.00℃", "655.35", "-32768", "3", "-1"}},
        {{0x2929, 0, 0x2000}, {"-23.45℃", "0.00℃", "-0.00℃", "0.00", "0", "0", "0"}},
    };
    for (const auto& r : rows) {
        ReadoutTexts texts;
        FormatReadouts(r.params, texts);
        EXPECT_EQ(std::vector<std::string>(std::begin(texts.text), std::end(texts.text)), r.texts);
    }
}

TEST(DeviceParams, ParameterRowAndCentreBlockStayInsideTheImage) {
    const std::vector<uint16_t> words = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
    const auto image = testing::MakeImage(14, 2, 1, words);
    const auto params = ReadDeviceParams(image.data(), 14, 2);
    ASSERT_TRUE(params);
    EXPECT_EQ(std::memcmp(&*params, words.data(), sizeof *params), 0);
    EXPECT_FALSE(ReadDeviceParams(image.data(), 13, 2));
    EXPECT_FALSE(ReadDeviceParams(image.data(), 14, 1));

    // With 5 x 5 pixels the centre block is the whole image; values are signed and truncated (an
    // all-0xFF block giving -1 is in the text record's test).
    std::vector<int16_t> small(25, 1);
    small[0] = -30;
    const auto* bytes = reinterpret_cast<const uint8_t*>(small.data());
    EXPECT_EQ(CentreGrayValue(bytes, 5, 5), (-30 + 24) / 25);
    EXPECT_FALSE(CentreGrayValue(bytes, 4, 6));
}

}  // namespace
}  // namespace kestrix
