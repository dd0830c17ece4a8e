// Helpers of the Tarnlink tests: an in-process camera, a stream collector for the callback, a
// scriptable fake camera for hostile and silent peers, waits with deadlines, and frame checks.
#pragma once

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "camera.h"
#include "frame_format.h"
#include "net.h"
#include "server.h"
#include "tarnlink.h"
#include "wire.h"

namespace tltest {

using namespace std::chrono_literals;

// Polls until done() or the deadline; the deadlines are generous for loaded machines.
inline bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 20s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

inline camsim::CameraOptions SmallCamera() {
    camsim::CameraOptions o;
    o.port = 0;
    o.width = 64;
    o.height = 48;
    o.frameRate = 200;
    o.chunkMin = 100;
    o.chunkMax = 3000;  // chunks straddle frame starts and ends
    o.log = false;
    return o;
}

// A camera emulator on an ephemeral loopback port, in this process.
class LocalCamera {
public:
    explicit LocalCamera(const camsim::CameraOptions& options = SmallCamera()) {
        std::string error;
        std::shared_ptr<camsim::Camera> camera = camsim::Camera::Create(options, error);
        if (!camera) throw std::runtime_error(error);
        server = std::make_unique<camsim::CameraServer>(options, camera);
        if (!server->Start(error)) throw std::runtime_error(error);
    }
    uint16_t Port() const { return server->Port(); }
    std::unique_ptr<camsim::CameraServer> server;
};

// Gathers what the stream callback delivers.
struct Collector {
    std::mutex mutex;
    std::vector<uint8_t> bytes;        // data type 2, in order
    std::vector<uint8_t> header;       // data type 1
    int headerCalls = 0;
    int endCalls = 0;
    int otherCalls = 0;
    std::set<std::thread::id> threads;
    std::atomic<size_t> calls{0};
    std::function<void()> during;      // runs inside every call, without the mutex

    static void Callback(int32_t, uint32_t type, uint8_t* buffer, uint32_t size, void* user) {
        auto* self = static_cast<Collector*>(user);
        {
            std::lock_guard lock(self->mutex);
            self->threads.insert(std::this_thread::get_id());
            if (type == TLNK_STREAM_HEADER) {
                ++self->headerCalls;
                self->header.assign(buffer, buffer + size);
            } else if (type == TLNK_STREAM_DATA) {
                self->bytes.insert(self->bytes.end(), buffer, buffer + size);
            } else if (type == TLNK_STREAM_END && size == 0) {
                ++self->endCalls;
            } else {
                ++self->otherCalls;
            }
        }
        ++self->calls;
        if (self->during) self->during();
    }
    size_t ByteCount() {
        std::lock_guard lock(mutex);
        return bytes.size();
    }
    int Ends() {
        std::lock_guard lock(mutex);
        return endCalls;
    }
};

inline PreviewInfo Preview(int32_t blocked = 1) { return PreviewInfo{1, 10, blocked, ""}; }

struct ParsedFrame {
    int32_t width = 0;
    int32_t height = 0;
    uint32_t format = 0;
    bool crcPresent = false;
    bool crcValid = false;
    std::vector<uint8_t> image;
};

// Cuts whole frames out of stream bytes as the program's worker does: find the magic words,
// read the header, take the image behind it.
inline std::vector<ParsedFrame> ParseFrames(const std::vector<uint8_t>& bytes) {
    std::vector<ParsedFrame> frames;
    kestrix::FrameHeaderState state;
    size_t pos = 0;
    while (pos + kestrix::kFrameHeaderSize <= bytes.size()) {
        if (!kestrix::ParseFrameHeader(bytes.data() + pos, state)) {
            ++pos;
            continue;
        }
        const size_t imageBytes = 2 * static_cast<size_t>(state.m_nWidth) * static_cast<size_t>(state.m_nHeight);
        if (pos + kestrix::kFrameHeaderSize + imageBytes > bytes.size()) break;
        ParsedFrame f;
        f.width = state.m_nWidth;
        f.height = state.m_nHeight;
        f.format = state.m_nFrameFormat;
        f.crcPresent = state.m_bCrcPresent;
        const uint8_t* image = bytes.data() + pos + kestrix::kFrameHeaderSize;
        f.image.assign(image, image + imageBytes);
        f.crcValid = state.m_bCrcPresent &&
                     kestrix::FrameCrc32(image, static_cast<int32_t>(imageBytes)) == state.m_nFrameCrc;
        frames.push_back(std::move(f));
        pos += kestrix::kFrameHeaderSize + imageBytes;
    }
    return frames;
}

// A fake camera on an ephemeral port that runs script on the first connection it accepts.
class FakeCamera {
public:
    using Script = std::function<void(int fd)>;
    explicit FakeCamera(Script script) {
        sockaddr_in address{};
        tarnlink::net::ParseIpv4("127.0.0.1", 0, address);
        m_listen = tarnlink::net::ListenTcp(address);
        m_port = tarnlink::net::LocalPort(m_listen.Get());
        m_thread = std::thread([this, script] {
            if (tarnlink::net::WaitReadable(m_listen.Get(), 20000) <= 0) return;
            tarnlink::net::UniqueFd fd(::accept(m_listen.Get(), nullptr, nullptr));
            if (fd.Valid()) script(fd.Get());
            // Holds the connection until the test ends, so a closed socket is no hint.
            std::unique_lock lock(m_mutex);
            m_cv.wait(lock, [this] { return m_done; });
        });
    }
    ~FakeCamera() {
        {
            std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_cv.notify_all();
        ::shutdown(m_listen.Get(), SHUT_RDWR);
        m_thread.join();
    }
    uint16_t Port() const { return m_port; }

    // The camera's half of a successful login, as far as the fake needs it.
    static bool AcceptLogin(int fd) {
        std::vector<uint8_t> out;
        tarnlink::wire::Encode(out, tarnlink::wire::Hello{});
        if (!tarnlink::net::SendAll(fd, out.data(), out.size())) return false;
        tarnlink::wire::MessageReader reader(tarnlink::wire::kMaxRequestBody);
        tarnlink::wire::Message m;
        while (reader.Next(m) != tarnlink::wire::MessageReader::Result::Message) {
            if (tarnlink::net::WaitReadable(fd, 10000) <= 0) return false;
            auto space = reader.WritableSpace();
            const ssize_t n = ::recv(fd, space.data(), space.size(), 0);
            if (n <= 0) return false;
            reader.Commit(static_cast<size_t>(n));
        }
        out.clear();
        tarnlink::wire::Encode(out, tarnlink::wire::LoginResult{});
        return tarnlink::net::SendAll(fd, out.data(), out.size());
    }

private:
    tarnlink::net::UniqueFd m_listen;
    uint16_t m_port = 0;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_done = false;
};

inline size_t CountEntries(const char* dir) {
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        (void)entry;
        ++count;
    }
    return count;
}

}  // namespace tltest
