// The SDK against the camera emulator and against fake cameras, all on loopback.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include "test_support.h"

namespace {

using namespace tltest;

constexpr const char* kLoopback = "127.0.0.1";

struct Login {
    int32_t id = -1;
    explicit Login(uint16_t port, const char* password = "qbxwz70413", DeviceInfo* info = nullptr)
        : id(TLNK_Login(kLoopback, port, "admin", password, info)) {}
    ~Login() {
        if (id >= 0) TLNK_Logout(id);
    }
};

// A loopback port that nothing listens on: bind one, learn its number, close it again.
uint16_t UnusedPort() {
    sockaddr_in address{};
    tarnlink::net::ParseIpv4(kLoopback, 0, address);
    tarnlink::net::UniqueFd fd = tarnlink::net::ListenTcp(address);
    return tarnlink::net::LocalPort(fd.Get());
}

// Starts the stream of `login` into `collector`; the stream's handle, negative on failure.
int32_t StartStream(int32_t login, Collector& collector) {
    const PreviewInfo preview = Preview();
    return TLNK_RealPlay_V30(login, &preview, Collector::Callback, &collector, 0);
}

TEST(TarnlinkLogin, RefusedLoginsGiveTheirErrorCode) {
    LocalCamera camera;
    const uint16_t closedPort = UnusedPort();
    struct Case {
        const char* name;
        uint16_t port;
        const char* user;
        const char* password;
        uint32_t error;
    } cases[] = {
        {"wrong password", camera.Port(), "admin", "qbxwz70414", TLNK_E_PASSWORD},
        {"empty password", camera.Port(), "admin", "", TLNK_E_PASSWORD},
        {"wrong user", camera.Port(), "root", "qbxwz70413", TLNK_E_PASSWORD},
        {"nobody listening", closedPort, "admin", "qbxwz70413", TLNK_E_CONNECT},
    };
    for (const Case& c : cases) {
        DeviceInfo info{};
        EXPECT_LT(TLNK_Login(kLoopback, c.port, c.user, c.password, &info), 0) << c.name;
        EXPECT_EQ(TLNK_GetLastError(), c.error) << c.name;
    }
    Login good(camera.Port());
    EXPECT_GE(good.id, 0);
    EXPECT_EQ(TLNK_GetLastError(), uint32_t{TLNK_NOERROR});
}

TEST(TarnlinkLogin, NullStringsAndBadHandlesGiveErrorCodes) {
    LocalCamera camera;
    const uint16_t port = camera.Port();
    Login login(port);
    ASSERT_GE(login.id, 0);
    const PreviewInfo preview = Preview();
    struct Case {
        const char* name;
        std::function<int32_t()> call;
        int32_t failure;
        uint32_t error;
    } cases[] = {
        {"null address", [&] { return TLNK_Login(nullptr, port, "admin", "x", nullptr); }, -1, TLNK_E_INVALID_ARGUMENT},
        {"null user", [&] { return TLNK_Login(kLoopback, port, nullptr, "x", nullptr); }, -1, TLNK_E_INVALID_ARGUMENT},
        {"null password", [&] { return TLNK_Login(kLoopback, port, "admin", nullptr, nullptr); }, -1, TLNK_E_INVALID_ARGUMENT},
        {"host name", [&] { return TLNK_Login("localhost", port, "admin", "x", nullptr); }, -1, TLNK_E_INVALID_ARGUMENT},
        {"port 0", [&] { return TLNK_Login(kLoopback, 0, "admin", "x", nullptr); }, -1, TLNK_E_INVALID_ARGUMENT},
        {"play on unknown user", [&] { return TLNK_RealPlay_V30(login.id + 1000, &preview, Collector::Callback, nullptr, 0); }, -1, TLNK_E_INVALID_HANDLE},
        {"play on negative user", [&] { return TLNK_RealPlay_V30(-1, &preview, Collector::Callback, nullptr, 0); }, -1, TLNK_E_INVALID_HANDLE},
        {"null preview", [&] { return TLNK_RealPlay_V30(login.id, nullptr, Collector::Callback, nullptr, 0); }, -1, TLNK_E_INVALID_ARGUMENT},
        {"null callback", [&] { return TLNK_RealPlay_V30(login.id, &preview, nullptr, nullptr, 0); }, -1, TLNK_E_INVALID_ARGUMENT},
        {"stop unknown play", [&] { return TLNK_StopRealPlay(12345); }, TLNK_FALSE, TLNK_E_INVALID_HANDLE},
        {"logout unknown user", [&] { return TLNK_Logout(-7); }, TLNK_FALSE, TLNK_E_INVALID_HANDLE},
        {"focus on unknown user", [&] { return TLNK_PTZControl_Other(login.id + 1000, 1, 13, 0); }, TLNK_FALSE, TLNK_E_INVALID_HANDLE},
        {"unknown focus command", [&] { return TLNK_PTZControl_Other(login.id, 1, 99, 0); }, TLNK_FALSE, TLNK_E_REFUSED},
        {"focus on channel 2", [&] { return TLNK_PTZControl_Other(login.id, 2, 13, 0); }, TLNK_FALSE, TLNK_E_REFUSED},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.call(), c.failure) << c.name;
        EXPECT_EQ(TLNK_GetLastError(), c.error) << c.name;
    }
    // The login survived all of that.
    EXPECT_EQ(TLNK_PTZControl_Other(login.id, 1, 14, 1), TLNK_TRUE);
}

TEST(TarnlinkStream, DeliversItsHeaderOnceThenFramesWithValidCrcAndPlausibleReadouts) {
    LocalCamera camera;
    DeviceInfo info{};
    Login login(camera.Port(), "qbxwz70413", &info);
    ASSERT_GE(login.id, 0);
    EXPECT_EQ(info.width, 64);
    EXPECT_EQ(info.height, 48);
    EXPECT_EQ(info.formatCode, 4);

    Collector collector;
    const int32_t play = StartStream(login.id, collector);
    ASSERT_GE(play, 0);
    const size_t frameSize = 56 + 2 * 64 * 48;
    ASSERT_TRUE(WaitUntil([&] { return collector.ByteCount() > 6 * frameSize; }));
    EXPECT_EQ(TLNK_StopRealPlay(play), TLNK_TRUE);

    std::lock_guard lock(collector.mutex);
    EXPECT_EQ(collector.headerCalls, 1);
    ASSERT_EQ(collector.header.size(), sizeof(TLNK_StreamHeader));
    TLNK_StreamHeader header;
    std::memcpy(&header, collector.header.data(), sizeof header);
    EXPECT_EQ(std::string(header.magic, 4), "TLSH");
    EXPECT_EQ(header.width, 64u);
    EXPECT_EQ(header.flags, TLNK_STREAM_FLAG_BIG_ENDIAN_PIXELS | TLNK_STREAM_FLAG_CRC);
    EXPECT_EQ(collector.threads.size(), 1u);
    EXPECT_EQ(collector.threads.count(std::this_thread::get_id()), 0u);

    const std::vector<ParsedFrame> frames = ParseFrames(collector.bytes);
    ASSERT_GE(frames.size(), 5u);
    for (const ParsedFrame& f : frames) {
        EXPECT_TRUE(f.crcValid);
        EXPECT_EQ(f.format, 4u);
        const auto params = kestrix::ReadDeviceParams(f.image.data(), f.width, f.height);
        ASSERT_TRUE(params);
        for (uint16_t word : {params->focalPlaneTemp, params->cavityTemp, params->pcbTemp}) {
            EXPECT_GT(kestrix::DecodeTemperature(word), 10.0f);
            EXPECT_LT(kestrix::DecodeTemperature(word), 60.0f);
        }
        EXPECT_GT(params->bValue, 1000);
        EXPECT_EQ(params->column, 64);
        EXPECT_EQ(params->row, 48);
    }
}

TEST(TarnlinkStream, FocusCommandsMoveTheCameraFocus) {
    LocalCamera camera;
    Login login(camera.Port());
    ASSERT_GE(login.id, 0);
    camsim::FocusMotor& motor = camera.server->GetCamera().Focus();
    auto position = [&] { return motor.Position(std::chrono::steady_clock::now()); };
    const int32_t start = position();

    ASSERT_EQ(TLNK_PTZControl_Other(login.id, 1, TLNK_PTZ_FOCUS_NEAR, 0), TLNK_TRUE);
    EXPECT_TRUE(WaitUntil([&] { return position() < start - 5; }));
    ASSERT_EQ(TLNK_PTZControl_Other(login.id, 1, TLNK_PTZ_FOCUS_NEAR, 1), TLNK_TRUE);
    const int32_t held = position();
    ASSERT_EQ(TLNK_PTZControl_Other(login.id, 1, TLNK_PTZ_FOCUS_FAR, 0), TLNK_TRUE);
    EXPECT_TRUE(WaitUntil([&] { return position() > held + 5; }));
    ASSERT_EQ(TLNK_PTZControl_Other(login.id, 1, TLNK_PTZ_FOCUS_FAR, 1), TLNK_TRUE);
    const int32_t stopped = position();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(position(), stopped);
}

TEST(TarnlinkStream, AFocusAnswerThatComesAfterItsTimeoutIsNotTakenForTheNext) {
    // The camera leaves the first request unanswered until the second arrives, then answers the
    // first with a refusal and, a little later, the second with Ok.
    FakeCamera fake([](int fd) {
        if (!FakeCamera::AcceptLogin(fd)) return;
        tarnlink::wire::MessageReader reader(tarnlink::wire::kMaxRequestBody);
        std::vector<uint32_t> asked;
        while (asked.size() < 2 && tarnlink::net::WaitReadable(fd, 10000) > 0) {
            auto space = reader.WritableSpace();
            const ssize_t n = ::recv(fd, space.data(), space.size(), 0);
            if (n <= 0) return;
            reader.Commit(static_cast<size_t>(n));
            tarnlink::wire::Message m;
            while (reader.Next(m) == tarnlink::wire::MessageReader::Result::Message) {
                std::vector<uint8_t> out;
                tarnlink::wire::EncodeEmpty(out, tarnlink::wire::MsgType::Heartbeat);
                if (m.type == tarnlink::wire::MsgType::Ptz)
                    asked.push_back(tarnlink::wire::DecodePtz(m.body)->sequence);
                if (asked.size() == 2) {
                    tarnlink::wire::Encode(out, tarnlink::wire::PtzResult{
                                                    asked[0], tarnlink::wire::Status::BadCommand});
                    tarnlink::net::SendAll(fd, out.data(), out.size());
                    std::this_thread::sleep_for(200ms);  // long enough to be taken alone
                    out.clear();
                    tarnlink::wire::Encode(
                        out, tarnlink::wire::PtzResult{asked[1], tarnlink::wire::Status::Ok});
                }
                tarnlink::net::SendAll(fd, out.data(), out.size());
            }
        }
    });
    Login login(fake.Port());
    ASSERT_GE(login.id, 0);
    EXPECT_EQ(TLNK_PTZControl_Other(login.id, 1, 13, 0), TLNK_FALSE);
    EXPECT_EQ(TLNK_GetLastError(), TLNK_E_TIMEOUT);
    EXPECT_EQ(TLNK_PTZControl_Other(login.id, 1, 13, 1), TLNK_TRUE);
}

TEST(TarnlinkStream, NoCallbackOnceStopReturnsAlthoughOneWasRunning) {
    LocalCamera camera;
    Login login(camera.Port());
    ASSERT_GE(login.id, 0);
    Collector collector;
    std::atomic<bool> stopReturned{false};
    std::atomic<bool> calledAfterStop{false};
    std::atomic<bool> inCallback{false};
    collector.during = [&] {
        if (stopReturned) calledAfterStop = true;
        inCallback = true;
        std::this_thread::sleep_for(1ms);  // keep calls long, so Stop meets one running
        inCallback = false;
    };
    const int32_t play = StartStream(login.id, collector);
    ASSERT_GE(play, 0);
    ASSERT_TRUE(WaitUntil([&] { return collector.calls > 20 && inCallback; }));
    std::thread gui([&] {
        EXPECT_EQ(TLNK_StopRealPlay(play), TLNK_TRUE);
        stopReturned = true;
        EXPECT_FALSE(inCallback);
    });
    gui.join();
    const size_t calls = collector.calls;
    std::this_thread::sleep_for(100ms);  // a window for a stray call to show itself
    EXPECT_FALSE(calledAfterStop);
    EXPECT_EQ(collector.calls, calls);
    EXPECT_EQ(TLNK_StopRealPlay(play), TLNK_FALSE);  // the handle is gone
}

// Stops the stream, or logs out, from inside its third callback.
struct InsideCall {
    bool logout = false;
    int32_t userId = -1;
    std::atomic<int> calls{0};
    std::atomic<int> result{-1};
    static void Callback(int32_t handle, uint32_t, uint8_t*, uint32_t, void* user) {
        auto* self = static_cast<InsideCall*>(user);
        if (++self->calls != 3) return;
        self->result = self->logout ? TLNK_Logout(self->userId) : TLNK_StopRealPlay(handle);
    }
};

TEST(TarnlinkStream, StopOrLogoutFromInsideTheCallbackEndsTheStream) {
    LocalCamera camera;
    for (const bool logout : {false, true}) {
        Login login(camera.Port());
        ASSERT_GE(login.id, 0);
        InsideCall inside;
        inside.logout = logout;
        inside.userId = login.id;
        const PreviewInfo preview = Preview();
        ASSERT_GE(TLNK_RealPlay_V30(login.id, &preview, InsideCall::Callback, &inside, 0), 0);
        ASSERT_TRUE(WaitUntil([&] { return inside.result != -1; }));
        EXPECT_EQ(inside.result, TLNK_TRUE);
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(inside.calls, 3);
        if (logout) {
            EXPECT_EQ(TLNK_Logout(login.id), TLNK_FALSE);  // already gone
            login.id = -1;
            continue;
        }
        // The login can stream again.
        Collector collector;
        const int32_t again = StartStream(login.id, collector);
        ASSERT_GE(again, 0);
        EXPECT_TRUE(WaitUntil([&] { return collector.ByteCount() > 0; }));
        EXPECT_EQ(TLNK_StopRealPlay(again), TLNK_TRUE);
    }
}

TEST(TarnlinkStream, ASecondStreamOnOneLoginIsBusy) {
    LocalCamera camera;
    Login login(camera.Port());
    ASSERT_GE(login.id, 0);
    Collector collector;
    const int32_t play = StartStream(login.id, collector);
    ASSERT_GE(play, 0);
    EXPECT_LT(StartStream(login.id, collector), 0);
    EXPECT_EQ(TLNK_GetLastError(), uint32_t{TLNK_E_BUSY});
    PreviewInfo otherChannel = Preview();
    otherChannel.channel = 2;
    EXPECT_EQ(TLNK_StopRealPlay(play), TLNK_TRUE);
    EXPECT_LT(TLNK_RealPlay_V30(login.id, &otherChannel, Collector::Callback, &collector, 0), 0);
    EXPECT_EQ(TLNK_GetLastError(), uint32_t{TLNK_E_REFUSED});
}

TEST(TarnlinkLink, CameraStoppingMidStreamEndsTheStreamOnce) {
    LocalCamera camera;
    Login login(camera.Port());
    ASSERT_GE(login.id, 0);
    Collector collector;
    const int32_t play = StartStream(login.id, collector);
    ASSERT_GE(play, 0);
    ASSERT_TRUE(WaitUntil([&] { return collector.ByteCount() > 10000; }));
    camera.server->Stop();
    ASSERT_TRUE(WaitUntil([&] { return collector.Ends() == 1; }));
    EXPECT_EQ(TLNK_PTZControl_Other(login.id, 1, 13, 0), TLNK_FALSE);
    EXPECT_EQ(TLNK_GetLastError(), uint32_t{TLNK_E_DISCONNECTED});
    EXPECT_EQ(TLNK_StopRealPlay(play), TLNK_TRUE);
    EXPECT_EQ(TLNK_Logout(login.id), TLNK_TRUE);
    login.id = -1;
    EXPECT_EQ(collector.Ends(), 1);
}

TEST(TarnlinkLink, EmulatorProcessKilledMidStreamEndsTheStream) {
    const uint16_t port = UnusedPort();
    const std::string portText = std::to_string(port);
    std::vector<std::string> args = {KX_CAMSIM_PATH, "--port", portText, "--width", "64", "--height", "48", "--fps", "100", "--quiet"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, KX_CAMSIM_PATH, nullptr, nullptr, argv.data(), environ), 0);
    struct Reaper {
        pid_t pid;
        ~Reaper() {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    } reaper{pid};

    int32_t id = -1;
    ASSERT_TRUE(WaitUntil([&] { return (id = TLNK_Login(kLoopback, port, "admin", "qbxwz70413", nullptr)) >= 0; }));
    Collector collector;
    const int32_t play = StartStream(id, collector);
    ASSERT_GE(play, 0);
    ASSERT_TRUE(WaitUntil([&] { return collector.ByteCount() > 10000; }));
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    EXPECT_TRUE(WaitUntil([&] { return collector.Ends() == 1; }));
    EXPECT_EQ(TLNK_StopRealPlay(play), TLNK_TRUE);
    EXPECT_EQ(TLNK_Logout(id), TLNK_TRUE);
}

TEST(TarnlinkLink, SilentCameraIsGivenUpWithinSeconds) {
    FakeCamera fake([](int fd) { FakeCamera::AcceptLogin(fd); });  // then says nothing more
    Login login(fake.Port());
    ASSERT_GE(login.id, 0);
    Collector collector;
    const PreviewInfo preview = Preview(/*blocked=*/0);
    ASSERT_GE(TLNK_RealPlay_V30(login.id, &preview, Collector::Callback, &collector, 0), 0);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitUntil([&] { return collector.Ends() == 1; }));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 8s);
}

TEST(TarnlinkLink, HostileCameraCostsOnlyItsConnection) {
    auto header = [](uint32_t length, uint16_t type, uint16_t flags) {
        std::vector<uint8_t> b(8);
        std::memcpy(b.data(), &length, 4);
        std::memcpy(b.data() + 4, &type, 2);
        std::memcpy(b.data() + 6, &flags, 2);
        return b;
    };
    std::vector<uint8_t> shortResult = header(2, uint16_t(tarnlink::wire::MsgType::PtzResult), 0);
    shortResult.push_back(1);
    shortResult.push_back(2);
    std::vector<uint8_t> loginAgain;
    tarnlink::wire::Encode(loginAgain, tarnlink::wire::LoginResult{});
    std::vector<uint8_t> badHeader;
    tarnlink::wire::EncodeStream(badHeader, tarnlink::wire::MsgType::StreamHeader, 0, std::vector<uint8_t>(5));
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"oversized length", header(0x7FFFFFFF, uint16_t(tarnlink::wire::MsgType::StreamData), 0)},
        {"unknown type", header(0, 999, 0)},
        {"flags set", header(0, uint16_t(tarnlink::wire::MsgType::Heartbeat), 1)},
        {"garbage", std::vector<uint8_t>(64, 0xA5)},
        {"short answer", shortResult},
        {"login result again", loginAgain},
        {"wrong stream header", badHeader},
    };
    for (const Case& c : cases) {
        FakeCamera fake([&](int fd) {
            if (FakeCamera::AcceptLogin(fd)) tarnlink::net::SendAll(fd, c.bytes.data(), c.bytes.size());
        });
        Login login(fake.Port());
        ASSERT_GE(login.id, 0) << c.name;
        Collector collector;
        const PreviewInfo preview = Preview(0);
        // The link may be gone before the stream asks for it.
        const int32_t play = TLNK_RealPlay_V30(login.id, &preview, Collector::Callback, &collector, 0);
        EXPECT_TRUE(WaitUntil([&] { return TLNK_PTZControl_Other(login.id, 1, 13, 0) == TLNK_FALSE &&
                                           TLNK_GetLastError() == TLNK_E_PROTOCOL; })) << c.name;
        if (play >= 0) {
            EXPECT_TRUE(WaitUntil([&] { return collector.Ends() == 1; })) << c.name;
        }
        EXPECT_EQ(collector.ByteCount(), 0u) << c.name;
    }
}

TEST(TarnlinkLink, HostileHandshakeFailsTheLogin) {
    struct Case {
        const char* name;
        std::function<void(int)> script;
        uint32_t error;
    } cases[] = {
        {"garbage first", [](int fd) { tarnlink::net::SendAll(fd, "HTTP/1.0 200 OK\r\n\r\n", 19); }, TLNK_E_PROTOCOL},
        {"wrong version",
         [](int fd) {
             std::vector<uint8_t> out;
             tarnlink::wire::Encode(out, tarnlink::wire::Hello{7, {}});
             tarnlink::net::SendAll(fd, out.data(), out.size());
         },
         TLNK_E_PROTOCOL},
        {"says nothing", [](int) {}, TLNK_E_TIMEOUT},
        {"hangs up", [](int fd) { ::shutdown(fd, SHUT_RDWR); }, TLNK_E_DISCONNECTED},
    };
    for (const Case& c : cases) {
        FakeCamera fake(c.script);
        EXPECT_LT(TLNK_Login(kLoopback, fake.Port(), "admin", "x", nullptr), 0) << c.name;
        EXPECT_EQ(TLNK_GetLastError(), c.error) << c.name;
    }
}

TEST(TarnlinkLink, RepeatedCyclesLeaveNoThreadOrDescriptorBehind) {
    LocalCamera camera;
    // One cycle first, so that whatever the libraries set up once is in the baseline.
    auto cycle = [&] {
        Login login(camera.Port());
        ASSERT_GE(login.id, 0);
        Collector collector;
        const int32_t play = StartStream(login.id, collector);
        ASSERT_GE(play, 0);
        ASSERT_TRUE(WaitUntil([&] { return collector.ByteCount() > 0; }));
        ASSERT_EQ(TLNK_StopRealPlay(play), TLNK_TRUE);
        ASSERT_EQ(TLNK_Logout(login.id), TLNK_TRUE);
        login.id = -1;
    };
    cycle();
    ASSERT_TRUE(WaitUntil([&] { return camera.server->ClientCount() == 0; }));
    const size_t threads = CountEntries("/proc/self/task");
    const size_t descriptors = CountEntries("/proc/self/fd");
    for (int i = 0; i < 200; ++i) {
        cycle();
        if (HasFatalFailure()) return;
    }
    // The camera lets go of its side of each connection in its own time.
    EXPECT_TRUE(WaitUntil([&] {
        return CountEntries("/proc/self/task") <= threads && CountEntries("/proc/self/fd") <= descriptors;
    })) << CountEntries("/proc/self/task") << " threads, " << CountEntries("/proc/self/fd") << " descriptors";
}

}  // namespace
