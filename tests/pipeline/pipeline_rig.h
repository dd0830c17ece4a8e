// Frames, streams and a pipeline with its sink and storage folder, driven on the test's thread.
#pragma once

#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "frame_format.h"
#include "frame_pipeline.h"

namespace kestrix {

using Listing = std::vector<std::string>;

// width x height little-endian pixels with `params` at the start of row height - 2.
inline std::vector<uint8_t> MakeImage(int32_t width, int32_t height, uint32_t seed,
                                      const std::vector<uint16_t>& params = {}) {
    std::vector<uint8_t> image(2 * static_cast<size_t>(width) * height);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < image.size(); i += 2) {
        x = x * 1664525u + 1013904223u;
        const auto v = static_cast<uint16_t>(4000 + (x >> 20));
        std::memcpy(&image[i], &v, 2);
    }
    for (size_t i = 0; height >= 2 && i < params.size() && static_cast<int32_t>(i) < width; ++i)
        std::memcpy(&image[(static_cast<size_t>(height - 2) * width + i) * 2], &params[i], 2);
    return image;
}

// The image's samples, little-endian or, when `swap`, high byte first.
inline std::vector<uint16_t> Words(const std::vector<uint8_t>& image, bool swap = false) {
    std::vector<uint16_t> words(image.size() / 2);
    for (size_t i = 0; i < words.size(); ++i)
        words[i] = uint16_t(image[2 * i + swap] | image[2 * i + !swap] << 8);
    return words;
}

struct FrameShape {
    uint16_t format = 4;
    int32_t width = 16;
    int32_t height = 8;
    bool withCrc = true;
};

inline std::vector<uint8_t> MakeFrame(const FrameShape& shape, const std::vector<uint8_t>& image) {
    std::vector<uint8_t> frame(kFrameHeaderSize + image.size());
    const uint32_t crc = FrameCrc32(image.data(), static_cast<int32_t>(image.size()));
    WriteFrameHeader(frame.data(), shape.format, shape.width, shape.height, shape.withCrc, crc);
    std::memcpy(frame.data() + kFrameHeaderSize, image.data(), image.size());
    return frame;
}

// A frame whose parameter row carries `id` as its EOCC word, so that a listing names it.
inline std::vector<uint8_t> IdFrame(uint16_t id, const FrameShape& shape = {}) {
    return MakeFrame(shape, MakeImage(shape.width, shape.height, id, {0, 0, 0, 0, id}));
}

inline void Append(std::vector<uint8_t>& stream, const std::vector<uint8_t>& part) {
    stream.insert(stream.end(), part.begin(), part.end());
}

// Lists one line per frame, "format WxH eocc", and " live" once the live picture came.
struct RecordingSink : FrameSink {
    void UpdateReadouts(const ReadoutUpdate& u) override {
        std::lock_guard lock(m_mutex);
        listing.push_back(std::to_string(u.format) + " " + std::to_string(u.width) + "x" +
                          std::to_string(u.height) + " " + u.texts.text[kEocc]);
    }
    void ShowLiveFrame(const DisplayFrame& frame, const uint8_t* gray) override {
        std::lock_guard lock(m_mutex);
        listing.back() += " live";
        lastGray.assign(gray, gray + static_cast<size_t>(frame.width) * frame.height);
        lastDisplay.assign(frame.data, frame.data + 2 * lastGray.size());
    }
    void ShowNotice(const char* text) override {
        std::lock_guard lock(m_mutex);
        notices.emplace_back(text);
    }

    std::mutex m_mutex;
    std::vector<std::string> listing;
    std::vector<uint8_t> lastGray, lastDisplay;
    std::vector<std::string> notices;
};

// The worker's passes on the calling thread, after each chunk of `stream` until nothing is left.
inline void RunStream(FramePipeline& pipeline, const std::vector<uint8_t>& stream, size_t chunk) {
    for (size_t off = 0; off < stream.size(); off += chunk) {
        StreamDataCallback(0, 2, const_cast<uint8_t*>(stream.data() + off),
                           static_cast<uint32_t>(std::min(chunk, stream.size() - off)), &pipeline);
        while (pipeline.RunPass() != FramePipeline::PassResult::kIdle) {
        }
    }
}

inline const std::vector<uint16_t> kWords = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0xFFFF, 13, 14};

// A sink and a pipeline with its ring and a storage folder, driven on the calling thread.
struct Rig {
    RecordingSink sink;
    FramePipeline pipeline{&sink};
    std::string dir;
    Rig() {
        pipeline.PrepareRing();
        char tmpl[] = "/tmp/kestrix-test-XXXXXX";
        dir = mkdtemp(tmpl);
        pipeline.SetStoragePath(dir);
    }
    ~Rig() { std::filesystem::remove_all(dir); }
    std::multiset<std::string> Contents() const {  // of the files in the folder
        std::multiset<std::string> contents;
        for (const auto& e : std::filesystem::directory_iterator(dir))
            contents.insert((std::ostringstream() << std::ifstream(e.path()).rdbuf()).str());
        return contents;
    }
    // Frames of 16 x 8 pixels, each with a record marked due before it.
    void Feed(int frames, uint32_t seed = 0) {
        for (int i = 0; i < frames; ++i) {
            pipeline.MarkRecordDue();
            RunStream(pipeline, MakeFrame({}, MakeImage(16, 8, seed + i, kWords)), 4096);
        }
    }
    void Record(bool on) {
        pipeline.m_bRecording = on;
        pipeline.SwitchRecordFile();
    }
};

}  // namespace kestrix
