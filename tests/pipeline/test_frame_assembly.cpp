// The worker's frame assembly: frames cut out of a byte stream however it arrives.
#include <gtest/gtest.h>

#include <thread>

#include "frame_pipeline.h"
#include "stream_builder.h"

namespace kestrix {
namespace {

using testing::Append;
using testing::FrameShape;
using testing::MakeFrame;
using testing::MakeImage;
using testing::RecordingSink;
using testing::RunStream;

const std::vector<uint16_t> kWords = {0x0929, 0x2929, 0x1FFF, 0xFFFF, 5, 3, 0,
                                      0,      0,      0,      0,      0xFFFF};

struct Harness {
    RecordingSink sink;
    FramePipeline pipeline{&sink};
    Harness() { pipeline.PrepareRing(); }
    void Run(const std::vector<uint8_t>& stream, size_t chunk = 4096) {
        RunStream(pipeline, stream, chunk);
    }
};

TEST(FrameAssembly, FramesComeOutWhateverTheChunkSizes) {
    std::vector<uint8_t> stream;
    const std::vector<uint8_t> junk = {1, 2, 0x78, 0x56, 0x34, 9};  // a stream that starts mid-frame
    Append(stream, junk);
    for (uint32_t i = 0; i < 5; ++i) Append(stream, MakeFrame({}, MakeImage(16, 8, i, kWords)));
    for (size_t chunk : {1, 7, 55, 56, 57, 300, 2000, 100000}) {
        Harness h;
        h.Run(stream, chunk);
        EXPECT_EQ(h.sink.readouts.size(), 5u) << "chunk " << chunk;
        EXPECT_EQ(h.sink.live.size(), 5u) << "chunk " << chunk;
    }
}

TEST(FrameAssembly, ReadoutsOfTheParameterRowAsTheyArrived) {
    Harness h;
    h.pipeline.m_bHighToLow = true;  // the swap must not reach the readouts
    h.Run(MakeFrame({}, MakeImage(16, 8, 1, kWords)));
    ASSERT_EQ(h.sink.readouts.size(), 1u);
    const auto& r = h.sink.readouts[0];
    EXPECT_EQ(r.format, 4u);
    EXPECT_EQ(r.width, 16);
    EXPECT_STREQ(r.texts.text[kFocalPlane], "23.45℃");
    EXPECT_STREQ(r.texts.text[kCavity], "-23.45℃");
    EXPECT_STREQ(r.texts.text[kPcb], "81.91℃");
    EXPECT_STREQ(r.texts.text[kVitec], "655.35");
    EXPECT_STREQ(r.texts.text[kEocc], "5");
    EXPECT_STREQ(r.texts.text[kTec], "3");
    EXPECT_STREQ(r.texts.text[kBValue], "-1");
}

TEST(FrameAssembly, CrcFailureDropsTheFrameAndTheNextIsExtracted) {
    std::vector<uint8_t> stream;
    Append(stream, MakeFrame({}, MakeImage(16, 8, 1)));
    auto bad = MakeFrame({}, MakeImage(16, 8, 2));
    bad[kFrameHeaderSize + 40] ^= 0x10;  // one wrong image byte
    Append(stream, bad);
    Append(stream, MakeFrame({}, MakeImage(16, 8, 3)));
    Harness h;
    h.Run(stream, 333);
    EXPECT_EQ(h.sink.readouts.size(), 2u);
    EXPECT_EQ(h.pipeline.m_nCrcDrops.load(), 1u);
}

TEST(FrameAssembly, FrameWithoutCrcBlockIsComparedWithTheEarlierCrc) {
    std::vector<uint8_t> stream;
    Append(stream, MakeFrame({}, MakeImage(16, 8, 1)));
    Append(stream, MakeFrame({.withCrc = false}, MakeImage(16, 8, 2)));
    Harness h;
    h.Run(stream);
    EXPECT_EQ(h.sink.readouts.size(), 1u);

    Harness noCrc;  // a stream that never carried a CRC is not checked
    std::vector<uint8_t> plain;
    for (uint32_t i = 0; i < 3; ++i) Append(plain, MakeFrame({.withCrc = false}, MakeImage(16, 8, i)));
    noCrc.Run(plain);
    EXPECT_EQ(noCrc.sink.readouts.size(), 3u);
}

TEST(FrameAssembly, OtherFormatsUpdateTheReadoutsOnly) {
    std::vector<uint8_t> stream;
    Append(stream, MakeFrame({.format = 5}, MakeImage(16, 8, 1)));
    Append(stream, MakeFrame({.format = 8}, MakeImage(16, 8, 2)));
    Harness h;
    h.Run(stream);
    EXPECT_EQ(h.sink.readouts.size(), 2u);
    EXPECT_EQ(h.sink.live.size(), 1u);
}

TEST(FrameAssembly, AnIncompleteFrameWaitsHeaderFirst) {
    const auto frame = MakeFrame({}, MakeImage(16, 8, 1));
    std::vector<uint8_t> stream = {9, 9, 9};
    stream.insert(stream.end(), frame.begin(), frame.end() - 10);
    Harness h;
    h.Run(stream);
    EXPECT_TRUE(h.sink.readouts.empty());
    EXPECT_EQ(h.pipeline.m_nAssembled, static_cast<int32_t>(frame.size() - 10));
    EXPECT_EQ(h.pipeline.Held()[0], 0x78);
    h.Run(std::vector<uint8_t>(frame.end() - 10, frame.end()));
    EXPECT_EQ(h.sink.readouts.size(), 1u);
}

TEST(FrameAssembly, MagicWordsInsidePixelsAreTakenForAHeader) {
    // A header hidden in a frame's pixels: the next scan runs over the accepted image and finds it.
    const auto inner = MakeFrame({.width = 4, .height = 2}, MakeImage(4, 2, 9));
    auto image = MakeImage(64, 4, 1);
    std::copy(inner.begin(), inner.end(), image.begin() + 20);
    std::vector<uint8_t> stream;
    Append(stream, MakeFrame({.width = 64, .height = 4}, image));
    Append(stream, MakeFrame({.width = 64, .height = 4}, MakeImage(64, 4, 2)));
    Harness h;
    h.Run(stream);
    ASSERT_GE(h.sink.readouts.size(), 2u);
    EXPECT_EQ(h.sink.readouts[1].width, 4);
}

TEST(FrameAssembly, HostileHeadersNeitherStopNorCrashTheWorker) {
    std::vector<uint8_t> stream;
    for (auto [w, h] : {std::pair{0, 8}, {-16, 8}, {1000000, 1000000}, {999972, 2}}) {
        std::vector<uint8_t> header(kFrameHeaderSize);
        WriteFrameHeader(header.data(), 4, w, h, true, 0);
        Append(stream, header);
    }
    Append(stream, MakeFrame({}, MakeImage(16, 8, 1)));
    Harness h;
    h.Run(stream, 100);
    EXPECT_EQ(h.sink.readouts.size(), 1u);
    EXPECT_EQ(h.sink.readouts[0].width, 16);
}

TEST(FrameAssembly, TheLargestFrameFitsAndAJunkFilledBufferIsEmptied) {
    // A frame of the largest size that fits the assembly buffer (2,000,000 bytes in all) arrives
    // in odd portions and is accepted; junk of more than a buffer's size follows, and the frames
    // behind it still come through.
    const auto big = MakeImage(999972, 1, 3);
    std::vector<uint8_t> stream = {1, 2, 3, 4, 5, 6, 7};  // puts the frame's end off the portions
    Append(stream, MakeFrame({.width = 999972, .height = 1}, big));
    stream.resize(stream.size() + 2100000, 0x11);
    for (uint32_t i = 0; i < 8; ++i) {
        Append(stream, MakeFrame({.width = 400, .height = 400}, MakeImage(400, 400, i)));
    }
    Harness h;
    h.Run(stream, 1999);
    ASSERT_GE(h.sink.readouts.size(), 7u);
    EXPECT_EQ(h.sink.readouts[0].width, 999972);
    EXPECT_EQ(h.sink.readouts[1].width, 400);
}

TEST(FrameAssembly, TooSmallImagesGiveEmptyReadouts) {
    Harness h;
    h.Run(MakeFrame({.width = 4, .height = 4, .withCrc = false}, MakeImage(4, 4, 1)));
    ASSERT_EQ(h.sink.readouts.size(), 1u);
    for (const auto& text : h.sink.readouts[0].texts.text) EXPECT_STREQ(text, "");
    EXPECT_EQ(h.sink.live.size(), 1u);
}

TEST(Worker, EndsWithinOnePassOnAnEmptyRingAndDoesNotSpin) {
    RecordingSink sink;
    FramePipeline pipeline(&sink);
    pipeline.StartWorker();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const uint64_t idle = pipeline.IdlePasses();
    // Resting a few milliseconds a pass: far fewer passes than a spinning loop would make.
    EXPECT_GT(idle, 0u);
    EXPECT_LT(idle, 1000u);
    const auto start = std::chrono::steady_clock::now();
    pipeline.StopWorker();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST(Worker, StreamOnItsOwnThreadReachesTheSink) {
    RecordingSink sink;
    FramePipeline pipeline(&sink);
    pipeline.StartWorker();
    std::vector<uint8_t> stream;
    for (uint32_t i = 0; i < 20; ++i) {
        Append(stream, MakeFrame({.width = 64, .height = 32}, MakeImage(64, 32, i, kWords)));
    }
    std::thread producer([&] {
        for (size_t off = 0; off < stream.size(); off += 1500) {
            const size_t n = std::min<size_t>(1500, stream.size() - off);
            StreamDataCallback(0, 2, stream.data() + off, static_cast<uint32_t>(n), &pipeline);
        }
    });
    producer.join();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (pipeline.m_nFramesAccepted.load() < 20 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pipeline.StopWorker();
    EXPECT_EQ(pipeline.m_nFramesAccepted.load(), 20u);
    std::lock_guard lock(sink.m_mutex);
    EXPECT_EQ(sink.live.size(), 20u);
}

}  // namespace
}  // namespace kestrix
