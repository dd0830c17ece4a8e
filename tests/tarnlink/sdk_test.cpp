// The SDK against the camera emulator and against fake cameras, all on loopback.
#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using namespace tltest;
namespace wire = tarnlink::wire;

struct Login {
    int32_t id = -1;
    explicit Login(uint16_t port, DeviceInfo* info = nullptr)
        : id(TLNK_Login(kLoopback, port, "admin", kPassword, info)) {}
    ~Login() {
        if (id >= 0) TLNK_Logout(id);
    }
};

// A loopback port that nothing listens on: bind one, learn its number, close it again.
uint16_t UnusedPort() {
    sockaddr_in address{};
    tarnlink::net::ParseIpv4(kLoopback, 0, address);
    return tarnlink::net::LocalPort(tarnlink::net::ListenTcp(address).Get());
}

// The emulator and a login to it.
class TarnlinkTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_GE(login.id, 0); }
    LocalCamera camera;
    DeviceInfo info{};
    Login login{camera.Port(), &info};
};

// One login through failed calls of every kind and working focus commands, streaming all along
// until the camera stops.
TEST_F(TarnlinkTest, FailedCallsGiveTheirErrorCodeAndLeaveLoginStreamAndFocusWorkingUntilTheCameraStops) {
    EXPECT_EQ(info.width, 64);
    EXPECT_EQ(info.height, 48);
    EXPECT_EQ(info.formatCode, 4);
    const uint16_t port = camera.Port(), closed = UnusedPort();
    Collector collector;
    const int32_t play = Play(login.id, collector);
    ASSERT_GE(play, 0);
    Login other(port);
    const PreviewInfo preview = Preview();
    PreviewInfo channel2 = Preview();
    channel2.channel = 2;
    auto logIn = [](const char* address, uint16_t p, const char* user, const char* password) {
        return [=] { return TLNK_Login(address, p, user, password, nullptr); };
    };
    // A login to a fake camera that runs `script` instead of the camera's side of the handshake.
    auto logInTo = [](FakeCamera::Script script) {
        return [script] {
            FakeCamera fake(script);
            return TLNK_Login(kLoopback, fake.Port(), "admin", kPassword, nullptr);
        };
    };
    const std::string longUser(wire::kMaxUserName + 1, 'a');
    struct Case {
        const char* name;
        std::function<int32_t()> call;
        int32_t failure;
        uint32_t error;
    } cases[] = {
        {"wrong password", logIn(kLoopback, port, "admin", "qbxwz70414"), -1, TLNK_E_PASSWORD},
        {"wrong user", logIn(kLoopback, port, "root", kPassword), -1, TLNK_E_PASSWORD},
        {"nobody listening", logIn(kLoopback, closed, "admin", kPassword), -1, TLNK_E_CONNECT},
        {"null address", logIn(nullptr, port, "admin", "x"), -1, TLNK_E_INVALID_ARGUMENT},
        {"null user", logIn(kLoopback, port, nullptr, "x"), -1, TLNK_E_INVALID_ARGUMENT},
        {"null password", logIn(kLoopback, port, "admin", nullptr), -1, TLNK_E_INVALID_ARGUMENT},
        {"user name too long", logIn(kLoopback, port, longUser.c_str(), "x"), -1, TLNK_E_INVALID_ARGUMENT},
        {"host name", logIn("localhost", port, "admin", "x"), -1, TLNK_E_INVALID_ARGUMENT},
        {"port 0", logIn(kLoopback, 0, "admin", "x"), -1, TLNK_E_INVALID_ARGUMENT},
        {"garbage for a greeting", logInTo([](int fd) { tarnlink::net::SendAll(fd, "HTTP/1.0 200 OK\r\n\r\n", 19); }),
         -1, TLNK_E_PROTOCOL},
        {"wrong protocol version", logInTo([](int fd) { FakeCamera::Send(fd, wire::Hello{7, {}}); }), -1,
         TLNK_E_PROTOCOL},
        {"camera says nothing", logInTo([](int) {}), -1, TLNK_E_TIMEOUT},
        {"camera hangs up", logInTo([](int fd) { ::shutdown(fd, SHUT_RDWR); }), -1, TLNK_E_DISCONNECTED},
        {"play on unknown user", [&] { return Play(login.id + 1000, collector); }, -1, TLNK_E_INVALID_HANDLE},
        {"null preview", [&] { return TLNK_RealPlay_V30(other.id, nullptr, Collector::Callback, nullptr, 0); },
         -1, TLNK_E_INVALID_ARGUMENT},
        {"null callback", [&] { return TLNK_RealPlay_V30(other.id, &preview, nullptr, nullptr, 0); }, -1,
         TLNK_E_INVALID_ARGUMENT},
        {"second stream of a login", [&] { return Play(login.id, collector); }, -1, TLNK_E_BUSY},
        {"stream of channel 2", [&] { return TLNK_RealPlay_V30(other.id, &channel2, Collector::Callback, nullptr, 0); },
         -1, TLNK_E_REFUSED},
        {"stop unknown play", [&] { return TLNK_StopRealPlay(12345); }, TLNK_FALSE, TLNK_E_INVALID_HANDLE},
        {"logout unknown user", [&] { return TLNK_Logout(-7); }, TLNK_FALSE, TLNK_E_INVALID_HANDLE},
        {"focus on unknown user", [&] { return TLNK_PTZControl_Other(login.id + 1000, 1, 13, 0); }, TLNK_FALSE,
         TLNK_E_INVALID_HANDLE},
        {"unknown focus command", [&] { return TLNK_PTZControl_Other(login.id, 1, 99, 0); }, TLNK_FALSE,
         TLNK_E_REFUSED},
        {"focus on channel 2", [&] { return TLNK_PTZControl_Other(login.id, 2, 13, 0); }, TLNK_FALSE,
         TLNK_E_REFUSED},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.call(), c.failure) << c.name;
        EXPECT_EQ(TLNK_GetLastError(), c.error) << c.name;
    }
    // Success clears the last error; the login and its stream went on through all of that.
    Login good(port);
    EXPECT_GE(good.id, 0);
    EXPECT_EQ(TLNK_GetLastError(), uint32_t{TLNK_NOERROR});
    // Focus commands move the camera's lens while held.
    camsim::FocusMotor& motor = camera.server->GetCamera().Focus();
    auto position = [&] { return motor.Position(std::chrono::steady_clock::now()); };
    const int32_t start = position();
    EXPECT_EQ(TLNK_PTZControl_Other(login.id, 1, TLNK_PTZ_FOCUS_NEAR, 0), TLNK_TRUE);
    EXPECT_TRUE(WaitUntil([&] { return position() < start - 5; }));
    EXPECT_EQ(TLNK_PTZControl_Other(login.id, 1, TLNK_PTZ_FOCUS_NEAR, 1), TLNK_TRUE);
    const int32_t stopped = position();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(position(), stopped);

    // The camera stops: the stream ends once, and the login says why.
    ASSERT_TRUE(WaitUntil([&] { return collector.ByteCount() > 6 * (56 + 2 * 64 * 48); }));
    camera.server->Stop();
    ASSERT_TRUE(WaitUntil([&] { return collector.Ends() == 1; }));
    EXPECT_EQ(TLNK_PTZControl_Other(login.id, 1, 13, 0), TLNK_FALSE);
    EXPECT_EQ(TLNK_GetLastError(), uint32_t{TLNK_E_DISCONNECTED});
    EXPECT_EQ(TLNK_StopRealPlay(play), TLNK_TRUE);
    EXPECT_EQ(TLNK_Logout(login.id), TLNK_TRUE);
    login.id = -1;

    std::lock_guard lock(collector.mutex);
    EXPECT_EQ(collector.headers, 1);
    EXPECT_EQ(collector.ends, 1);
    EXPECT_EQ(collector.others, 0);
    ASSERT_EQ(collector.header.size(), sizeof(TLNK_StreamHeader));
    TLNK_StreamHeader header;
    std::memcpy(&header, collector.header.data(), sizeof header);
    EXPECT_EQ(std::string(header.magic, 4), "TLSH");
    EXPECT_EQ(header.width, 64u);
    EXPECT_EQ(header.flags, TLNK_STREAM_FLAG_BIG_ENDIAN_PIXELS | TLNK_STREAM_FLAG_CRC);
    // One SDK thread calls back, never the caller's.
    EXPECT_EQ(collector.threads.size(), 1u);
    EXPECT_EQ(collector.threads.count(std::this_thread::get_id()), 0u);
}

TEST(Tarnlink, AFocusAnswerThatComesAfterItsTimeoutIsNotTakenForTheNext) {
    // The camera leaves the first request unanswered until the second arrives, then answers the
    // first with a refusal and, a little later, the second with Ok.
    FakeCamera fake([](int fd) {
        if (!FakeCamera::AcceptLogin(fd)) return;
        wire::MessageReader reader(wire::kMaxRequestBody);
        wire::Message m;
        uint32_t asked[2];  // a message's body lasts only until the next is read
        for (uint32_t& sequence : asked) {
            if (!FakeCamera::Receive(fd, reader, m, wire::MsgType::Ptz)) return;
            sequence = wire::DecodePtz(m.body)->sequence;
        }
        FakeCamera::Send(fd, wire::PtzResult{asked[0], wire::Status::BadCommand});
        std::this_thread::sleep_for(200ms);  // long enough to be taken alone
        FakeCamera::Send(fd, wire::PtzResult{asked[1], wire::Status::Ok});
    });
    Login login(fake.Port());
    ASSERT_GE(login.id, 0);
    EXPECT_EQ(TLNK_PTZControl_Other(login.id, 1, 13, 0), TLNK_FALSE);
    EXPECT_EQ(TLNK_GetLastError(), TLNK_E_TIMEOUT);
    EXPECT_EQ(TLNK_PTZControl_Other(login.id, 1, 13, 1), TLNK_TRUE);
}

// A stop from outside while a call runs, a stop from inside a call, a logout from inside a call:
// once it returned no call comes, and the play handle is gone. Each round streams on the same
// login, which the stops left working.
TEST_F(TarnlinkTest, NoCallbackOnceStopOrLogoutReturnsAlthoughOneWasRunning) {
    for (const std::string how : {"stop", "stop inside", "logout inside"}) {
        SCOPED_TRACE(how);
        const bool inside = how.ends_with("inside"), logout = how.starts_with("logout");
        Collector collector;
        std::atomic<bool> returned{false}, calledAfter{false}, inCallback{false};
        std::atomic<int32_t> result{-1};
        collector.during = [&, id = login.id](int32_t play) {
            if (returned) calledAfter = true;
            inCallback = true;
            if (inside && collector.calls == 3) {
                result = logout ? TLNK_Logout(id) : TLNK_StopRealPlay(play);
                returned = true;
            }
            std::this_thread::sleep_for(1ms);  // keep calls long, so a stop from outside meets one running
            inCallback = false;
        };
        const int32_t play = Play(login.id, collector);
        ASSERT_GE(play, 0);
        if (!inside) {
            ASSERT_TRUE(WaitUntil([&] { return collector.calls > 20 && inCallback; }));
            result = TLNK_StopRealPlay(play);
            returned = true;
            EXPECT_FALSE(inCallback);
        }
        ASSERT_TRUE(WaitUntil([&] { return returned.load(); }));
        EXPECT_EQ(result, TLNK_TRUE);
        std::this_thread::sleep_for(100ms);  // a window for a stray call to show itself
        EXPECT_FALSE(calledAfter);
        EXPECT_EQ(TLNK_StopRealPlay(play), TLNK_FALSE);  // the handle is gone
    }
    EXPECT_EQ(TLNK_Logout(login.id), TLNK_FALSE);  // logged out inside
    login.id = -1;
}

// A camera that hangs up, falls silent or sends what the protocol does not allow once the stream
// was asked for: the stream ends once, within seconds, the login reports why, and no byte of the
// bad message reaches the stream.
TEST(Tarnlink, ALinkThatFailsMidStreamEndsTheStreamOnce) {
    // Malformed framing of every kind is the reader's (wire_test); here one row stands for it.
    auto sending = [](auto encode) {
        std::vector<uint8_t> bytes;
        encode(bytes);
        return [bytes](int fd) { tarnlink::net::SendAll(fd, bytes.data(), bytes.size()); };
    };
    struct Case {
        const char* name;
        FakeCamera::Script then;
        uint32_t error;
    } cases[] = {
        {"hangs up", [](int fd) { ::shutdown(fd, SHUT_RDWR); }, TLNK_E_DISCONNECTED},
        {"falls silent", [](int) {}, TLNK_E_DISCONNECTED},
        {"garbage", sending([](auto& out) { out.assign(64, 0xA5); }), TLNK_E_PROTOCOL},
        {"empty answer", sending([](auto& out) { wire::EncodeEmpty(out, wire::MsgType::PtzResult); }), TLNK_E_PROTOCOL},
        {"login result again", sending([](auto& out) { wire::Encode(out, wire::LoginResult{}); }), TLNK_E_PROTOCOL},
        {"short stream header",
         sending([](auto& out) { wire::EncodeStream(out, wire::MsgType::StreamHeader, 0, std::vector<uint8_t>(5)); }),
         TLNK_E_PROTOCOL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeCamera fake([&](int fd) {
            wire::MessageReader reader(wire::kMaxRequestBody);
            wire::Message m;
            if (FakeCamera::AcceptLogin(fd) && FakeCamera::Receive(fd, reader, m, wire::MsgType::StreamStart)) {
                c.then(fd);
            }
        });
        Login login(fake.Port());
        ASSERT_GE(login.id, 0);
        Collector collector;
        const auto start = std::chrono::steady_clock::now();
        const int32_t play = Play(login.id, collector, /*blocked=*/0);
        ASSERT_GE(play, 0);
        ASSERT_TRUE(WaitUntil([&] { return collector.Ends() == 1; }));
        EXPECT_LT(std::chrono::steady_clock::now() - start, 8s);
        EXPECT_EQ(TLNK_PTZControl_Other(login.id, 1, 13, 0), TLNK_FALSE);
        EXPECT_EQ(TLNK_GetLastError(), c.error);
        EXPECT_EQ(TLNK_StopRealPlay(play), TLNK_TRUE);
        EXPECT_EQ(collector.ByteCount(), 0u);
        EXPECT_EQ(collector.Ends(), 1);
    }
}

}  // namespace
