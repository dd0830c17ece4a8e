// The SDK against the camera emulator and against fake cameras, all on loopback; first the message
// framing and codecs that the SDK and the camera share.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>

#include "test_support.h"

namespace {

using namespace tltest;
namespace wire = tarnlink::wire;

namespace codec {
using namespace tarnlink::wire;

// Feeds bytes in pieces of the given sizes (cycled) and returns the messages' types and sizes.
std::vector<std::pair<MsgType, size_t>> ReadAll(const std::vector<uint8_t>& bytes,
                                                const std::vector<size_t>& pieces) {
    MessageReader reader(kMaxBody);
    std::vector<std::pair<MsgType, size_t>> seen;
    for (size_t i = 0, pos = 0; pos < bytes.size(); ++i) {
        auto space = reader.WritableSpace();
        const size_t n = std::min({pieces[i % pieces.size()], space.size(), bytes.size() - pos});
        std::copy_n(bytes.begin() + static_cast<ptrdiff_t>(pos), n, space.begin());
        reader.Commit(n);
        pos += n;
        Message m;
        MessageReader::Result r;
        while ((r = reader.Next(m)) == MessageReader::Result::Message)
            seen.emplace_back(m.type, m.body.size());
        EXPECT_EQ(r, MessageReader::Result::NeedMore);
    }
    return seen;
}

TEST(TarnlinkWire, ReaderCutsTheSameMessagesOutOfAnyChunking) {
    std::vector<uint8_t> bytes;
    // Messages of every shape: fixed, with a string, empty, and a stream payload.
    Encode(bytes, Hello{});
    Encode(bytes, wire::Login{"admin", Mac{}});
    EncodeEmpty(bytes, MsgType::Heartbeat);
    EncodeStream(bytes, MsgType::StreamData, 7, std::vector<uint8_t>(3000, 0x11));
    Encode(bytes, Ptz{5, 1, 13, 1});
    const auto whole = ReadAll(bytes, {bytes.size()});
    ASSERT_EQ(whole.size(), 5u);
    EXPECT_EQ(whole[3], std::make_pair(MsgType::StreamData, size_t{3004}));
    for (const std::vector<size_t>& pieces : {std::vector<size_t>{1}, {7}, {8, 1, 4093}, {65536}}) {
        EXPECT_EQ(ReadAll(bytes, pieces), whole);
    }
    // A stream many times the reader's buffer, in pieces that end anywhere in a message.
    bytes.clear();
    std::mt19937 random(3);
    size_t payload = 0, seen = 0;
    for (int i = 0; i < 40; ++i) {
        const size_t n =
            std::uniform_int_distribution<size_t>(1, kMaxBody - kStreamPrefixSize)(random);
        EncodeStream(bytes, MsgType::StreamData, 1,
                     std::vector<uint8_t>(n, static_cast<uint8_t>(i)));
        payload += n;
    }
    for (const auto& [type, size] : ReadAll(bytes, {100000, 333333, 1 << 20}))
        seen += size - kStreamPrefixSize;
    EXPECT_EQ(seen, payload);
}

TEST(TarnlinkWire, ReaderRejectsMalformedHeaders) {
    // A length over the limit is the emulator server test's (a hostile client).
    const struct {
        const char* name;
        uint16_t type, flags;
    } cases[] = {
        {"type 0", 0, 0},
        {"unknown type", kLastMsgType + 1, 0},
        {"flags set", 11, 0x8000},
    };
    for (const auto& c : cases) {
        MessageReader reader(kMaxBody);
        const uint16_t header[4] = {0, 0, c.type, c.flags};  // an empty body, the type, the flags
        std::memcpy(reader.WritableSpace().data(), header, sizeof header);
        reader.Commit(8);
        Message m;
        EXPECT_EQ(reader.Next(m), MessageReader::Result::Malformed) << c.name;
    }
}

template <typename T>
std::vector<uint8_t> Body(const T& message, int extra = 0) {
    std::vector<uint8_t> out;
    Encode(out, message);
    out.resize(out.size() + extra);
    return std::vector<uint8_t>(out.begin() + kHeaderSize, out.end());
}

TEST(TarnlinkWire, DecodersRefuseBodiesNotOfTheirExactShape) {
    std::vector<uint8_t> lying = Body(wire::Login{"admin", {}});
    lying[0] = 200;  // a user name length that points past the body
    const struct {
        const char* name;
        bool decoded;
    } cases[] = {
        {"hello short", DecodeHello(Body(Hello{}, -1)).has_value()},
        {"hello long", DecodeHello(Body(Hello{}, 1)).has_value()},
        {"login short", DecodeLogin(Body(wire::Login{"admin", {}}, -1)).has_value()},
        {"login long", DecodeLogin(Body(wire::Login{"admin", {}}, 1)).has_value()},
        {"login empty", DecodeLogin({}).has_value()},
        {"user name past the body", DecodeLogin(lying).has_value()},
        {"login result short", DecodeLoginResult(Body(LoginResult{}, -1)).has_value()},
        {"ptz long", DecodePtz(Body(Ptz{9, 1, 14, 0}, 1)).has_value()},
        {"status the protocol lacks",
         DecodePtzResult(std::vector<uint8_t>{9, 0, 0, 0, 99, 0, 0, 0}).has_value()},
        {"stream payload without its id",
         DecodeStreamPayload(std::vector<uint8_t>{1, 2, 3}).has_value()},
        {"empty message with a byte", DecodeEmpty(std::vector<uint8_t>{0})},
    };
    for (const auto& c : cases) EXPECT_FALSE(c.decoded) << c.name;
}

// The password and the user name the camera checks by logging in (below); here the rest.
TEST(TarnlinkWire, LoginProofDependsOnTheNonceAndAnEmptyPassword) {
    Nonce a{}, b{};
    b[31] = 1;
    EXPECT_FALSE(
        ProofsEqual(LoginProof("qbxwz70413", a, "admin"), LoginProof("qbxwz70413", b, "admin")));
    EXPECT_FALSE(ProofsEqual(LoginProof("", a, "admin"), LoginProof("x", a, "admin")));
    ASSERT_TRUE(RandomNonce(a) && RandomNonce(b));
    EXPECT_NE(a, b);
}

}  // namespace codec

struct Login {
    int32_t id = -1;
    explicit Login(uint16_t port, DeviceInfo* info = nullptr)
        : id(TLNK_Login(kLoopback, port, "admin", kPassword, info)) {}
    ~Login() {
        if (id >= 0) TLNK_Logout(id);
    }
};

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
TEST_F(TarnlinkTest,
       FailedCallsGiveTheirErrorCodeAndLeaveLoginStreamAndFocusWorkingUntilTheCameraStops) {
    EXPECT_EQ(info.width, 64);
    EXPECT_EQ(info.height, 48);
    EXPECT_EQ(info.formatCode, 4);
    const uint16_t port = camera.Port();
    sockaddr_in any{};  // a loopback port that nothing listens on: bound, learnt, closed
    tarnlink::net::ParseIpv4(kLoopback, 0, any);
    const uint16_t closed = tarnlink::net::LocalPort(tarnlink::net::ListenTcp(any).Get());
    Collector collector;
    const int32_t play = Play(login.id, collector);
    ASSERT_GE(play, 0);
    Login other(port);
    const PreviewInfo preview{1, 10, 1, ""};
    const PreviewInfo channel2{2, 10, 1, ""};
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
        {"user name too long", logIn(kLoopback, port, longUser.c_str(), "x"), -1,
         TLNK_E_INVALID_ARGUMENT},
        {"host name", logIn("localhost", port, "admin", "x"), -1, TLNK_E_INVALID_ARGUMENT},
        {"port 0", logIn(kLoopback, 0, "admin", "x"), -1, TLNK_E_INVALID_ARGUMENT},
        {"garbage for a greeting",
         logInTo([](int fd) { tarnlink::net::SendAll(fd, "HTTP/1.0 200 OK\r\n\r\n", 19); }), -1,
         TLNK_E_PROTOCOL},
        {"wrong protocol version", logInTo([](int fd) {
             FakeCamera::Send(fd, wire::Hello{7, {}});
         }),
         -1, TLNK_E_PROTOCOL},
        {"camera says nothing", logInTo([](int) {}), -1, TLNK_E_TIMEOUT},
        {"camera hangs up", logInTo([](int fd) { ::shutdown(fd, SHUT_RDWR); }), -1,
         TLNK_E_DISCONNECTED},
        {"play on unknown user", [&] { return Play(login.id + 1000, collector); }, -1,
         TLNK_E_INVALID_HANDLE},
        {"null preview",
         [&] { return TLNK_RealPlay_V30(other.id, nullptr, Collector::Callback, nullptr, 0); }, -1,
         TLNK_E_INVALID_ARGUMENT},
        {"null callback",
         [&] { return TLNK_RealPlay_V30(other.id, &preview, nullptr, nullptr, 0); }, -1,
         TLNK_E_INVALID_ARGUMENT},
        {"second stream of a login", [&] { return Play(login.id, collector); }, -1, TLNK_E_BUSY},
        {"stream of channel 2",
         [&] { return TLNK_RealPlay_V30(other.id, &channel2, Collector::Callback, nullptr, 0); },
         -1, TLNK_E_REFUSED},
        {"stop unknown play", [&] { return TLNK_StopRealPlay(12345); }, TLNK_FALSE,
         TLNK_E_INVALID_HANDLE},
        {"logout unknown user", [&] { return TLNK_Logout(-7); }, TLNK_FALSE, TLNK_E_INVALID_HANDLE},
        {"focus on unknown user", [&] { return TLNK_PTZControl_Other(login.id + 1000, 1, 13, 0); },
         TLNK_FALSE, TLNK_E_INVALID_HANDLE},
        {"unknown focus command", [&] { return TLNK_PTZControl_Other(login.id, 1, 99, 0); },
         TLNK_FALSE, TLNK_E_REFUSED},
        {"focus on channel 2", [&] { return TLNK_PTZControl_Other(login.id, 2, 13, 0); },
         TLNK_FALSE, TLNK_E_REFUSED},
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
    ASSERT_TRUE(WaitUntil([&] { return collector.byteCount > 6 * (56 + 2 * 64 * 48); }));
    camera.server->Stop();
    ASSERT_TRUE(WaitUntil([&] { return collector.ends == 1; }));
    EXPECT_EQ(TLNK_PTZControl_Other(login.id, 1, 13, 0), TLNK_FALSE);
    EXPECT_EQ(TLNK_GetLastError(), uint32_t{TLNK_E_DISCONNECTED});
    EXPECT_EQ(TLNK_StopRealPlay(play), TLNK_TRUE);
    EXPECT_EQ(TLNK_Logout(login.id), TLNK_TRUE);
    login.id = -1;

    std::lock_guard lock(collector.mutex);
    EXPECT_EQ(std::tuple(collector.headers.load(), collector.ends.load(), collector.others.load()),
              std::tuple(1, 1, 0));
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
            std::this_thread::sleep_for(
                1ms);  // keep calls long, so a stop from outside meets one running
            inCallback = false;
            if (inside &&
                collector.calls == 3) {  // last: the test may free all this once it returns
                result = logout ? TLNK_Logout(id) : TLNK_StopRealPlay(play);
                returned = true;
            }
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
    // Malformed framing of every kind is the reader's (above); here one row stands for it.
    auto sending = [](auto encode) {
        std::vector<uint8_t> bytes;
        encode(bytes);
        return [bytes](int fd) { tarnlink::net::SendAll(fd, bytes.data(), bytes.size()); };
    };
    const struct {
        const char* name;
        FakeCamera::Script then;
        uint32_t error;
    } cases[] = {
        {"hangs up", [](int fd) { ::shutdown(fd, SHUT_RDWR); }, TLNK_E_DISCONNECTED},
        {"falls silent", [](int) {}, TLNK_E_DISCONNECTED},
        {"garbage", sending([](auto& out) { out.assign(64, 0xA5); }), TLNK_E_PROTOCOL},
        {"empty answer",
         sending([](auto& out) { wire::EncodeEmpty(out, wire::MsgType::PtzResult); }),
         TLNK_E_PROTOCOL},
        {"login result again", sending([](auto& out) { wire::Encode(out, wire::LoginResult{}); }),
         TLNK_E_PROTOCOL},
        {"short stream header", sending([](auto& out) {
             wire::EncodeStream(out, wire::MsgType::StreamHeader, 0, std::vector<uint8_t>(5));
         }),
         TLNK_E_PROTOCOL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeCamera fake([&](int fd) {
            wire::MessageReader reader(wire::kMaxRequestBody);
            wire::Message m;
            if (FakeCamera::AcceptLogin(fd) &&
                FakeCamera::Receive(fd, reader, m, wire::MsgType::StreamStart)) {
                c.then(fd);
            }
        });
        Login login(fake.Port());
        ASSERT_GE(login.id, 0);
        Collector collector;
        const auto start = std::chrono::steady_clock::now();
        const int32_t play = Play(login.id, collector, /*blocked=*/0);
        ASSERT_GE(play, 0);
        ASSERT_TRUE(WaitUntil([&] { return collector.ends == 1; }));
        EXPECT_LT(std::chrono::steady_clock::now() - start, 8s);
        EXPECT_EQ(TLNK_PTZControl_Other(login.id, 1, 13, 0), TLNK_FALSE);
        EXPECT_EQ(TLNK_GetLastError(), c.error);
        EXPECT_EQ(TLNK_StopRealPlay(play), TLNK_TRUE);
        EXPECT_EQ(collector.byteCount, 0u);
        EXPECT_EQ(collector.ends, 1);
    }
}

}  // namespace
