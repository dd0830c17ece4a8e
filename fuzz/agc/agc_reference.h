// The gain control's integer algorithm written out plainly, one step after the other: the oracle
// that the fast conversion is compared with, byte for byte.
#pragma once

#include <cstdint>

#include "agc_internal.h"

namespace kx::agc::reference {

// Converts one frame: fills hist and lut as the work block holds them afterwards, writes gray and
// returns the frame's bounds and means.
Stats Convert(const Tuning& tuning, uint32_t width, uint32_t height, const uint16_t* image,
              uint8_t* gray, uint8_t* lut, uint16_t* hist);

}  // namespace kx::agc::reference
