// A gain-control work block set up by AGC_Create for the tests, in the given mode; setting up and
// converting are expected to succeed.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "agc.h"
#include "agc_internal.h"

namespace kx::agc::testing {

struct Block {
    std::vector<uint64_t> words = std::vector<uint64_t>(AGC_MEM_SIZE / sizeof(uint64_t));
    AgcHandle handle = nullptr;

    Block(uint32_t width, uint32_t height, int32_t mode = AGC_MODE_LINE) {
        const AgcParams params{static_cast<int32_t>(width), static_cast<int32_t>(height)};
        EXPECT_EQ(AGC_Create(&params, words.data(), AGC_MEM_SIZE, &handle), AGC_OK);
        EXPECT_EQ(AGC_SetMode(handle, mode), AGC_OK);
    }
    const uint8_t* Bytes() const { return reinterpret_cast<const uint8_t*>(words.data()); }
    const uint8_t* Lut() const { return Bytes() + kLutOffset; }
    std::vector<uint8_t> Process(const std::vector<uint16_t>& image) {
        std::vector<uint8_t> gray(image.size(), 0xA5);
        EXPECT_EQ(AGC_Process(handle, image.data(), gray.data()), AGC_OK);
        return gray;
    }
};

}  // namespace kx::agc::testing
