// The emulator's server: several clients at once, hostile clients, dropped connections.
#include <gtest/gtest.h>

#include "../tarnlink/test_support.h"

namespace {

using namespace tltest;

// A raw TCP client: connects, sends bytes, and tells whether the camera then closes on it.
class RawClient {
public:
    explicit RawClient(uint16_t port) {
        sockaddr_in address{};
        tarnlink::net::ParseIpv4(kLoopback, port, address);
        bool timedOut = false;
        m_fd = tarnlink::net::ConnectTcp(address, 5000, timedOut);
    }
    bool Send(const std::vector<uint8_t>& bytes) { return tarnlink::net::SendAll(m_fd.Get(), bytes.data(), bytes.size()); }
    // Reads and discards until the camera closes; false if it stays open past the limit.
    bool ClosedByCamera(std::chrono::milliseconds limit = 15s) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        std::vector<uint8_t> sink(65536);
        while (std::chrono::steady_clock::now() < deadline) {
            if (tarnlink::net::WaitReadable(m_fd.Get(), 100) <= 0) continue;
            const ssize_t n = ::recv(m_fd.Get(), sink.data(), sink.size(), 0);
            if (n <= 0) return true;
        }
        return false;
    }
    bool Valid() const { return m_fd.Valid(); }

private:
    tarnlink::net::UniqueFd m_fd;
};

std::vector<uint8_t> Header(uint32_t length, uint16_t type) {
    std::vector<uint8_t> b(8, 0);
    std::memcpy(b.data(), &length, 4);
    std::memcpy(b.data() + 4, &type, 2);
    return b;
}

TEST(CameraServer, SeveralClientsStreamAtOnce) {
    LocalCamera camera;
    constexpr int kClients = 3;
    Collector collectors[kClients];
    int32_t logins[kClients];
    for (int i = 0; i < kClients; ++i) {
        logins[i] = TLNK_Login(kLoopback, camera.Port(), "admin", kPassword, nullptr);
        ASSERT_GE(logins[i], 0);
        ASSERT_GE(Play(logins[i], collectors[i]), 0);
    }
    for (Collector& c : collectors) ASSERT_TRUE(WaitUntil([&] { return c.ByteCount() > 4 * (56 + 2 * 64 * 48); }));
    for (int32_t id : logins) EXPECT_EQ(TLNK_Logout(id), TLNK_TRUE);
    for (Collector& c : collectors) {
        std::lock_guard lock(c.mutex);
        const std::vector<bool> crcValid = FrameCrcsValid(c.bytes);
        EXPECT_GE(crcValid.size(), 3u);
        EXPECT_EQ(crcValid, std::vector<bool>(crcValid.size(), true));
    }
}

TEST(CameraServer, HostileClientCostsOnlyItsConnection) {
    LocalCamera camera;
    const int32_t good = TLNK_Login(kLoopback, camera.Port(), "admin", kPassword, nullptr);
    ASSERT_GE(good, 0);
    Collector collector;
    ASSERT_GE(Play(good, collector), 0);

    std::vector<uint8_t> startFirst;
    tarnlink::wire::Encode(startFirst, tarnlink::wire::StreamStart{1, 1});
    std::vector<uint8_t> badProof;
    tarnlink::wire::Encode(badProof, tarnlink::wire::Login{"admin", {}});
    std::vector<uint8_t> longLogin = Header(4, uint16_t(tarnlink::wire::MsgType::Login));
    longLogin.insert(longLogin.end(), {200, 1, 2, 3});
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"oversized length", Header(1u << 30, uint16_t(tarnlink::wire::MsgType::Login))},
        {"request just over the limit", Header(tarnlink::wire::kMaxRequestBody + 1, uint16_t(tarnlink::wire::MsgType::Ptz))},
        {"unknown type", Header(0, 77)},
        {"garbage", std::vector<uint8_t>(300, 0xEE)},
        {"stream before login", startFirst},
        {"proof that does not match", badProof},
        {"user name past the body", longLogin},
    };
    RawClient idle(camera.Port());  // never logs in
    for (const Case& c : cases) {
        RawClient hostile(camera.Port());
        ASSERT_TRUE(hostile.Valid()) << c.name;
        ASSERT_TRUE(hostile.Send(c.bytes)) << c.name;
        EXPECT_TRUE(hostile.ClosedByCamera()) << c.name;
    }
    EXPECT_TRUE(idle.ClosedByCamera());
    // The well-behaved client streamed on throughout.
    const size_t before = collector.ByteCount();
    EXPECT_TRUE(WaitUntil([&] { return collector.ByteCount() > before + 10000; }));
    EXPECT_EQ(collector.Ends(), 0);
    EXPECT_EQ(TLNK_Logout(good), TLNK_TRUE);
}

TEST(CameraServer, DropAfterSecondsEndsTheClientsStream) {
    LocalCamera camera(/*dropAfterSeconds=*/1);
    const int32_t id = TLNK_Login(kLoopback, camera.Port(), "admin", kPassword, nullptr);
    ASSERT_GE(id, 0);
    Collector collector;
    ASSERT_GE(Play(id, collector), 0);
    EXPECT_TRUE(WaitUntil([&] { return collector.Ends() == 1; }));
    EXPECT_GT(collector.ByteCount(), 0u);
    EXPECT_EQ(TLNK_Logout(id), TLNK_TRUE);
}

}  // namespace
