// Arbitrary bytes through the stream callback, the ring buffer and the worker's passes. The first
// bytes choose the chunking and the options; a fraction of inputs get valid frames spliced in so
// that the CRC and processing paths are reached too.
#include <cstdint>
#include <cstring>
#include <vector>

#include "frame_format.h"
#include "frame_pipeline.h"

namespace {

using namespace kestrix;

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    const size_t chunk = 1 + (data[0] | (data[1] << 8)) % 5000;
    const uint8_t flags = data[2];
    std::vector<uint8_t> stream(data + 3, data + size);
    if (flags & 1) {
        // A valid frame whose size comes from the input, in front of the fuzzed bytes.
        const int32_t w = 1 + (flags >> 1) % 31, h = 1 + data[3] % 17;
        std::vector<uint8_t> frame(kFrameHeaderSize + 2 * w * h);
        for (size_t i = kFrameHeaderSize; i < frame.size(); ++i) frame[i] = data[i % size];
        WriteFrameHeader(frame.data(), (flags & 2) ? 4 : 8, w, h, (flags & 4) != 0,
                         FrameCrc32(frame.data() + kFrameHeaderSize, 2 * w * h));
        stream.insert(stream.begin(), frame.begin(), frame.end());
    }

    CheckingSink sink;
    FramePipeline pipeline(&sink);
    pipeline.PrepareRing();
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
    return 0;
}
