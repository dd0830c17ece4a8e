// Builds camera byte streams for the pipeline tests: frames with headers, CRC blocks and
// parameter rows, and the sinks that collect what the pipeline hands on.
#pragma once

#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "frame_format.h"
#include "frame_pipeline.h"

namespace kestrix::testing {

// A frame's image: width x height little-endian pixels with `params` at row height - 2.
inline std::vector<uint8_t> MakeImage(int32_t width, int32_t height, uint32_t seed,
                                      const std::vector<uint16_t>& params = {}) {
    std::vector<uint8_t> image(2 * static_cast<size_t>(width) * height);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < image.size(); i += 2) {
        x = x * 1664525u + 1013904223u;
        const uint16_t v = static_cast<uint16_t>(4000 + (x >> 20));
        std::memcpy(&image[i], &v, 2);
    }
    if (height >= 2) {
        for (size_t i = 0; i < params.size() && static_cast<int32_t>(i) < width; ++i) {
            std::memcpy(&image[(static_cast<size_t>(height - 2) * width + i) * 2], &params[i], 2);
        }
    }
    return image;
}

struct FrameShape {
    uint16_t format = 4;
    int32_t width = 16;
    int32_t height = 8;
    bool withCrc = true;
    bool badCrc = false;
};

inline std::vector<uint8_t> MakeFrame(const FrameShape& shape, const std::vector<uint8_t>& image) {
    std::vector<uint8_t> frame(kFrameHeaderSize + image.size());
    uint32_t crc = FrameCrc32(image.data(), static_cast<int32_t>(image.size()));
    if (shape.badCrc) crc ^= 1;
    WriteFrameHeader(frame.data(), shape.format, shape.width, shape.height, shape.withCrc, crc);
    std::memcpy(frame.data() + kFrameHeaderSize, image.data(), image.size());
    return frame;
}

inline void Append(std::vector<uint8_t>& stream, const std::vector<uint8_t>& bytes) {
    stream.insert(stream.end(), bytes.begin(), bytes.end());
}

// Collects what the worker hands to the GUI.
class RecordingSink : public FrameSink {
public:
    void UpdateReadouts(const ReadoutUpdate& update) override {
        std::lock_guard lock(m_mutex);
        readouts.push_back(update);
    }
    void ShowLiveFrame(const DisplayFrame& frame, const uint8_t* gray) override {
        std::lock_guard lock(m_mutex);
        live.push_back({frame.width, frame.height});
        lastGray.assign(gray, gray + static_cast<size_t>(frame.width) * frame.height);
        lastDisplay.assign(frame.data, frame.data + 2 * static_cast<size_t>(frame.width) * frame.height);
    }
    void ShowNotice(const char* text) override {
        std::lock_guard lock(m_mutex);
        notices.emplace_back(text);
    }

    struct Size {
        int32_t width, height;
    };
    std::mutex m_mutex;
    std::vector<ReadoutUpdate> readouts;
    std::vector<Size> live;
    std::vector<uint8_t> lastGray, lastDisplay;
    std::vector<std::string> notices;
};

// Runs the worker's passes on the calling thread: feeds `stream` to the stream callback in chunks,
// working the ring off after each, until nothing is left to do.
inline void RunStream(FramePipeline& pipeline, const std::vector<uint8_t>& stream, size_t chunk) {
    auto drain = [&] {
        while (pipeline.RunPass() != FramePipeline::PassResult::kIdle) {
        }
    };
    for (size_t off = 0; off < stream.size(); off += chunk) {
        const size_t n = std::min(chunk, stream.size() - off);
        StreamDataCallback(0, 2, const_cast<uint8_t*>(stream.data() + off),
                           static_cast<uint32_t>(n), &pipeline);
        drain();
    }
    drain();
}

}  // namespace kestrix::testing
