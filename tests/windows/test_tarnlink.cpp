// tarnlink.dll under Wine against a camera emulator on loopback. The fixture that started the
// emulator wrote its port to the file named by the first argument (default linux-camsim.port).
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>

#include "tarnlink.h"
#include "win_test.h"

namespace {

const char* g_portFile = "linux-camsim.port";

// Counts the data bytes of a stream; its header and contents are the Linux tests' business.
void CountData(int32_t, uint32_t type, uint8_t*, uint32_t size, void* user) {
    if (type == TLNK_STREAM_DATA) *static_cast<std::atomic<size_t>*>(user) += size;
}

// The process's handle count. Wine answers GetProcessHandleCount with 0; there the count is
// measured instead: handle values are handed out from the lowest free slot, so the highest of a
// batch of new handles rises with every handle still open.
DWORD HandleCount() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0) return count;
    HANDLE batch[64];
    uintptr_t highest = 0;
    for (HANDLE& h : batch) {
        h = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        highest = std::max(highest, reinterpret_cast<uintptr_t>(h));
    }
    for (HANDLE h : batch) CloseHandle(h);
    return static_cast<DWORD>(highest / 4);
}

}  // namespace

TEST(TarnlinkWindows, LoginStreamStopAndLogoutRepeatedLeaveNoHandleBehind) {
    std::ifstream in(g_portFile);
    uint16_t port = 0;
    ASSERT_TRUE(in >> port) << "no port in " << g_portFile;
    EXPECT_EQ(TLNK_Init(), TLNK_TRUE);
    // The answer to the camera's challenge is hashed with the system's crypto: a wrong one is
    // refused, the right one let in.
    EXPECT_TRUE(TLNK_Login("127.0.0.1", port, "admin", "qbxwz70414", nullptr) < 0);
    EXPECT_EQ(TLNK_GetLastError(), TLNK_E_PASSWORD);
    const PreviewInfo preview{1, 10, 1, ""};
    DWORD handles = 0;
    for (int cycle = 0; cycle < 24; ++cycle) {
        // Winsock and the system's crypto set themselves up in the first cycles and keep it.
        if (cycle == 4) handles = HandleCount();
        DeviceInfo info{};
        const int32_t login = TLNK_Login("127.0.0.1", port, "admin", "qbxwz70413", &info);
        ASSERT_TRUE(login >= 0 && info.width == 640 && info.height == 512);
        std::atomic<size_t> bytes{0};
        const int32_t play = TLNK_RealPlay_V30(login, &preview, CountData, &bytes, 0);
        ASSERT_TRUE(play >= 0);
        // Two whole frames, so the data went on past the first chunk.
        EXPECT_TRUE(kx_test::WaitUntil([&] { return bytes >= 2 * 2 * 640 * 512; },
                                       std::chrono::seconds(5)));
        EXPECT_EQ(TLNK_StopRealPlay(play), TLNK_TRUE);
        EXPECT_EQ(TLNK_Logout(login), TLNK_TRUE);
    }
    // Wine opens the odd handle of its own now and then; a handle left by each cycle shows as 20.
    EXPECT_TRUE(
        kx_test::WaitUntil([&] { return HandleCount() <= handles + 4; }, std::chrono::seconds(2)));
}

int main(int argc, char** argv) {
    if (argc > 1) g_portFile = argv[1];
    return wt::RunAll(1, argv);
}
