// Helpers for the gain control's tests: a work block with its handle.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "agc.h"
#include "agc_internal.h"

namespace kx::agc::testing {

// A work block set up by AGC_Create for width x height pixels, in the given mode.
class Block {
  public:
    Block(uint32_t width, uint32_t height, int32_t mode = AGC_MODE_LINE)
        : m_words(AGC_MEM_SIZE / sizeof(uint64_t)), m_width(width), m_height(height) {
        const AgcParams params{static_cast<int32_t>(width), static_cast<int32_t>(height)};
        m_created = AGC_Create(&params, m_words.data(), AGC_MEM_SIZE, &m_handle);
        if (m_created == AGC_OK && mode != AGC_MODE_LINE) m_created = AGC_SetMode(m_handle, mode);
    }
    int32_t Created() const { return m_created; }
    AgcHandle Handle() const { return m_handle; }
    const uint8_t* Bytes() const { return reinterpret_cast<const uint8_t*>(m_words.data()); }
    const uint8_t* Lut() const { return Bytes() + kLutOffset; }
    const uint16_t* Hist() const {
        return reinterpret_cast<const uint16_t*>(Bytes() + kHistOffset);
    }

    std::vector<uint8_t> Process(const std::vector<uint16_t>& image) {
        std::vector<uint8_t> gray(size_t{m_width} * m_height, 0xA5);
        m_result = AGC_Process(m_handle, image.data(), gray.data());
        return gray;
    }
    int32_t Result() const { return m_result; }

  private:
    std::vector<uint64_t> m_words;
    uint32_t m_width;
    uint32_t m_height;
    AgcHandle m_handle = nullptr;
    int32_t m_created = -1;
    int32_t m_result = -1;
};

// The settings that AGC_Create followed by AGC_SetMode(mode) leave (Histeq keeps Line's contrast).
inline Tuning TuningAfterCreate(int32_t mode) {
    return PresetFor(static_cast<uint8_t>(mode), PresetFor(AGC_MODE_LINE, 0).contrast);
}

// "" when equal, else where and how the two first differ.
template <typename T>
std::string FirstDifference(const T* got, const T* want, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (got[i] != want[i]) {
            return "at " + std::to_string(i) + ": got " + std::to_string(got[i]) + ", want " +
                   std::to_string(want[i]);
        }
    }
    return "";
}

}  // namespace kx::agc::testing
