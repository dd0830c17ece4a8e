// A mode chosen on one thread while another converts frames takes effect between two
// conversions: every picture is wholly one mode's picture.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "agc_frames.h"
#include "agc_harness.h"

namespace kx::agc {
namespace {

TEST(AgcThreads, ModeChangesFallBetweenConversions) {
    constexpr uint32_t kWidth = 96, kHeight = 64;
    const std::vector<uint16_t> image = frames::HotTail(kWidth * kHeight, 5, 0.03);
    std::vector<std::vector<uint8_t>> pictures;
    for (int32_t mode : {AGC_MODE_LINE, AGC_MODE_HISTEQ, AGC_MODE_SPECIAL})
        pictures.push_back(testing::Block(kWidth, kHeight, mode).Process(image));
    ASSERT_NE(pictures[0], pictures[1]);
    ASSERT_NE(pictures[1], pictures[2]);

    testing::Block block(kWidth, kHeight);
    std::atomic<bool> done{false};
    std::thread chooser([&] {
        for (int32_t i = 0; !done.load(); ++i) AGC_SetMode(block.Handle(), 1 + i % 3);
    });
    int mixed = 0;
    for (int frame = 0; frame < 300; ++frame) {
        const std::vector<uint8_t> gray = block.Process(image);
        if (gray != pictures[0] && gray != pictures[1] && gray != pictures[2]) ++mixed;
    }
    done = true;
    chooser.join();
    EXPECT_EQ(mixed, 0);
}

}  // namespace
}  // namespace kx::agc
