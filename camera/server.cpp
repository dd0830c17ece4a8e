// One thread accepts; each connection has a thread that reads the client's requests, paces and
// sends the frames, keeps the heartbeat, and ends the connection on any protocol fault.
#include "server.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <chrono>
#include <cstdio>
#include <random>

#include "tarnlink.h"
#include "wire.h"

namespace camsim {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
namespace wire = tarnlink::wire;
namespace net = tarnlink::net;
using net::iovec;

constexpr auto kLoginWait = 5s;
constexpr int kSendTimeoutMs = 4000;
constexpr int kPollSliceMs = 200;
constexpr size_t kChunksPerSend = 32;

std::vector<uint8_t> StreamHeaderRecord(const CameraOptions& o) {
    TLNK_StreamHeader header{};
    std::memcpy(header.magic, "TLSH", 4);
    header.version = 1;
    header.formatCode = o.formatCode;
    header.width = static_cast<uint32_t>(o.width);
    header.height = static_cast<uint32_t>(o.height);
    header.frameRate = static_cast<uint32_t>(o.frameRate);
    header.flags = (o.bigEndianPixels && o.replayFile.empty() ? TLNK_STREAM_FLAG_BIG_ENDIAN_PIXELS : 0u) |
                   (o.crcBlocks ? TLNK_STREAM_FLAG_CRC : 0u);
    std::vector<uint8_t> bytes(sizeof header);
    std::memcpy(bytes.data(), &header, sizeof header);  // the record is little-endian on the wire
    return bytes;
}

// Per-connection state of the protocol.
struct Connection {
    net::Socket fd;
    wire::Nonce nonce{};
    bool loggedIn = false;
    bool streaming = false;
    uint32_t streamId = 0;
    uint64_t nextIndex = 0;          // unpaced streams: the next frame to send
    Clock::time_point nextFrameDue;  // paced streams
    Clock::time_point lastSent;
    std::mt19937_64 random;
};

bool SendMessage(Connection& c, const std::vector<uint8_t>& bytes) {
    c.lastSent = Clock::now();
    return net::SendAll(c.fd, bytes.data(), bytes.size());
}

// Sends one whole frame as stream data messages of random size within the chunk limits.
bool SendFrame(Connection& c, const Frame& frame, const CameraOptions& o) {
    std::uniform_int_distribution<uint32_t> chunkSize(o.chunkMin, o.chunkMax);
    std::array<std::array<uint8_t, wire::kHeaderSize + wire::kStreamPrefixSize>, kChunksPerSend> prefixes;
    std::array<iovec, 2 * kChunksPerSend> pieces;
    size_t offset = 0;
    while (offset < frame.size()) {
        size_t count = 0;
        while (count < kChunksPerSend && offset < frame.size()) {
            const size_t length = std::min<size_t>(chunkSize(c.random), frame.size() - offset);
            wire::EncodeStreamPrefix(prefixes[count].data(), wire::MsgType::StreamData, c.streamId,
                                     static_cast<uint32_t>(length));
            pieces[2 * count] = {prefixes[count].data(), prefixes[count].size()};
            pieces[2 * count + 1] = {const_cast<uint8_t*>(frame.data() + offset), length};
            offset += length;
            ++count;
        }
        c.lastSent = Clock::now();
        if (!net::SendAll(c.fd, std::span<iovec>(pieces.data(), 2 * count))) return false;
    }
    return true;
}

}  // namespace

CameraServer::CameraServer(const CameraOptions& options, std::shared_ptr<Camera> camera)
    : m_options(options), m_camera(std::move(camera)) {}

CameraServer::~CameraServer() { Stop(); }

void CameraServer::Log(const std::string& text) {
    if (!m_options.log) return;
    std::lock_guard lock(m_logMutex);
    std::fprintf(stderr, "kestrix-camsim: %s\n", text.c_str());
}

bool CameraServer::Start(std::string& error) {
    sockaddr_in address{};
    if (!net::ParseIpv4(m_options.address.c_str(), m_options.port, address)) {
        error = "not an IPv4 address: " + m_options.address;
        return false;
    }
    m_listen = net::ListenTcp(address);
    if (!m_listen.Valid()) {
        error = "cannot listen on " + net::FormatAddress(address) + ": " + net::LastErrorText();
        return false;
    }
    if (!m_wake.Usable()) {
        error = "cannot create the object that wakes the connections: " + net::LastErrorText();
        return false;
    }
    m_port = net::LocalPort(m_listen.Get());
    m_acceptThread = std::thread([this] { AcceptLoop(); });
    Log("listening on " + m_options.address + ":" + std::to_string(m_port));
    return true;
}

void CameraServer::Stop() {
    if (!m_acceptThread.joinable()) return;
    m_stopping = true;
    m_wake.Set();
    m_acceptThread.join();
    std::lock_guard lock(m_clientsMutex);
    for (auto& client : m_clients) {
        if (client->thread.joinable()) client->thread.join();
    }
    m_clients.clear();
    m_listen.Reset();
}

size_t CameraServer::ClientCount() {
    std::lock_guard lock(m_clientsMutex);
    return static_cast<size_t>(std::count_if(m_clients.begin(), m_clients.end(),
                                             [](const auto& c) { return !c->finished; }));
}

void CameraServer::ReapFinished() {
    std::lock_guard lock(m_clientsMutex);
    for (auto it = m_clients.begin(); it != m_clients.end();) {
        if ((*it)->finished) {
            (*it)->thread.join();
            it = m_clients.erase(it);
        } else {
            ++it;
        }
    }
}

void CameraServer::AcceptLoop() {
    while (!m_stopping) {
        const int ready = net::WaitReadable(m_listen.Get(), m_wake, kPollSliceMs);
        ReapFinished();
        if (ready < 0) break;
        if (ready == 0) continue;
        sockaddr_in peer{};
        net::UniqueFd fd = net::Accept(m_listen.Get(), peer);
        if (!fd.Valid()) continue;  // the peer gave up already, or descriptors ran out
        net::SetSendTimeout(fd.Get(), kSendTimeoutMs);
        net::SetNoDelay(fd.Get());
        auto client = std::make_unique<Client>();
        client->fd = std::move(fd);
        client->peer = net::FormatAddress(peer);
        Client* raw = client.get();
        {
            std::lock_guard lock(m_clientsMutex);
            client->id = m_nextId++;
            m_clients.push_back(std::move(client));
        }
        Log(raw->peer + " connected");
        try {
            raw->thread = std::thread([this, raw] { Serve(*raw); });
        } catch (const std::system_error&) {
            Log(raw->peer + " dropped: no thread to serve it");
            raw->finished = true;
        }
    }
}

void CameraServer::Serve(Client& client) {
    Connection c;
    c.fd = client.fd.Get();
    c.random.seed(m_options.seed + client.id);
    const Clock::time_point connected = Clock::now();
    Clock::time_point lastReceived = connected;
    wire::MessageReader reader(wire::kMaxRequestBody);
    std::string why;
    const uint64_t motorOwner = client.id;

    auto reply = [&](const auto& message) {
        std::vector<uint8_t> bytes;
        wire::Encode(bytes, message);
        return SendMessage(c, bytes);
    };
    auto bye = [&](wire::Status reason) { reply(wire::Bye{reason}); };

    // Handles one request; false ends the connection.
    auto handle = [&](const wire::Message& m) -> bool {
        if (!c.loggedIn && m.type != wire::MsgType::Login && m.type != wire::MsgType::Heartbeat) {
            why = "request before login";
            bye(wire::Status::NotLoggedIn);
            return false;
        }
        switch (m.type) {
            case wire::MsgType::Heartbeat:
                if (!wire::DecodeEmpty(m.body)) break;
                return true;
            case wire::MsgType::Login: {
                const auto login = wire::DecodeLogin(m.body);
                if (!login || c.loggedIn) break;
                const wire::Mac expected = wire::LoginProof(m_options.password, c.nonce, login->user);
                if (login->user != m_options.user || !wire::ProofsEqual(expected, login->proof)) {
                    why = "login refused for user \"" + login->user + "\"";
                    reply(wire::LoginResult{wire::Status::BadCredentials, {}});
                    return false;
                }
                c.loggedIn = true;
                wire::DeviceDescription device;
                std::snprintf(device.serial.data(), device.serial.size(), "KXSIM-%06llu",
                              static_cast<unsigned long long>(m_options.seed % 1000000));
                device.width = static_cast<uint16_t>(m_options.width);
                device.height = static_cast<uint16_t>(m_options.height);
                device.frameRate = static_cast<uint16_t>(m_options.frameRate);
                device.formatCode = m_options.formatCode;
                Log(client.peer + " logged in as " + login->user);
                return reply(wire::LoginResult{wire::Status::Ok, device});
            }
            case wire::MsgType::StreamStart: {
                const auto start = wire::DecodeStreamStart(m.body);
                if (!start) break;
                wire::Status status = wire::Status::Ok;
                if (start->channel != 1) status = wire::Status::BadChannel;
                if (c.streaming) status = wire::Status::Busy;
                if (!reply(wire::StreamResult{start->streamId, status})) return false;
                if (status != wire::Status::Ok) return true;
                c.streaming = true;
                c.streamId = start->streamId;
                c.nextIndex = m_camera->IndexNow();
                c.nextFrameDue = Clock::now();
                std::vector<uint8_t> header;
                wire::EncodeStream(header, wire::MsgType::StreamHeader, c.streamId,
                                   StreamHeaderRecord(m_options));
                Log(client.peer + " stream started");
                return SendMessage(c, header);
            }
            case wire::MsgType::StreamStop: {
                const auto stop = wire::DecodeStreamStop(m.body);
                if (!stop) break;
                if (c.streaming && stop->streamId == c.streamId) {
                    c.streaming = false;
                    Log(client.peer + " stream stopped");
                }
                return true;
            }
            case wire::MsgType::Ptz: {
                const auto ptz = wire::DecodePtz(m.body);
                if (!ptz) break;
                wire::Status status = wire::Status::Ok;
                if (ptz->channel != 1) {
                    status = wire::Status::BadChannel;
                } else if (ptz->stop > 1 ||
                           !m_camera->Focus().Command(ptz->command, ptz->stop == 1, motorOwner, Clock::now())) {
                    status = wire::Status::BadCommand;
                } else {
                    Log(client.peer + " focus " + std::to_string(ptz->command) +
                        (ptz->stop ? " stop" : " start"));
                }
                return reply(wire::PtzResult{ptz->sequence, status});
            }
            case wire::MsgType::Logout:
                if (!wire::DecodeEmpty(m.body)) break;
                why = "logged out";
                return false;
            default:
                break;
        }
        why = "malformed request";
        bye(wire::Status::ProtocolError);
        return false;
    };

    if (!wire::RandomNonce(c.nonce)) {
        why = "no random source";
    } else if (!reply(wire::Hello{wire::kProtocolVersion, c.nonce})) {
        why = "send failed";
    }
    const bool unpaced = m_options.frameRate <= 0;
    const auto frameInterval = std::chrono::nanoseconds(1'000'000'000LL / std::max(1, m_options.frameRate));
    while (why.empty()) {
        const Clock::time_point now = Clock::now();
        if (m_stopping) {
            why = "camera shutting down";
            bye(wire::Status::ShuttingDown);
            break;
        }
        if (!c.loggedIn && now - connected > kLoginWait) {
            why = "no login in time";
            bye(wire::Status::TimedOut);
            break;
        }
        if (now - lastReceived > wire::kPeerTimeout) {
            why = "client went silent";
            break;
        }
        if (m_options.dropAfterSeconds > 0 && now - connected >= std::chrono::seconds(m_options.dropAfterSeconds)) {
            why = "dropped on purpose after " + std::to_string(m_options.dropAfterSeconds) + " s";
            break;
        }
        if (c.streaming && (unpaced || now >= c.nextFrameDue)) {
            // Paced streams follow the camera's clock, and never send a frame twice.
            const uint64_t index = unpaced ? c.nextIndex : std::max(c.nextIndex, m_camera->IndexNow());
            c.nextIndex = index + 1;
            if (!SendFrame(c, *m_camera->FrameAt(index), m_options)) {
                why = "send failed";
                break;
            }
            c.nextFrameDue += frameInterval;
            if (c.nextFrameDue < Clock::now()) c.nextFrameDue = Clock::now() + frameInterval;
        } else if (now - c.lastSent >= wire::kHeartbeatInterval) {
            std::vector<uint8_t> heartbeat;
            wire::EncodeEmpty(heartbeat, wire::MsgType::Heartbeat);
            if (!SendMessage(c, heartbeat)) {
                why = "send failed";
                break;
            }
        }

        int timeoutMs = kPollSliceMs;
        if (c.streaming) {
            timeoutMs = unpaced ? 0
                                : static_cast<int>(std::clamp<int64_t>(
                                      std::chrono::duration_cast<std::chrono::milliseconds>(
                                          c.nextFrameDue - Clock::now()).count(),
                                      0, kPollSliceMs));
        }
        const int ready = net::WaitReadable(c.fd, m_wake, timeoutMs);
        if (ready < 0) {
            why = "poll failed";
            break;
        }
        if (ready == 0) continue;
        const ptrdiff_t n = net::Receive(c.fd, reader.WritableSpace(), true);
        if (n <= 0) {
            why = n == 0 ? "client closed the connection" : "receive failed";
            break;
        }
        reader.Commit(static_cast<size_t>(n));
        lastReceived = Clock::now();
        wire::Message message;
        wire::MessageReader::Result result;
        while ((result = reader.Next(message)) == wire::MessageReader::Result::Message) {
            if (!handle(message)) {
                if (why.empty()) why = "send failed";
                break;
            }
        }
        if (why.empty() && result == wire::MessageReader::Result::Malformed) {
            why = "malformed message";
            bye(wire::Status::ProtocolError);
        }
    }
    m_camera->Focus().Release(motorOwner, Clock::now());
    net::Shutdown(c.fd);
    Log(client.peer + " disconnected: " + why);
    client.finished = true;
}

}  // namespace camsim
