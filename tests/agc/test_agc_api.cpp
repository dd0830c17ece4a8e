// The gain control's C entry points: result codes and guards, the work block's layout after
// AGC_Create, and the mode presets that AGC_SetMode reloads.
#include <gtest/gtest.h>

#include "agc_harness.h"

namespace kx::agc {
namespace {

constexpr uint64_t kFill = 0xABABABABABABABABull;

TEST(AgcApi, CreateRefusesBadArgumentsAndLeavesTheBlockAlone) {
    int32_t size = 0;
    EXPECT_EQ(AGC_GetMemSize(nullptr, &size), AGC_OK);
    EXPECT_EQ(size, 49280);
    const AgcParams vga{640, 512};
    EXPECT_EQ(AGC_GetMemSize(&vga, nullptr), AGC_E_NULLPTR);
    struct Row {
        const char* name;
        int32_t width, height, blockSize, result;
        bool nullParams = false, nullBlock = false, nullHandle = false;
        size_t misalign = 0;
    } const rows[] = {
        {"null params", 640, 512, AGC_MEM_SIZE, AGC_E_NULLPTR, true},
        {"null block", 640, 512, AGC_MEM_SIZE, AGC_E_NULLPTR, false, true},
        {"null handle", 640, 512, AGC_MEM_SIZE, AGC_E_NULLPTR, false, false, true},
        {"short block", 640, 512, AGC_MEM_SIZE - 1, AGC_E_MEMSIZE},
        {"negative size", 640, 512, -1, AGC_E_MEMSIZE},
        {"misaligned block", 640, 512, AGC_MEM_SIZE, AGC_E_MEMSIZE, false, false, false, 2},
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
        EXPECT_EQ(AGC_Create(r.nullParams ? nullptr : &params, r.nullBlock ? nullptr : block,
                             r.blockSize, r.nullHandle ? nullptr : &handle),
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
}

TEST(AgcApi, EachModeChoiceReloadsItsPreset) {
    testing::Block block(64, 48);
    const AgcHandle h = block.Handle();
    const auto settings = [&] {
        return std::vector<int>{h->mode,       h->lowCut,   h->highCut,
                                h->brightness, h->contrast, h->minSpan};
    };
    EXPECT_EQ(settings(), (std::vector<int>{1, 20, 20, 100, 220, 160})) << "after AGC_Create";
    struct Step {
        int32_t mode;
        std::vector<int> settings;
    } const steps[] = {
        {AGC_MODE_HISTEQ, {2, 20, 20, 96, 220, 160}},  // contrast left as Line had it
        {AGC_MODE_SPECIAL, {3, 10, 20, 80, 150, 120}},
        {AGC_MODE_HISTEQ, {2, 20, 20, 96, 150, 160}},  // ... and as Special had it
        {AGC_MODE_LINE, {1, 20, 20, 100, 220, 160}},
        {AGC_MODE_LINE, {1, 20, 20, 100, 220, 160}},
    };
    for (const Step& s : steps) {
        h->brightness = 7;  // a stray change is undone by the reload
        ASSERT_EQ(AGC_SetMode(h, s.mode), AGC_OK);
        EXPECT_EQ(settings(), s.settings) << "mode " << s.mode;
    }
    const std::vector<uint8_t> before(block.Bytes(), block.Bytes() + 128);
    for (int32_t mode : {0, 4, -1, 255, 257}) EXPECT_EQ(AGC_SetMode(h, mode), AGC_E_MODE);
    EXPECT_EQ(std::vector<uint8_t>(block.Bytes(), block.Bytes() + 128), before);
    EXPECT_EQ(AGC_SetMode(nullptr, AGC_MODE_LINE), AGC_E_NULLPTR);
}

TEST(AgcApi, ProcessRefusesNullPointersAndWritesNothing) {
    testing::Block block(8, 4);
    std::vector<uint16_t> image(32, 5000);
    std::vector<uint8_t> gray(32, 0x5A);
    EXPECT_EQ(AGC_Process(nullptr, image.data(), gray.data()), AGC_E_NULLPTR);
    EXPECT_EQ(AGC_Process(block.Handle(), nullptr, gray.data()), AGC_E_NULLPTR);
    EXPECT_EQ(AGC_Process(block.Handle(), image.data(), nullptr), AGC_E_NULLPTR);
    EXPECT_EQ(std::count(gray.begin(), gray.end(), 0x5A), 32);
    EXPECT_EQ(std::count(block.Bytes() + 128, block.Bytes() + AGC_MEM_SIZE, 0), AGC_MEM_SIZE - 128);
}

}  // namespace
}  // namespace kx::agc
