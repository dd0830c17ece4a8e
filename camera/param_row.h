// The emulated camera's device parameters: slowly drifting, plausible values and their encoding
// as the fourteen little-endian words at the start of image row H - 2.
#pragma once

#include <array>
#include <cstdint>

namespace camsim {

constexpr int kParamWordCount = 14;
using ParamWords = std::array<uint16_t, kParamWordCount>;

// Sign and magnitude: the low 13 bits hold hundredths of a degree (at most 81.91), bit 13 marks
// a negative value.
uint16_t EncodeTemperature(double celsius);

// The parameter words of an image of width x height at t seconds after the camera started.
ParamWords DeviceParamWords(double t, int32_t width, int32_t height);

}  // namespace camsim
