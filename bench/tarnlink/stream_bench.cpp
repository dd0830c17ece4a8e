// Stream throughput on loopback: frames delivered through Tarnlink from the emulator, against
// the same frame bytes copied over a plain TCP connection, in the same run. The ratio of the two
// "bytes_per_second" figures is the SDK's efficiency.
#include <benchmark/benchmark.h>
#include <sys/socket.h>

#include <atomic>
#include <thread>

#include "camera.h"
#include "net.h"
#include "server.h"
#include "tarnlink.h"

namespace {

using namespace std::chrono_literals;
constexpr uint32_t kChunk = 65536;
constexpr auto kWindow = 50ms;

camsim::CameraOptions BenchCamera() {
    camsim::CameraOptions o;
    o.port = 0;
    o.frameRate = 0;        // as fast as the client takes them
    o.distinctFrames = 4;   // rendered once, so the camera's own work does not count
    o.chunkMin = kChunk;
    o.chunkMax = kChunk;
    o.log = false;
    return o;
}

// Measures how many bytes arrive at counter per window of wall time.
void MeasureWindows(benchmark::State& state, const std::atomic<uint64_t>& counter) {
    uint64_t total = 0;
    for (auto _ : state) {
        const uint64_t before = counter.load();
        const auto start = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(kWindow);
        const uint64_t after = counter.load();
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        total += after - before;
    }
    state.SetBytesProcessed(static_cast<int64_t>(total));
}

struct Sink {
    std::atomic<uint64_t> bytes{0};
    std::atomic<uint8_t> last{0};
    static void Callback(int32_t, uint32_t type, uint8_t* buffer, uint32_t size, void* user) {
        auto* self = static_cast<Sink*>(user);
        if (type != TLNK_STREAM_DATA) return;
        self->last.store(buffer[size - 1], std::memory_order_relaxed);
        self->bytes.fetch_add(size, std::memory_order_relaxed);
    }
};

void BM_TarnlinkStream(benchmark::State& state) {
    const camsim::CameraOptions options = BenchCamera();
    std::string error;
    std::shared_ptr<camsim::Camera> camera = camsim::Camera::Create(options, error);
    camsim::CameraServer server(options, camera);
    if (!camera || !server.Start(error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    const int32_t id = TLNK_Login("127.0.0.1", server.Port(), "admin", "qbxwz70413", nullptr);
    Sink sink;
    const PreviewInfo preview{1, 10, 1, ""};
    const int32_t play = id >= 0 ? TLNK_RealPlay_V30(id, &preview, Sink::Callback, &sink, 0) : -1;
    if (play < 0) {
        state.SkipWithError("no stream");
        TLNK_Logout(id);
        return;
    }
    while (sink.bytes < 8 * camera->FrameSize()) std::this_thread::sleep_for(1ms);  // warmed up
    MeasureWindows(state, sink.bytes);
    TLNK_StopRealPlay(play);
    TLNK_Logout(id);
}

void BM_PlainTcpCopy(benchmark::State& state) {
    const camsim::CameraOptions options = BenchCamera();
    std::string error;
    std::shared_ptr<camsim::Camera> camera = camsim::Camera::Create(options, error);
    sockaddr_in address{};
    tarnlink::net::ParseIpv4("127.0.0.1", 0, address);
    tarnlink::net::UniqueFd listener = tarnlink::net::ListenTcp(address);
    address.sin_port = htons(tarnlink::net::LocalPort(listener.Get()));
    bool timedOut = false;
    tarnlink::net::UniqueFd client = tarnlink::net::ConnectTcp(address, 5000, timedOut);
    tarnlink::net::UniqueFd sender(::accept(listener.Get(), nullptr, nullptr));
    if (!camera || !client.Valid() || !sender.Valid()) {
        state.SkipWithError("no connection");
        return;
    }
    std::atomic<bool> run{true};
    // The same frames without any protocol around them, a whole frame per send.
    std::thread send([&] {
        for (uint64_t i = 0; run; ++i) {
            const auto frame = camera->FrameAt(i);
            if (!tarnlink::net::SendAll(sender.Get(), frame->data(), frame->size())) return;
        }
    });
    Sink sink;
    std::thread receive([&] {
        std::vector<uint8_t> buffer(1u << 20);  // as much as the SDK reads at once
        for (;;) {
            const ssize_t n = ::recv(client.Get(), buffer.data(), buffer.size(), 0);
            if (n <= 0) return;
            Sink::Callback(0, TLNK_STREAM_DATA, buffer.data(), static_cast<uint32_t>(n), &sink);
        }
    });
    while (sink.bytes < 8 * camera->FrameSize()) std::this_thread::sleep_for(1ms);
    MeasureWindows(state, sink.bytes);
    run = false;
    ::shutdown(client.Get(), SHUT_RDWR);
    ::shutdown(sender.Get(), SHUT_RDWR);
    send.join();
    receive.join();
}

BENCHMARK(BM_PlainTcpCopy)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TarnlinkStream)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

}  // namespace
