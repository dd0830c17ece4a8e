// Frame intake speed: the image CRC against Boost's table CRC and memcpy, and the worker's whole
// intake of 640 x 512 frames (push, pop, header scan, CRC, readouts).
#include <benchmark/benchmark.h>

#include <boost/crc.hpp>
#include <cstring>
#include <random>
#include <vector>

#include "frame_format.h"
#include "frame_pipeline.h"

namespace kestrix {
namespace {

constexpr int32_t kWidth = 640, kHeight = 512;
constexpr size_t kImageBytes = 2 * kWidth * kHeight;

std::vector<uint8_t> RandomBytes(size_t n) {
    std::vector<uint8_t> v(n);
    std::mt19937 rng(1);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    return v;
}

void BM_FrameCrc32(benchmark::State& state) {
    const auto image = RandomBytes(kImageBytes);
    for (auto _ : state) benchmark::DoNotOptimize(FrameCrc32(image.data(), kImageBytes));
    state.SetBytesProcessed(state.iterations() * kImageBytes);
}
BENCHMARK(BM_FrameCrc32);

void BM_BoostCrc(benchmark::State& state) {
    const auto image = RandomBytes(kImageBytes);
    for (auto _ : state) {
        boost::crc_optimal<32, 0x04C11DB7, 0xFFFFFFFF, 0, false, false> crc;
        crc.process_bytes(image.data(), image.size());
        benchmark::DoNotOptimize(crc.checksum());
    }
    state.SetBytesProcessed(state.iterations() * kImageBytes);
}
BENCHMARK(BM_BoostCrc);

void BM_Memcpy(benchmark::State& state) {
    const auto image = RandomBytes(kImageBytes);
    std::vector<uint8_t> copy(kImageBytes);
    for (auto _ : state) {
        std::memcpy(copy.data(), image.data(), kImageBytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kImageBytes);
}
BENCHMARK(BM_Memcpy);

class NullSink : public FrameSink {
public:
    void UpdateReadouts(const ReadoutUpdate& u) override { benchmark::DoNotOptimize(u.texts.text[0][0]); }
    void ShowLiveFrame(const DisplayFrame&, const uint8_t*) override {}
    void ShowNotice(const char*) override {}
};

// One 640 x 512 frame with a CRC block, a thermal-like scene (a gradient of a few hundred counts
// around 7,000 with sensor noise) sent most significant byte first, as the camera sends it.
// `format` 5 stops after the readouts, 4 runs ProcessFrame.
std::vector<uint8_t> MakeStreamFrame(uint16_t format) {
    std::vector<uint8_t> frame(kFrameHeaderSize + kImageBytes);
    std::vector<uint8_t> image(kImageBytes);
    std::mt19937 rng(3);
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x) {
            const uint16_t v = static_cast<uint16_t>(7000 + x / 3 + y / 4 + (rng() & 31));
            const size_t i = 2 * (static_cast<size_t>(y) * kWidth + x);
            image[i] = static_cast<uint8_t>(v >> 8);
            image[i + 1] = static_cast<uint8_t>(v);
        }
    }
    WriteFrameHeader(frame.data(), format, kWidth, kHeight, true,
                     FrameCrc32(image.data(), kImageBytes));
    std::memcpy(frame.data() + kFrameHeaderSize, image.data(), kImageBytes);
    return frame;
}

void RunIntake(benchmark::State& state, uint16_t format) {
    const auto frame = MakeStreamFrame(format);
    NullSink sink;
    FramePipeline pipeline(&sink);
    pipeline.PrepareRing();
    pipeline.m_bWorkerRun = true;
    constexpr size_t kChunk = 65536;
    for (auto _ : state) {
        for (size_t off = 0; off < frame.size(); off += kChunk) {
            const size_t n = std::min(kChunk, frame.size() - off);
            StreamDataCallback(0, 2, const_cast<uint8_t*>(frame.data() + off),
                               static_cast<uint32_t>(n), &pipeline);
            while (pipeline.RunPass() != FramePipeline::PassResult::kIdle) {
            }
        }
    }
    if (pipeline.m_nFramesAccepted.load() + 1 < static_cast<uint64_t>(state.iterations())) {
        state.SkipWithError("frames were lost");
    }
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.SetBytesProcessed(state.iterations() * frame.size());
}

void BM_WorkerIntake(benchmark::State& state) { RunIntake(state, 5); }
BENCHMARK(BM_WorkerIntake)->Unit(benchmark::kMillisecond);

void BM_WorkerIntakeAndProcess(benchmark::State& state) { RunIntake(state, 4); }
BENCHMARK(BM_WorkerIntakeAndProcess)->Unit(benchmark::kMillisecond);

// ProcessFrame alone on an extracted 640 x 512 frame: image copy, the byte swap, gain control and
// the display picture, no record or snapshot due.
void BM_ProcessFrame(benchmark::State& state) {
    const auto frame = MakeStreamFrame(4);
    NullSink sink;
    FramePipeline pipeline(&sink);
    pipeline.PrepareRing();
    StreamDataCallback(0, 2, const_cast<uint8_t*>(frame.data()), 65536, &pipeline);
    for (size_t off = 65536; off < frame.size(); off += 65536) {
        StreamDataCallback(0, 2, const_cast<uint8_t*>(frame.data() + off),
                           static_cast<uint32_t>(std::min<size_t>(65536, frame.size() - off)),
                           &pipeline);
    }
    while (pipeline.RunPass() != FramePipeline::PassResult::kIdle) {
    }
    pipeline.SetAgcMode(static_cast<int32_t>(state.range(0)));
    // The accepted image stands in the assembly buffer until the next frame.
    std::memcpy(pipeline.m_pAssembly.get() + pipeline.m_nStart, frame.data() + kFrameHeaderSize,
                kImageBytes);
    for (auto _ : state) {
        pipeline.ProcessFrame();
        benchmark::DoNotOptimize(pipeline.m_DisplayFrame.data);
    }
}
BENCHMARK(BM_ProcessFrame)->Arg(AGC_MODE_LINE)->Arg(AGC_MODE_HISTEQ)->Arg(AGC_MODE_SPECIAL)
    ->Unit(benchmark::kMicrosecond);

// The memory floor: read the 16-bit frame once and write an 8-bit one.
void BM_MemoryFloor(benchmark::State& state) {
    const auto image = RandomBytes(kImageBytes);
    std::vector<uint8_t> gray(kImageBytes / 2);
    const auto* in = reinterpret_cast<const uint16_t*>(image.data());
    for (auto _ : state) {
        for (size_t i = 0; i < gray.size(); ++i) gray[i] = static_cast<uint8_t>(in[i] >> 6);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_MemoryFloor)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kestrix
