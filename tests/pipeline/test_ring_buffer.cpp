// FrameRingBuffer: results, wrap-around order, capacity, thresholds, and two threads at once.
#include <gtest/gtest.h>

#include <numeric>
#include <thread>

#include "frame_pipeline.h"
#include "ring_buffer.h"

namespace kestrix {
namespace {

std::vector<uint8_t> Sequence(size_t n, uint8_t start = 0) {
    std::vector<uint8_t> v(n);
    std::iota(v.begin(), v.end(), start);
    return v;
}

class RingBufferTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(ring.Init(10, &space, &data), 0); }  // capacity 100
    AutoResetEvent space, data;
    FrameRingBuffer ring;
};

TEST_F(RingBufferTest, ArgumentChecks) {
    uint8_t buf[16] = {};
    EXPECT_EQ(ring.Push(buf, 10), 10);
    EXPECT_EQ(ring.Push(buf, 11), -1);
    EXPECT_EQ(ring.Push(nullptr, 1), -1);
    EXPECT_EQ(ring.Push(buf, -1), -1);
    EXPECT_EQ(ring.Pop(buf, 11), -1);
    EXPECT_EQ(ring.Pop(nullptr, 1), -1);
    EXPECT_EQ(ring.Pop(buf, -1), -1);
    EXPECT_EQ(ring.FillLevel(), 10);  // the refused calls changed nothing

    FrameRingBuffer other;
    EXPECT_EQ(other.Init(0, &space, &data), -1);
    EXPECT_EQ(other.Init(-5, &space, &data), -1);
    EXPECT_EQ(other.Init(10, nullptr, &data), -1);
    EXPECT_EQ(other.Init(10, &space, nullptr), -1);
    EXPECT_EQ(other.Init(INT32_MAX / 10 + 1, &space, &data), -1);  // storage past 32 bits
    EXPECT_EQ(other.Release(), -1);
    EXPECT_EQ(other.Pop(buf, 0), 0);
}

TEST_F(RingBufferTest, BytesThatWrapComeOutInOrder) {
    uint8_t out[10];
    const auto first = Sequence(10);
    for (int i = 0; i < 9; ++i) ASSERT_EQ(ring.Push(first.data(), 10), 10);  // 90 held
    for (int i = 0; i < 9; ++i) ASSERT_EQ(ring.Pop(out, 10), 10);            // read position 90
    const auto a = Sequence(10, 100), b = Sequence(10, 110);
    ASSERT_EQ(ring.Push(a.data(), 10), 10);  // fills 90..99
    ASSERT_EQ(ring.Push(b.data(), 10), 10);  // wraps to 0..9
    // Popped in one piece that wraps, and then in pieces of odd sizes.
    uint8_t all[10];
    ASSERT_EQ(ring.Pop(all, 7), 7);
    ASSERT_EQ(ring.Pop(all + 7, 3), 3);
    EXPECT_TRUE(std::equal(a.begin(), a.end(), all));
    ASSERT_EQ(ring.Pop(out, 10), 10);
    EXPECT_TRUE(std::equal(b.begin(), b.end(), out));
    EXPECT_EQ(ring.Pop(out, 10), 0);

    // A pop that straddles the end of the storage.
    for (int i = 0; i < 9; ++i) ASSERT_EQ(ring.Push(first.data(), 10), 10);
    for (int i = 0; i < 8; ++i) ASSERT_EQ(ring.Pop(out, 10), 10);
    ASSERT_EQ(ring.Pop(out, 5), 5);  // read position 95, write position 0
    ASSERT_EQ(ring.Push(a.data(), 10), 10);
    std::vector<uint8_t> rest(15);
    ASSERT_EQ(ring.Pop(rest.data(), 10), 10);
    ASSERT_EQ(ring.Pop(rest.data() + 10, 10), 5);
    EXPECT_EQ(rest[5], 100);
    EXPECT_EQ(rest[14], 109);
}

TEST_F(RingBufferTest, HoldsCapacityLessOneAndPopsOnlyWhatIsHeld) {
    const auto bytes = Sequence(10);
    for (int i = 0; i < 9; ++i) ASSERT_EQ(ring.Push(bytes.data(), 10), 10);
    ASSERT_EQ(ring.Push(bytes.data(), 9), 9);  // 99 = capacity - 1
    EXPECT_EQ(ring.Push(bytes.data(), 1), -2);
    uint8_t one;
    ASSERT_EQ(ring.Pop(&one, 1), 1);
    EXPECT_EQ(ring.Push(bytes.data(), 1), 1);
    EXPECT_EQ(ring.FillLevel(), 99);

    FrameRingBuffer small;
    ASSERT_EQ(small.Init(10, &space, &data), 0);
    ASSERT_EQ(small.Push(bytes.data(), 4), 4);
    uint8_t out[10];
    EXPECT_EQ(small.Pop(out, 10), 4);
}

TEST_F(RingBufferTest, EventsAtTheHalfFullThresholds) {
    const auto bytes = Sequence(10);
    uint8_t out[10];
    EXPECT_EQ(ring.Pop(out, 10), 0);
    EXPECT_TRUE(space.Wait(std::chrono::milliseconds(0)));  // an empty pop signals space
    for (int i = 0; i < 5; ++i) ASSERT_EQ(ring.Push(bytes.data(), 10), 10);
    EXPECT_FALSE(data.IsSignalled());  // exactly five units: no signal
    ASSERT_EQ(ring.Push(bytes.data(), 1), 1);
    EXPECT_TRUE(data.Wait(std::chrono::milliseconds(0)));
    ASSERT_EQ(ring.Pop(out, 1), 1);  // back to exactly five units: no signal
    EXPECT_FALSE(space.IsSignalled());
    ASSERT_EQ(ring.Pop(out, 1), 1);
    EXPECT_TRUE(space.IsSignalled());
}

TEST_F(RingBufferTest, RepeatedInitEmptiesAndReleaseTwiceIsRefused) {
    const auto bytes = Sequence(10);
    ASSERT_EQ(ring.Push(bytes.data(), 10), 10);
    ASSERT_EQ(ring.Init(20, &space, &data), 0);
    uint8_t out[20];
    EXPECT_EQ(ring.Pop(out, 20), 0);
    EXPECT_EQ(ring.Capacity(), 200);
    EXPECT_EQ(ring.Release(), 0);
    EXPECT_EQ(ring.Release(), -1);
    EXPECT_EQ(ring.Push(bytes.data(), 1), -1);
}

TEST(StreamCallback, OnlyNonEmptyStreamDataReachesTheRing) {
    FramePipeline pipeline(nullptr);
    uint8_t payload[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_FALSE(pipeline.PushStreamData(payload, 8));  // no ring yet
    pipeline.PrepareRing();
    StreamDataCallback(0, 1, payload, 8, &pipeline);        // stream header
    StreamDataCallback(0, 2, payload, 0, &pipeline);        // empty
    StreamDataCallback(0, 3, payload, 8, &pipeline);        // unknown type
    StreamDataCallback(0, 2, payload, 8, nullptr);          // no user
    EXPECT_EQ(pipeline.Ring()->FillLevel(), 0);
    StreamDataCallback(0, 2, payload, 8, &pipeline);
    EXPECT_EQ(pipeline.Ring()->FillLevel(), 8);
    // A payload larger than one unit is dropped at once.
    std::vector<uint8_t> big(2000001);
    EXPECT_TRUE(pipeline.PushStreamData(big.data(), static_cast<uint32_t>(big.size())));
    EXPECT_EQ(pipeline.Ring()->FillLevel(), 8);
}

TEST(RingBufferThreads, ProducerAndConsumerMoveEveryByteInOrder) {
    AutoResetEvent space, data;
    FrameRingBuffer ring;
    ASSERT_EQ(ring.Init(997, &space, &data), 0);
    constexpr uint32_t kTotal = 4000000;
    std::thread producer([&] {
        std::vector<uint8_t> chunk(997);
        uint32_t sent = 0, step = 1;
        while (sent < kTotal) {
            const uint32_t n = std::min<uint32_t>(kTotal - sent, 1 + (step++ * 37) % 997);
            for (uint32_t i = 0; i < n; ++i) chunk[i] = static_cast<uint8_t>((sent + i) * 7);
            while (ring.Push(chunk.data(), static_cast<int32_t>(n)) == -2) {
                space.Wait(std::chrono::milliseconds(1));
            }
            sent += n;
        }
    });
    std::vector<uint8_t> out(997);
    uint32_t received = 0;
    bool inOrder = true;
    while (received < kTotal) {
        const int32_t n = ring.Pop(out.data(), 1 + static_cast<int32_t>(received % 996));
        ASSERT_GE(n, 0);
        if (n == 0) ring.WaitForData(std::chrono::milliseconds(1));
        for (int32_t i = 0; i < n; ++i) {
            inOrder &= out[i] == static_cast<uint8_t>((received + i) * 7);
        }
        received += static_cast<uint32_t>(n);
    }
    producer.join();
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(ring.FillLevel(), 0);
}

}  // namespace
}  // namespace kestrix
