// The emulator's server: several clients at once, hostile clients, dropped connections.
#include <gtest/gtest.h>

#include "../tarnlink/test_support.h"

namespace {

using namespace tltest;
namespace wire = tarnlink::wire;

tarnlink::net::UniqueFd Connect(uint16_t port) {
    sockaddr_in address{};
    tarnlink::net::ParseIpv4(kLoopback, port, address);
    bool timedOut = false;
    return tarnlink::net::ConnectTcp(address, 5000, timedOut);
}

// Reads and discards until the camera closes the connection; false if it stays open 15 s.
bool ClosedByCamera(const tarnlink::net::UniqueFd& fd) {
    std::vector<uint8_t> sink(65536);
    return WaitUntil(
        [&] {
            return tarnlink::net::WaitReadable(fd.Get(), 100) > 0 &&
                   ::recv(fd.Get(), sink.data(), sink.size(), 0) <= 0;
        },
        15s);
}

TEST(CameraServer, SeveralClientsStreamAtOnceUntilEachIsDroppedOnPurpose) {
    LocalCamera camera(/*dropAfterSeconds=*/1);
    constexpr int kClients = 3;
    Collector collectors[kClients];
    int32_t logins[kClients];
    for (int i = 0; i < kClients; ++i) {
        logins[i] = TLNK_Login(kLoopback, camera.Port(), "admin", kPassword, nullptr);
        ASSERT_GE(logins[i], 0);
        ASSERT_GE(Play(logins[i], collectors[i]), 0);
    }
    for (Collector& c : collectors) ASSERT_TRUE(WaitUntil([&] { return c.ends == 1; }));
    for (int32_t id : logins) EXPECT_EQ(TLNK_Logout(id), TLNK_TRUE);
    for (Collector& c : collectors) {
        std::lock_guard lock(c.mutex);
        // Whole frames back to back from the first byte, each with a CRC that holds.
        constexpr size_t kImage = 2 * 64 * 48, kFrame = kestrix::kFrameHeaderSize + kImage;
        EXPECT_GE(c.bytes.size(), 3 * kFrame);
        for (size_t pos = 0; pos + kFrame <= c.bytes.size(); pos += kFrame) {
            kestrix::FrameHeaderState state;
            ASSERT_TRUE(kestrix::ParseFrameHeader(c.bytes.data() + pos, state)) << pos;
            EXPECT_EQ(kestrix::FrameCrc32(c.bytes.data() + pos + kFrame - kImage, kImage),
                      state.m_nFrameCrc);
        }
    }
}

TEST(CameraServer, HostileClientCostsOnlyItsConnection) {
    LocalCamera camera;
    const int32_t good = TLNK_Login(kLoopback, camera.Port(), "admin", kPassword, nullptr);
    ASSERT_GE(good, 0);
    Collector collector;
    ASSERT_GE(Play(good, collector), 0);

    std::vector<uint8_t> startFirst;
    wire::Encode(startFirst, wire::StreamStart{1, 1});
    std::vector<uint8_t> badProof;
    wire::Encode(badProof, wire::Login{"admin", {}});
    std::vector<uint8_t> longLogin = badProof;
    longLogin[wire::kHeaderSize] = 200;  // a user name length that points past the body
    std::vector<uint8_t> tooLong;
    wire::Encode(tooLong, wire::Ptz{1, 1, 13, 0});
    const uint32_t length = wire::kMaxRequestBody + 1;
    std::memcpy(tooLong.data(), &length, 4);
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"request just over the limit", tooLong},
        {"stream before login", startFirst},
        {"proof that does not match", badProof},
        {"user name past the body", longLogin},
    };
    const tarnlink::net::UniqueFd idle = Connect(camera.Port());  // never logs in
    for (const Case& c : cases) {
        const tarnlink::net::UniqueFd hostile = Connect(camera.Port());
        ASSERT_TRUE(tarnlink::net::SendAll(hostile.Get(), c.bytes.data(), c.bytes.size()))
            << c.name;
        EXPECT_TRUE(ClosedByCamera(hostile)) << c.name;
    }
    EXPECT_TRUE(ClosedByCamera(idle));
    EXPECT_TRUE(WaitUntil([&] { return camera.server->ClientCount() == 1; }))
        << "closed clients are let go";
    // The well-behaved client streamed on throughout.
    const size_t before = collector.byteCount;
    EXPECT_TRUE(WaitUntil([&] { return collector.byteCount > before + 10000; }));
    EXPECT_EQ(collector.ends, 0);
    EXPECT_EQ(TLNK_Logout(good), TLNK_TRUE);
}

}  // namespace
