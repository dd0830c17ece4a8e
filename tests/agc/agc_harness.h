// A gain-control work block with its handle, for the tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "agc.h"
#include "agc_internal.h"

namespace kx::agc::testing {

// A work block set up by AGC_Create for width x height pixels, in the given mode; setting up and
// converting are expected to succeed.
class Block {
  public:
    Block(uint32_t width, uint32_t height, int32_t mode = AGC_MODE_LINE)
        : m_words(AGC_MEM_SIZE / sizeof(uint64_t)), m_pixels(size_t{width} * height) {
        const AgcParams params{static_cast<int32_t>(width), static_cast<int32_t>(height)};
        EXPECT_EQ(AGC_Create(&params, m_words.data(), AGC_MEM_SIZE, &m_handle), AGC_OK);
        EXPECT_EQ(AGC_SetMode(m_handle, mode), AGC_OK);
    }
    AgcHandle Handle() const { return m_handle; }
    const uint8_t* Bytes() const { return reinterpret_cast<const uint8_t*>(m_words.data()); }
    const uint8_t* Lut() const { return Bytes() + kLutOffset; }

    std::vector<uint8_t> Process(const std::vector<uint16_t>& image) {
        std::vector<uint8_t> gray(m_pixels, 0xA5);
        EXPECT_EQ(AGC_Process(m_handle, image.data(), gray.data()), AGC_OK);
        return gray;
    }

  private:
    std::vector<uint64_t> m_words;
    size_t m_pixels;
    AgcHandle m_handle = nullptr;
};

}  // namespace kx::agc::testing
