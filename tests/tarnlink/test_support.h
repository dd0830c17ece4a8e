// Helpers of the Tarnlink and emulator tests: an in-process camera, a stream collector for the
// callback, a scriptable fake camera for hostile and silent peers, and frames cut from a stream.
#pragma once

#include <sys/socket.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "camera.h"
#include "common/wait_until.h"
#include "frame_format.h"
#include "net.h"
#include "server.h"
#include "tarnlink.h"
#include "wire.h"

namespace tltest {

using namespace std::chrono_literals;
using kx_test::WaitUntil;

constexpr const char* kLoopback = "127.0.0.1";
constexpr const char* kPassword = "qbxwz70413";

// A camera emulator on an ephemeral loopback port, in this process, with small frames sent in
// chunks that straddle frame starts and ends.
class LocalCamera {
public:
    explicit LocalCamera(int dropAfterSeconds = 0) {
        const camsim::CameraOptions o{.port = 0,
                                      .width = 64,
                                      .height = 48,
                                      .frameRate = 200,
                                      .chunkMin = 100,
                                      .chunkMax = 3000,
                                      .dropAfterSeconds = dropAfterSeconds,
                                      .log = false};
        std::string error;
        std::shared_ptr<camsim::Camera> camera = camsim::Camera::Create(o, error);
        if (!camera) throw std::runtime_error(error);
        server = std::make_unique<camsim::CameraServer>(o, camera);
        if (!server->Start(error)) throw std::runtime_error(error);
    }
    uint16_t Port() const { return server->Port(); }
    std::unique_ptr<camsim::CameraServer> server;
};

// Gathers what the stream callback delivers.
struct Collector {
    std::mutex mutex;
    std::vector<uint8_t> bytes;   // data type 2, in order
    std::vector<uint8_t> header;  // data type 1
    std::atomic<int> headers{0}, ends{0}, others{0};
    std::set<std::thread::id> threads;
    std::atomic<size_t> calls{0}, byteCount{0};
    std::function<void(int32_t play)> during;  // runs inside every call, without the mutex

    static void Callback(int32_t play, uint32_t type, uint8_t* buffer, uint32_t size, void* user) {
        auto* self = static_cast<Collector*>(user);
        {
            std::lock_guard lock(self->mutex);
            self->threads.insert(std::this_thread::get_id());
            if (type == TLNK_STREAM_HEADER) {
                ++self->headers;
                self->header.assign(buffer, buffer + size);
            } else if (type == TLNK_STREAM_DATA) {
                self->bytes.insert(self->bytes.end(), buffer, buffer + size);
                self->byteCount += size;
            } else {
                ++(type == TLNK_STREAM_END && size == 0 ? self->ends : self->others);
            }
        }
        ++self->calls;
        if (self->during) self->during(play);
    }
};

inline int32_t Play(int32_t login, Collector& collector, int32_t blocked = 1) {
    const PreviewInfo preview{1, 10, blocked, ""};
    return TLNK_RealPlay_V30(login, &preview, Collector::Callback, &collector, 0);
}

// A fake camera on an ephemeral port that runs script on the first connection it accepts and
// holds the connection until the test ends, so that a closed socket is no hint.
class FakeCamera {
public:
    using Script = std::function<void(int fd)>;
    explicit FakeCamera(Script script) {
        sockaddr_in address{};
        tarnlink::net::ParseIpv4(kLoopback, 0, address);
        m_listen = tarnlink::net::ListenTcp(address);
        m_thread = std::thread([this, script] {
            if (tarnlink::net::WaitReadable(m_listen.Get(), 20000) <= 0) return;
            m_client = tarnlink::net::UniqueFd(::accept(m_listen.Get(), nullptr, nullptr));
            if (m_client.Valid()) script(m_client.Get());
        });
    }
    ~FakeCamera() {
        ::shutdown(m_listen.Get(), SHUT_RDWR);
        m_thread.join();
    }
    uint16_t Port() const { return tarnlink::net::LocalPort(m_listen.Get()); }

    static bool Send(int fd, const auto& message) {
        std::vector<uint8_t> out;
        tarnlink::wire::Encode(out, message);
        return tarnlink::net::SendAll(fd, out.data(), out.size());
    }
    // The client's next message of `type`, others (heartbeats and the like) passed over; false when
    // none comes within ten seconds.
    static bool Receive(int fd, tarnlink::wire::MessageReader& reader, tarnlink::wire::Message& m,
                        tarnlink::wire::MsgType type) {
        using Result = tarnlink::wire::MessageReader::Result;
        for (Result r = reader.Next(m); r != Result::Message || m.type != type;
             r = reader.Next(m)) {
            if (r == Result::Message) continue;
            if (tarnlink::net::WaitReadable(fd, 10000) <= 0) return false;
            auto space = reader.WritableSpace();
            const ssize_t n = ::recv(fd, space.data(), space.size(), 0);
            if (n <= 0) return false;
            reader.Commit(static_cast<size_t>(n));
        }
        return true;
    }
    // The camera's half of a successful login, as far as the fake needs it.
    static bool AcceptLogin(int fd) {
        tarnlink::wire::MessageReader reader(tarnlink::wire::kMaxRequestBody);
        tarnlink::wire::Message m;
        return Send(fd, tarnlink::wire::Hello{}) &&
               Receive(fd, reader, m, tarnlink::wire::MsgType::Login) &&
               Send(fd, tarnlink::wire::LoginResult{});
    }

private:
    tarnlink::net::UniqueFd m_listen, m_client;  // m_client: written by m_thread until it ends
    std::thread m_thread;
};

}  // namespace tltest
