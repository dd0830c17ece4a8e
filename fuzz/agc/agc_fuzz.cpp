// Arbitrary frames, sizes and modes through AGC_Process, each compared byte for byte (picture,
// table and counters) with the plain reference conversion.
//
// Input: mode byte, width byte (width 1 .. 256), shape byte, then samples (16-bit, native order).
// The frame is as many whole rows as the samples fill. A shape byte with every bit but the fourth
// set repeats the samples to more than 65,536 pixels, so that counters wrap; the fourth bit
// chooses the AVX2 kernels (where the processor has them) or the SSE2 ones.
//
// The work block and the buffers live as long as the process; AGC_Create clears the block for
// every input.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "agc.h"
#include "agc_internal.h"
#include "agc_reference.h"

namespace {

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

// Fills `out` with copies of `pattern`, doubling what is written so far.
void Repeat(const uint16_t* pattern, size_t n, std::vector<uint16_t>& out) {
    const size_t first = std::min(n, out.size());
    std::memcpy(out.data(), pattern, first * sizeof(uint16_t));
    for (size_t done = first; done < out.size();) {
        const size_t step = std::min(done, out.size() - done);
        std::memcpy(out.data() + done, out.data(), step * sizeof(uint16_t));
        done += step;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return 0;
    const int32_t mode = 1 + data[0] % 3;
    const uint32_t width = 1u + data[1];
    const bool tile = (data[2] & 0xF7) == 0xF7;
    kx::agc::SetWideKernels((data[2] & 8) != 0);
    const size_t samples = (size - 3) / 2;
    static std::vector<uint16_t> input;
    input.resize(samples);
    std::memcpy(input.data(), data + 3, samples * sizeof(uint16_t));

    const size_t wanted = tile ? 65536 + 61 * size_t{data[3]} : samples;
    const uint32_t height = static_cast<uint32_t>(std::max<size_t>(1, wanted / width));
    static std::vector<uint16_t> image;
    image.resize(size_t{width} * height);
    Repeat(input.data(), input.size(), image);

    alignas(8) static uint8_t block[AGC_MEM_SIZE];
    const AgcParams params{static_cast<int32_t>(width), static_cast<int32_t>(height)};
    AgcHandle agc = nullptr;
    Check(AGC_Create(&params, block, AGC_MEM_SIZE, &agc) == AGC_OK);
    Check(AGC_SetMode(agc, mode) == AGC_OK);
    static std::vector<uint8_t> gray, wantGray;
    gray.resize(image.size());
    wantGray.resize(image.size());
    Check(AGC_Process(agc, image.data(), gray.data()) == AGC_OK);

    using namespace kx::agc;
    const Tuning tuning =
        PresetFor(static_cast<uint8_t>(mode), PresetFor(AGC_MODE_LINE, 0).contrast);
    static uint8_t wantLut[kValues];
    static uint16_t wantHist[kValues];
    std::memset(wantLut, 0, sizeof wantLut);  // as AGC_Create leaves the block's table
    const Stats want =
        reference::Convert(tuning, width, height, image.data(), wantGray.data(), wantLut, wantHist);
    Check(want.low < want.high && want.high <= want.peak && want.peak <= kMaxValue);
    Check(std::memcmp(gray.data(), wantGray.data(), gray.size()) == 0);
    Check(std::memcmp(block + kLutOffset, wantLut, kValues) == 0);
    Check(std::memcmp(block + kHistOffset, wantHist, sizeof wantHist) == 0);
    return 0;
}
