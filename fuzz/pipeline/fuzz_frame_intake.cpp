// Arbitrary bytes through the stream callback, the ring buffer and the worker's passes. The first
// bytes choose the chunking, the options and where in the ring the stream starts; a fraction of
// inputs get a valid frame spliced in so that the CRC and processing paths are reached too.
//
// One pipeline serves every input: its frame buffers and its ring (of a small unit) are made once,
// and per input the worker's state is reset and the ring's ends moved to the input's start, so an
// input behaves the same whatever ran before it.
//
// Input: chunk (2 bytes, 1 .. 2000 bytes a push), flags, ring start, then the stream.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "frame_format.h"
#include "frame_pipeline.h"

namespace {

using namespace kestrix;

// The worker pops 2,000 bytes a pass, so a ring unit cannot be smaller; ten units of it wrap
// within a few inputs' bytes.
constexpr int32_t kTestUnit = 2000;
// Frames of formats other than 4 and 8 are taken in and reported but not displayed.
constexpr uint16_t kNotDisplayed = 5;

class CheckingSink : public FrameSink {
public:
    void UpdateReadouts(const ReadoutUpdate& u) override {
        for (const auto& text : u.texts.text) {
            if (std::strlen(text) >= sizeof u.texts.text[0]) __builtin_trap();
        }
    }
    void ShowLiveFrame(const DisplayFrame& frame, const uint8_t* gray) override {
        if (frame.width <= 0 || frame.height <= 0 || !gray) __builtin_trap();
    }
    void ShowNotice(const char*) override {}
};

FramePipeline& Pipeline() {
    static CheckingSink sink;
    static FramePipeline pipeline(&sink);
    static const bool prepared = (pipeline.SetRingUnit(kTestUnit), pipeline.PrepareRing());
    (void)prepared;
    return pipeline;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return 0;
    const size_t chunk = 1 + (data[0] | (data[1] << 8)) % kTestUnit;
    const uint8_t flags = data[2];
    const int32_t ringStart = data[3] * 79;  // 0 .. 20,145: up to a whole ring ahead
    std::vector<uint8_t> stream(data + 4, data + size);
    if (flags & 1) {
        // A valid frame whose size comes from the input, in front of the fuzzed bytes. Half of
        // them are in a format that the worker takes in and reports but does not display: the
        // gain control, which has its own target, would otherwise run for every one.
        const int32_t w = 1 + (flags >> 1) % 31, h = 1 + data[4] % 17;
        const uint16_t format = (data[4] & 0x80) ? kNotDisplayed : (flags & 2) ? 4 : 8;
        std::vector<uint8_t> frame(kFrameHeaderSize + 2 * w * h);
        for (size_t i = kFrameHeaderSize; i < frame.size(); ++i) frame[i] = data[i % size];
        WriteFrameHeader(frame.data(), format, w, h, (flags & 4) != 0,
                         FrameCrc32(frame.data() + kFrameHeaderSize, 2 * w * h));
        stream.insert(stream.begin(), frame.begin(), frame.end());
    }

    FramePipeline& pipeline = Pipeline();
    pipeline.ResetWorkerState();
    FrameRingBuffer& ring = *pipeline.Ring();
    // Every input leaves the ring empty, with both ends where its last byte went: they are moved
    // on from there to the chosen start, so that pushes and pops split at the ring's end.
    static int32_t ringEnd = 0;  // where both ends stand; the ring starts there empty
    static uint8_t filler[kTestUnit];
    const int32_t capacity = ring.Capacity();
    for (int32_t left = (ringStart - ringEnd % capacity + capacity) % capacity; left > 0;
         left -= kTestUnit) {
        const int32_t n = std::min(left, kTestUnit);
        if (ring.Push(filler, n) != n || ring.Pop(filler, n) != n) __builtin_trap();
    }
    ringEnd = static_cast<int32_t>((ringStart + stream.size()) % capacity);

    const uint64_t acceptedBefore = pipeline.m_nFramesAccepted.load();
    pipeline.m_bHighToLow = (flags & 8) != 0;
    pipeline.SetAgcMode(1 + (flags >> 4) % 3);
    for (size_t off = 0; off < stream.size(); off += chunk) {
        const size_t n = std::min(chunk, stream.size() - off);
        StreamDataCallback(0, 2, stream.data() + off, static_cast<uint32_t>(n), &pipeline);
        for (int guard = 0; guard < 100000; ++guard) {
            if (pipeline.RunPass() == FramePipeline::PassResult::kIdle) break;
        }
    }
    if (pipeline.m_nAssembled < 0 || pipeline.m_nAssembled > kFrameBufferSize) __builtin_trap();
    if (pipeline.m_nStart < 0 || pipeline.m_nStart + pipeline.m_nAssembled > kFrameBufferSize) {
        __builtin_trap();
    }
    if (ring.FillLevel() != 0) __builtin_trap();  // every byte pushed reached the worker
    // A whole valid frame at the start of a fresh stream is never lost, whatever follows it.
    if ((flags & 1) && pipeline.m_nFramesAccepted.load() == acceptedBefore) __builtin_trap();
    return 0;
}
