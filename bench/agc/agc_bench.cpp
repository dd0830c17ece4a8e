// AGC_Process in each mode at 640 x 512 and 1280 x 1024 on a thermal-like 14-bit frame, beside the
// memory floor: one pass that only reads the 16-bit frame and writes an 8-bit one. The AGC runs
// also report best_us and floor_us (best batch of each, timed alternately) and their ratio x_floor;
// their Time column counts one AGC_Process and one floor pass per batch call.
//
// BM_CountValues is the first step of every mode alone, the histogram: one increment per pixel at
// an address chosen by its value, which no vector instruction of this processor does.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "agc.h"
#include "agc_frames.h"
#include "agc_internal.h"

namespace {

// The cheapest conversion there is (the top bits of each sample), vectorised, so that only memory
// traffic is left to measure.
void MemoryFloor(const uint16_t* in, size_t count, uint8_t* out) {
    size_t i = 0;
#if defined(__SSE2__)
    for (; i + 16 <= count; i += 16) {
        const __m128i a =
            _mm_srli_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i)), 6);
        const __m128i b =
            _mm_srli_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i + 8)), 6);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(a, b));
    }
#endif
    for (; i < count; ++i) out[i] = static_cast<uint8_t>(in[i] >> 6);
}

constexpr int kBatch = 4;

// Microseconds per call over a batch of kBatch calls.
template <typename Call>
double BatchMicros(Call call) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kBatch; ++i) {
        call();
        benchmark::ClobberMemory();
    }
    const std::chrono::duration<double, std::micro> spent =
        std::chrono::steady_clock::now() - start;
    return spent.count() / kBatch;
}

void SetPixels(benchmark::State& state, size_t count) {
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * count));
}

void BM_MemoryFloor(benchmark::State& state) {
    const auto w = static_cast<uint32_t>(state.range(0)), h = static_cast<uint32_t>(state.range(1));
    const std::vector<uint16_t> image = kx::agc::frames::Thermal(w, h);
    std::vector<uint8_t> gray(image.size());
    for (auto _ : state) {
        MemoryFloor(image.data(), image.size(), gray.data());
        benchmark::DoNotOptimize(gray.data());
        benchmark::ClobberMemory();
    }
    SetPixels(state, image.size());
}

void BM_CountValues(benchmark::State& state) {
    const auto w = static_cast<uint32_t>(state.range(0)), h = static_cast<uint32_t>(state.range(1));
    const std::vector<uint16_t> image = kx::agc::frames::Thermal(w, h);
    std::vector<uint16_t> hist(kx::agc::kValues);
    for (auto _ : state) {
        kx::agc::CountValues(image.data(), image.size(), hist.data());
        benchmark::DoNotOptimize(hist.data());
        benchmark::ClobberMemory();
    }
    SetPixels(state, image.size());
}

void BM_AgcProcess(benchmark::State& state) {
    const auto w = static_cast<uint32_t>(state.range(0)), h = static_cast<uint32_t>(state.range(1));
    const auto mode = static_cast<int32_t>(state.range(2));
    const std::vector<uint16_t> image = kx::agc::frames::Thermal(w, h);
    std::vector<uint8_t> gray(image.size());
    std::vector<uint64_t> block(AGC_MEM_SIZE / sizeof(uint64_t));
    const AgcParams params{static_cast<int32_t>(w), static_cast<int32_t>(h)};
    AgcHandle agc = nullptr;
    if (AGC_Create(&params, block.data(), AGC_MEM_SIZE, &agc) != AGC_OK ||
        AGC_SetMode(agc, mode) != AGC_OK) {
        state.SkipWithError("AGC_Create failed");
        return;
    }
    // Besides the usual figures: the best of many short batches of each, timed alternately, so
    // that the ratio to the floor holds up on a busy machine.
    double agcBest = 1e9;
    double floorBest = 1e9;
    for (auto _ : state) {
        const double agcTime = BatchMicros([&] { AGC_Process(agc, image.data(), gray.data()); });
        const double floorTime =
            BatchMicros([&] { MemoryFloor(image.data(), image.size(), gray.data()); });
        agcBest = std::min(agcBest, agcTime);
        floorBest = std::min(floorBest, floorTime);
    }
    state.counters["best_us"] = agcBest;
    state.counters["floor_us"] = floorBest;
    state.counters["x_floor"] = agcBest / floorBest;
    SetPixels(state, image.size() * 2 * kBatch);
}

BENCHMARK(BM_MemoryFloor)->Args({640, 512})->Args({1280, 1024})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CountValues)->Args({640, 512})->Args({1280, 1024})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AgcProcess)
    ->ArgNames({"w", "h", "mode"})
    ->ArgsProduct({{640}, {512}, {AGC_MODE_LINE, AGC_MODE_HISTEQ, AGC_MODE_SPECIAL}})
    ->ArgsProduct({{1280}, {1024}, {AGC_MODE_LINE, AGC_MODE_HISTEQ, AGC_MODE_SPECIAL}})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
