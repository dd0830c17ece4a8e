// Eight threads calling the exports at once, each on its own handle and all on shared ones:
// the library lock serialises them (run under ThreadSanitizer in CI).
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "fake_display_fixture.h"
#include "handle_table.h"

namespace orvenna {
namespace {

using ThreadsTest = FakeDisplayTest;

constexpr int kThreads = 8;
constexpr int kRounds = 200;

void ORVD_CALL CountDC(int32_t, ORVD_HDC, intptr_t user) {
    reinterpret_cast<std::atomic<int>*>(user)->fetch_add(1);
}

TEST_F(ThreadsTest, EightThreadsOnOwnAndSharedHandles) {
    Fake().SetMonitors({RECT{0, 0, 1920, 1080}, RECT{1920, 0, 3840, 1080}});
    const HWND window = Fake().AddWindow(RECT{1800, 100, 2440, 580});
    std::atomic<int> unexpected{0};
    std::atomic<int> dc_calls{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            unsigned char pixels[32 * 32 * 2] = {};
            for (int round = 0; round < kRounds; ++round) {
                int32_t own = -1;
                if (ORVD_InitByDisEngine(&own, ORVD_ENGINE_DDRAW) != ORVD_OK) {
                    ++unexpected;
                    continue;
                }
                tagRECT rect{0, 0, t, round};
                tagORVD_FRAME frame{pixels, 0, ORVD_FORMAT_YUY2, 32, 32};
                const int32_t results[] = {
                    ORVD_SetDisplayWindow(own, window),
                    ORVD_SetDisplayRect(own, &rect),
                    ORVD_SetDisplayMode(own, static_cast<uint32_t>(round % 3)),
                    ORVD_RegisterDCCallback(own, &CountDC, reinterpret_cast<intptr_t>(&dc_calls)),
                    ORVD_DisplayFrame(own, &frame),
                    ORVD_RefreshDisplay(own),
                    ORVD_SetRotationAngle(own, 90) == ORVD_E_UNSUPPORTED ? ORVD_OK : ORVD_E_FAIL,
                    ORVD_Release(own),
                };
                for (int32_t r : results) {
                    if (r != ORVD_OK) ++unexpected;
                }
                // Shared handles 490..499, filled on demand and released by any thread: the
                // lowest free index is below them, so they never get an engine.
                const int32_t shared = 490 + (round + t) % 10;
                if (ORVD_SetDisplayMode(shared, 1) != ORVD_OK) ++unexpected;
                if (ORVD_RefreshDisplay(shared) != ORVD_E_NOT_READY) ++unexpected;
                if (round % 7 == 0 && ORVD_Release(shared) != ORVD_OK) ++unexpected;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(unexpected.load(), 0);
    // A frame and a refresh on each of the two monitors the window spans.
    EXPECT_EQ(dc_calls.load(), kThreads * kRounds * 4);
    for (int32_t i = 0; i < 490; ++i) {
        ASSERT_NE(testing::SlotStateForTesting(i), kSlotEngine) << i;  // every own handle released
    }
}

TEST_F(ThreadsTest, TheProcessEndsCleanlyWhileAnotherThreadIsInsideTheLibrary) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::thread([] {
            for (;;) {
                int32_t handle = -1;
                if (ORVD_InitByDisEngine(&handle, ORVD_ENGINE_DDRAW) == ORVD_OK) {
                    ORVD_SetDisplayMode(handle, 1);
                    ORVD_Release(handle);
                }
            }
        }).detach();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::exit(0);  // the library's objects go while the thread goes on calling
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

}  // namespace
}  // namespace orvenna
