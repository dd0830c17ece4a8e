// Arbitrary frames, sizes and modes through AGC_Process, each compared byte for byte (picture,
// table and counters) with the plain reference conversion.
//
// Input: mode byte, width byte (width 1 .. 256), shape byte, then samples (16-bit, native order).
// A shape byte ending in three set bits tiles the samples to more than 65,536 pixels, so that
// counters wrap.
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return 0;
    const int32_t mode = 1 + data[0] % 3;
    const uint32_t width = 1u + data[1];
    const bool tile = (data[2] & 7) == 7;
    std::vector<uint16_t> samples((size - 3) / 2);
    std::memcpy(samples.data(), data + 3, samples.size() * sizeof(uint16_t));

    const size_t wanted = tile ? 65536 + 61 * size_t{data[2]} : samples.size();
    const uint32_t height = static_cast<uint32_t>(std::max<size_t>(1, wanted / width));
    std::vector<uint16_t> image(size_t{width} * height);
    for (size_t i = 0; i < image.size(); ++i) image[i] = samples[i % samples.size()];

    std::vector<uint64_t> block(AGC_MEM_SIZE / sizeof(uint64_t));
    const AgcParams params{static_cast<int32_t>(width), static_cast<int32_t>(height)};
    AgcHandle agc = nullptr;
    Check(AGC_Create(&params, block.data(), AGC_MEM_SIZE, &agc) == AGC_OK);
    Check(AGC_SetMode(agc, mode) == AGC_OK);
    std::vector<uint8_t> gray(image.size());
    Check(AGC_Process(agc, image.data(), gray.data()) == AGC_OK);

    using namespace kx::agc;
    const Tuning tuning =
        PresetFor(static_cast<uint8_t>(mode), PresetFor(AGC_MODE_LINE, 0).contrast);
    std::vector<uint8_t> wantGray(image.size()), wantLut(kValues);
    std::vector<uint16_t> wantHist(kValues);
    const Stats want = reference::Convert(tuning, width, height, image.data(), wantGray.data(),
                                          wantLut.data(), wantHist.data());
    Check(want.low < want.high && want.high <= want.peak && want.peak <= kMaxValue);
    Check(gray == wantGray);
    const auto* bytes = reinterpret_cast<const uint8_t*>(block.data());
    Check(std::memcmp(bytes + kLutOffset, wantLut.data(), kValues) == 0);
    Check(std::memcmp(bytes + kHistOffset, wantHist.data(), kValues * sizeof(uint16_t)) == 0);
    return 0;
}
