// The worker's frame assembly: frames cut out of a byte stream however it arrives, and the frame
// format's header, CRC and readouts.
#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "common/wait_until.h"
#include "frame_pipeline.h"
#include "stream_builder.h"

namespace kestrix {
namespace {

using namespace testing;
using Listing = std::vector<std::string>;

// One pipeline for every stream (a new one costs its buffers): each stream runs as a new worker's
// first pass, with the ring empty. "HightoLow" is ticked, so each frame's id in its listing line
// also shows that the swap never reaches the readouts.
Listing ListingOf(const std::vector<uint8_t>& stream, size_t chunk) {
    static Rig h;
    h.pipeline.ResetWorkerState();
    h.sink.listing.clear();
    RunStream(h.pipeline, stream, chunk);
    return h.sink.listing;
}

// The largest frame fits the 2,000,000-byte assembly buffer; a buffer of junk behind it is thrown
// away, and the frames behind the junk still come through.
TEST(FrameAssembly, TheLargestFrameThenABufferOfJunk) {
    auto stream = Concat({{1, 2, 3, 4, 5, 6, 7}, IdFrame(1, {.width = 999972, .height = 1})});
    stream.resize(stream.size() + 2100000, 0x11);
    Listing want = {"4 999972x1  live"};
    for (uint16_t id = 2; id <= 9; ++id) {
        stream = Concat({stream, IdFrame(id, {.width = 400, .height = 400})});
        want.push_back("4 400x400 " + std::to_string(id) + " live");
    }
    EXPECT_EQ(ListingOf(stream, 1999), want);
}

// The frame rules written out afresh, pass by pass: each pass takes up to 2,000 bytes of what
// has arrived; once as many bytes are held as the last header's frame needs, the first header
// among them is taken. Its image must have arrived whole; when the stream has carried a CRC and
// the image does not match the last one, header and image go; else the frame is listed and its
// image is scanned again like any other bytes. Without a header all but the last 55 bytes go.
// Before any header has given a size, a frame is empty and shows nothing.
class AssemblyModel {
  public:
    Listing Run(const std::vector<uint8_t>& stream, size_t chunk) {
        Listing out;
        size_t taken = 0;
        for (size_t arrived = 0; arrived < stream.size();) {
            arrived = std::min(arrived + chunk, stream.size());
            for (;;) {
                const size_t pop = std::min<size_t>(2000, arrived - taken);
                m_held.insert(m_held.end(), stream.begin() + taken, stream.begin() + taken + pop);
                taken += pop;
                const size_t before = m_held.size();
                const bool listed =
                    int64_t(m_held.size()) >= 2 * int64_t{m_width} * m_height + 56 && Extract(out);
                if (!listed && pop == 0 && m_held.size() == before) break;
            }
        }
        return out;
    }

  private:
    static int64_t Le32(const uint8_t* p) {
        int32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
    bool Header(const uint8_t* h) {
        static const uint8_t kMagic[] = {0x78, 0x56, 0x34, 0x12, 0x21, 0x43, 0x65, 0x87};
        if (std::memcmp(h, kMagic, 8) != 0) return false;
        int64_t size[3] = {-1, 0, 0};  // format, width, height of an "MRF_" block
        int64_t crc = -1;
        for (int64_t left = Le32(h + 8), at = 12; left > 0 && at + 8 <= 56;) {
            const int64_t length = Le32(h + at + 4);
            if (length < 0) break;
            if (std::memcmp(h + at, "MRF_", 4) == 0 && at + 20 <= 56)
                size[0] = h[at + 8] | h[at + 9] << 8, size[1] = Le32(h + at + 12),
                size[2] = Le32(h + at + 16);
            if (std::memcmp(h + at, "CRC_", 4) == 0 && at + 16 <= 56)
                crc = uint32_t(Le32(h + at + 12));
            left -= 8 + length;
            at += 8 + length;
        }
        if (size[0] >= 0) {
            if (size[1] <= 0 || size[2] <= 0 || 2 * size[1] * size[2] > 2000000 - 56) return false;
            m_format = uint32_t(size[0]), m_width = int32_t(size[1]), m_height = int32_t(size[2]);
        }
        if (crc >= 0) m_crc = uint32_t(crc), m_crcSeen = true;
        return true;
    }
    bool Extract(Listing& out) {
        size_t p = 0;
        while (p + 56 <= m_held.size() && !Header(&m_held[p])) ++p;
        if (p + 56 > m_held.size()) return Drop(m_held.size() - 55), false;
        const size_t n = 2 * size_t(m_width) * m_height;
        if (m_held.size() - p - 56 < n) return Drop(p), false;
        if (m_crcSeen && FrameCrc32Bytewise(m_held.data() + p + 56, int32_t(n)) != m_crc)
            return Drop(p + 56 + n), false;
        Drop(p + 56);
        if (m_width == 0) return true;  // no size announced yet: nothing to show
        std::string eocc;
        if (m_width >= 14 && m_height >= 2)
            eocc = std::to_string(int16_t(m_held[(m_height - 2) * m_width * 2 + 8] |
                                          m_held[(m_height - 2) * m_width * 2 + 9] << 8));
        out.push_back(std::to_string(m_format) + " " + std::to_string(m_width) + "x" +
                      std::to_string(m_height) + " " + eocc +
                      (m_format == 4 || m_format == 8 ? " live" : ""));
        return true;
    }
    void Drop(size_t n) { m_held.erase(m_held.begin(), m_held.begin() + n); }

    std::vector<uint8_t> m_held;
    uint32_t m_format = 0, m_crc = 0;
    int32_t m_width = 0, m_height = 0;
    bool m_crcSeen = false;
};

// Random streams of junk, whole, cut and corrupted frames, hostile headers and headers inside
// pixels, fed in random chunks: the pipeline lists what the model lists.
TEST(FrameAssembly, ListsWhatAnIndependentModelLists) {
    for (uint32_t seed = 1; seed <= 300; ++seed) {
        std::mt19937 rng(seed);
        auto pick = [&](uint32_t lo, uint32_t hi) { return lo + rng() % (hi - lo + 1); };
        auto frame = [&](uint16_t id) {
            const uint16_t formats[] = {4, 4, 8, 5};
            auto f = IdFrame(id, {.format = formats[pick(0, 3)],
                                  .width = int32_t(pick(1, 24)),
                                  .height = int32_t(pick(1, 10)),
                                  .withCrc = pick(0, 2) != 0});
            f[44] ^= pick(0, 9) ? 0 : 1;  // a wrong CRC, or a broken "PAD_" block
            return f;
        };
        std::vector<uint8_t> stream;
        for (uint16_t id = 1, pieces = uint16_t(pick(3, 25)); id <= pieces; ++id) {
            std::vector<uint8_t> piece;
            switch (pick(0, 7)) {
                case 0:  // junk, sometimes opening like a header
                    if (pick(0, 1)) piece = {0x78, 0x56, 0x34, 0x12, 0x21, 0x43};
                    for (uint32_t n = pick(0, 150); n > 0; --n) piece.push_back(uint8_t(rng()));
                    break;
                case 1:  // cut anywhere
                    piece = frame(id);
                    piece.resize(pick(1, uint32_t(piece.size()) - 1));
                    break;
                case 2: {  // a header in the pixels
                    auto image = MakeImage(24, 10, id, {0, 0, 0, 0, id});
                    const auto inner = frame(uint16_t(id + 1000));
                    const size_t at =
                        pick(0, 480 - std::min<uint32_t>(480, uint32_t(inner.size())));
                    std::copy_n(inner.begin(), std::min(inner.size(), 480 - at),
                                image.begin() + at);
                    piece = MakeFrame({.width = 24, .height = 10}, image);
                    break;
                }
                case 3:
                case 4: {  // random blocks before an image: sizes that cannot be, lengths that
                           // run past byte 56 or below 0, a list length that lies, a bad magic
                    const int32_t w = int32_t(pick(1, 24)), h = int32_t(pick(1, 10));
                    const auto image = MakeImage(w, h, id, {0, 0, 0, 0, id});
                    piece.assign(kFrameHeaderSize + 64, 0);  // room for blocks past byte 56
                    const uint32_t magic[] = {kFrameMagic1,
                                              kFrameMagic2 ^ (pick(0, 15) ? 0 : 1u << pick(0, 31))};
                    std::memcpy(piece.data(), magic, 8);
                    int32_t at = 12;
                    for (uint32_t n = pick(0, 3); n > 0 && at + 8 <= kFrameHeaderSize; --n) {
                        const char* const tags[] = {"MRF_", "CRC_", "XYZ_"};
                        const uint32_t kind = pick(0, 2);
                        const int32_t lengths[] = {12, 8, int32_t(pick(0, 6)) * 4, -8, 0x7FFFFFF0};
                        const int32_t length = lengths[pick(0, 7) ? kind : pick(2, 4)];
                        const int32_t sizes[] = {w, h, 0, -16, 0, 65536, 999972, 999973, 1};
                        const int32_t mrf[] = {int32_t(pick(4, 8)),
                                               sizes[pick(0, 3) ? 0 : pick(2, 7)],
                                               sizes[pick(0, 3) ? 1 : pick(4, 8)]};
                        const uint32_t crc =
                            FrameCrc32(image.data(), int32_t(image.size())) ^ (pick(0, 9) ? 0 : 1);
                        std::memcpy(&piece[at], tags[kind], 4);
                        std::memcpy(&piece[at + 4], &length, 4);
                        if (kind == 0) std::memcpy(&piece[at + 8], mrf, 12);
                        if (kind == 1) std::memcpy(&piece[at + 12], &crc, 4);
                        at += 8 + std::clamp(length, 0, kFrameHeaderSize);
                    }
                    const int32_t lists[] = {at - 12, 0, -1, 44};
                    std::memcpy(&piece[8], &lists[pick(0, 7) ? 0 : pick(1, 3)], 4);
                    piece.resize(kFrameHeaderSize);
                    piece.insert(piece.end(), image.begin(), image.end());
                    break;
                }
                default:
                    piece = frame(id);
            }
            stream = Concat({stream, piece});
        }
        const size_t chunks[] = {1, 7, 56, 57, 1000, 2000, 5000, 65536};
        const size_t chunk = pick(0, 1) ? chunks[pick(0, 7)] : pick(1, 3000);
        SCOPED_TRACE("seed " + std::to_string(seed) + ", chunk " + std::to_string(chunk));
        ASSERT_EQ(ListingOf(stream, chunk), AssemblyModel().Run(stream, chunk));
    }
}

// The worker on its own thread behind a ring of 20,000 bytes that the stream wraps twenty times: it
// rests while the ring is empty, lists what another thread pushes in order, and ends within a pass.
TEST(Worker, RestsListsInOrderAndEndsWithinOnePass) {
    RecordingSink sink;
    FramePipeline pipeline(&sink);
    pipeline.SetRingUnit(2000);
    pipeline.StartWorker();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const uint64_t idle = pipeline.IdlePasses();
    EXPECT_GT(idle, 0u);
    EXPECT_LT(idle, 1000u) << "a spinning loop makes far more passes";
    std::vector<uint8_t> stream;
    Listing want;
    for (uint16_t id = 1; id <= 100; ++id) {
        stream = Concat({stream, IdFrame(id, {.width = 64, .height = 32})});
        want.push_back("4 64x32 " + std::to_string(id) + " live");
    }
    std::thread producer([&] {
        FrameRingBuffer& ring = *pipeline.Ring();
        for (uint32_t off = 0, step = 1, n; off < stream.size(); off += n) {
            n = std::min<uint32_t>(uint32_t(stream.size()) - off, 1 + (step++ * 37) % 2000);
            while (ring.FillLevel() + int32_t(n) >= ring.Capacity())
                pipeline.SpaceEvent().Wait(std::chrono::milliseconds(1));
            StreamDataCallback(0, 2, stream.data() + off, n, &pipeline);
        }
    });
    producer.join();
    kx_test::WaitUntil([&] { return pipeline.m_nFramesAccepted.load() >= 100; });
    const auto start = std::chrono::steady_clock::now();
    pipeline.StopWorker();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(pipeline.m_nPayloadsDropped.load(), 0u);
    std::lock_guard lock(sink.m_mutex);
    EXPECT_EQ(sink.listing, want);
}

TEST(FrameHeader, WrittenLayoutAndCheckValue) {
    EXPECT_EQ(FrameCrc32Bytewise("123456789", 9), 0xE7E67603u);
    std::vector<uint8_t> h(kFrameHeaderSize);
    WriteFrameHeader(h.data(), 8, 6, 2, true, FrameCrc32("123456789", 9));
    EXPECT_EQ(std::string(h.begin(), h.end()),
              std::string("\x78\x56\x34\x12\x21\x43\x65\x87\x2C\0\0\0"  // magic, 44 bytes of blocks
                          "MRF_\x0C\0\0\0\x08\0\0\0\x06\0\0\0\x02\0\0\0"
                          "CRC_\x08\0\0\0\0\0\0\0\x03\x76\xE6\xE7PAD_\0\0\0\0",
                          56));
    WriteFrameHeader(h.data(), 8, 6, 2, false, 0);
    EXPECT_EQ(std::string(h.begin() + 32, h.end()),
              std::string("PAD_\x10\0\0\0", 8) + std::string(16, 0));
}

TEST(DeviceParams, ReadoutTextsOfTheExampleWords) {
    const struct {
        DeviceParams params;
        std::vector<std::string> texts;  // focal plane, cavity, PCB, VITEC, EOCC, TEC, B value
    } rows[] = {
        {{0x0929, 0x1FFF, 0x0000, 0xFFFF, 0x8000, 3, 0, 0, 0, 0, 0, 0xFFFF},
         {"23.45℃", "81.91℃", "0.00℃", "655.35", "-32768", "3", "-1"}},
        {{0x2929, 0, 0x2000}, {"-23.45℃", "0.00℃", "-0.00℃", "0.00", "0", "0", "0"}},
    };
    for (const auto& r : rows) {
        ReadoutTexts texts;
        FormatReadouts(r.params, texts);
        EXPECT_EQ(std::vector<std::string>(std::begin(texts.text), std::end(texts.text)), r.texts);
    }
}

}  // namespace
}  // namespace kestrix
