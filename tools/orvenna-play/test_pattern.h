// Test pictures for orvenna-play and the display tests: smooth colour gradients with a moving
// box, packed in any of Orvenna's fourteen frame formats, and the byte count of a frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvenna_play {

// Bytes of one frame of `format` (ORVD_FORMAT_*) at width × height, laid out as ORVD_DisplayFrame
// reads it; 0 for an unknown format.
size_t FrameBytes(uint32_t format, uint32_t width, uint32_t height);

// The format code of a name ("UYVY", "rgb24", ...), or -1.
int FormatByName(const char* name);
const char* FormatName(uint32_t format);

// The colour of pixel (x, y) of picture number `n`, before packing.
struct PatternPixel {
    uint8_t r, g, b;
};
PatternPixel PatternAt(uint32_t x, uint32_t y, uint32_t width, uint32_t height, uint32_t n);

// BT.601 video-range YUV of a colour, as the YUV formats store it.
void RgbToYuv(const PatternPixel& rgb, uint8_t* y, uint8_t* u, uint8_t* v);

// Picture number `n` packed in `format`. The YUV formats that share chroma between pixels take
// the chroma of the top-left pixel of each group.
std::vector<uint8_t> MakePatternFrame(uint32_t format, uint32_t width, uint32_t height, uint32_t n);

}  // namespace orvenna_play
