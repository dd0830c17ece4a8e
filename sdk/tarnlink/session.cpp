// A login to a camera and the SDK thread that serves it.
#include "session.h"

#include <cstring>
#include <string>

namespace tarnlink {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kConnectTimeoutMs = 4000;
constexpr auto kHandshakeWait = 3s;
constexpr int kSendTimeoutMs = 3000;
constexpr auto kPtzWait = 3s;
constexpr auto kDefaultStreamWait = 5s;
constexpr int kMaxStreamWaitSeconds = 60;
constexpr int kPollSliceMs = 250;
constexpr size_t kReceiveBuffer = 1u << 20;  // large reads keep the stream cheap

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

uint32_t ErrorOfStatus(wire::Status status) {
    switch (status) {
        case wire::Status::Ok:
            return TLNK_NOERROR;
        case wire::Status::BadCredentials:
            return TLNK_E_PASSWORD;
        case wire::Status::Busy:
            return TLNK_E_BUSY;
        case wire::Status::TimedOut:
            return TLNK_E_TIMEOUT;
        case wire::Status::ProtocolError:
            return TLNK_E_PROTOCOL;
        case wire::Status::ShuttingDown:
            return TLNK_E_DISCONNECTED;
        default:
            return TLNK_E_REFUSED;
    }
}

// Only byte 0 of this is ever handed out, as the buffer of the end-of-stream call.
uint8_t g_endMarker = 0;

}  // namespace

Session::Session(net::UniqueFd fd, const sockaddr_in& address)
    : m_fd(std::move(fd)), m_peer(net::FormatAddress(address)), m_reader(wire::kMaxBody, kReceiveBuffer) {}

Session::~Session() {
    if (m_thread.joinable()) {
        // Only reached if Close was never called; the thread holds a reference until it ends,
        // so this runs on the thread itself.
        m_thread.detach();
    }
}

std::shared_ptr<Session> Session::Open(const sockaddr_in& address, const char* user,
                                       const char* password, wire::DeviceDescription& device,
                                       uint32_t& error) {
    bool timedOut = false;
    net::UniqueFd fd = net::ConnectTcp(address, kConnectTimeoutMs, timedOut);
    if (!fd.Valid()) {
        error = timedOut ? TLNK_E_TIMEOUT : TLNK_E_CONNECT;
        return nullptr;
    }
    net::SetSendTimeout(fd.Get(), kSendTimeoutMs);
    net::SetNoDelay(fd.Get());
    std::shared_ptr<Session> session(new Session(std::move(fd), address));
    error = session->LogIn(user, password, device);
    if (error != TLNK_NOERROR) return nullptr;
    session->m_lastSentNs = NowNs();
    session->m_thread = std::thread([self = session] { self->ReaderLoop(); });
    session->m_readerId = session->m_thread.get_id();
    return session;
}

uint32_t Session::ReceiveDuringLogin(wire::Message& out, Clock::time_point deadline) {
    for (;;) {
        switch (m_reader.Next(out)) {
            case wire::MessageReader::Result::Malformed:
                return TLNK_E_PROTOCOL;
            case wire::MessageReader::Result::Message:
                if (out.type != wire::MsgType::Heartbeat) return TLNK_NOERROR;
                continue;
            case wire::MessageReader::Result::NeedMore:
                break;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || net::WaitReadable(m_fd.Get(), static_cast<int>(left.count())) <= 0) {
            return TLNK_E_TIMEOUT;
        }
        const std::span<uint8_t> space = m_reader.WritableSpace();
        const ptrdiff_t n = net::Receive(m_fd.Get(), space, true);
        if (n <= 0) return TLNK_E_DISCONNECTED;
        m_reader.Commit(static_cast<size_t>(n));
    }
}

uint32_t Session::LogIn(const char* user, const char* password, wire::DeviceDescription& device) {
    wire::Message message;
    uint32_t error = ReceiveDuringLogin(message, Clock::now() + kHandshakeWait);
    if (error != TLNK_NOERROR) return error;
    if (message.type == wire::MsgType::Bye) return TLNK_E_REFUSED;
    const auto hello = message.type == wire::MsgType::Hello ? wire::DecodeHello(message.body)
                                                            : std::nullopt;
    if (!hello || hello->version != wire::kProtocolVersion) return TLNK_E_PROTOCOL;

    wire::Login login;
    login.user = user;
    login.proof = wire::LoginProof(password, hello->nonce, login.user);
    std::vector<uint8_t> bytes;
    wire::Encode(bytes, login);
    if (!Send(bytes)) return TLNK_E_DISCONNECTED;

    error = ReceiveDuringLogin(message, Clock::now() + kHandshakeWait);
    if (error != TLNK_NOERROR) return error;
    if (message.type == wire::MsgType::Bye) {
        const auto bye = wire::DecodeBye(message.body);
        return bye ? ErrorOfStatus(bye->reason) : TLNK_E_PROTOCOL;
    }
    const auto result = message.type == wire::MsgType::LoginResult
                            ? wire::DecodeLoginResult(message.body)
                            : std::nullopt;
    if (!result) return TLNK_E_PROTOCOL;
    if (result->status != wire::Status::Ok) return ErrorOfStatus(result->status);
    device = result->device;
    return TLNK_NOERROR;
}

bool Session::Send(const std::vector<uint8_t>& message) {
    std::lock_guard lock(m_sendMutex);
    const bool sent = net::SendAll(m_fd.Get(), message.data(), message.size());
    m_lastSentNs = NowNs();
    return sent;
}

uint32_t Session::Request(const std::vector<uint8_t>& request, wire::MsgType type, uint32_t id,
                          std::chrono::milliseconds wait, wire::Status& status) {
    std::lock_guard requestLock(m_requestMutex);
    {
        std::lock_guard lock(m_replyMutex);
        if (m_linkError != TLNK_NOERROR) return m_linkError;
        m_reply.reset();
    }
    if (!Send(request)) return TLNK_E_DISCONNECTED;
    std::unique_lock lock(m_replyMutex);
    const bool answered = m_replyCv.wait_for(lock, wait, [&] {
        return m_linkError != TLNK_NOERROR ||
               (m_reply && m_reply->type == type && m_reply->id == id);
    });
    if (m_reply && m_reply->type == type && m_reply->id == id) {
        status = m_reply->status;
        m_reply.reset();
        return TLNK_NOERROR;
    }
    return answered ? m_linkError : TLNK_E_TIMEOUT;
}

uint32_t Session::StartStream(int32_t playHandle, const PreviewInfo& preview,
                              TLNK_StreamCallback callback, void* user) {
    if (OnReaderThread()) return TLNK_E_BUSY;  // from inside a callback: the stream still runs
    {
        std::lock_guard lock(m_streamMutex);
        if (m_streamActive) return TLNK_E_BUSY;
        {
            // Checked under the stream lock: either the link's end sees this stream, or the
            // stream sees the link's end.
            std::lock_guard replyLock(m_replyMutex);
            if (m_linkError != TLNK_NOERROR) return m_linkError;
        }
        m_streamActive = true;
        m_playHandle = playHandle;
        m_callback = callback;
        m_user = user;
        m_headerDelivered = false;
    }
    const auto streamId = static_cast<uint32_t>(playHandle);
    std::vector<uint8_t> request;
    wire::Encode(request, wire::StreamStart{streamId, preview.channel});
    uint32_t error = TLNK_NOERROR;
    if (preview.blocked != 0) {
        const auto wait = preview.waitSeconds > 0
                              ? std::chrono::seconds(std::min(preview.waitSeconds, kMaxStreamWaitSeconds))
                              : kDefaultStreamWait;
        wire::Status status = wire::Status::Ok;
        error = Request(request, wire::MsgType::StreamResult, streamId, wait, status);
        if (error == TLNK_NOERROR) error = ErrorOfStatus(status);
    } else if (!Send(request)) {
        error = TLNK_E_DISCONNECTED;
    }
    if (error != TLNK_NOERROR) StopStream(playHandle);
    return error;
}

void Session::StopStream(int32_t playHandle) {
    bool wasActive = false;
    auto clear = [&] {
        if (m_streamActive && m_playHandle == playHandle) {
            wasActive = true;
            m_streamActive = false;
            m_playHandle = -1;
            m_callback = nullptr;
            m_user = nullptr;
        }
    };
    if (OnReaderThread()) {
        // Called from inside the callback: the SDK thread already holds m_streamMutex.
        clear();
    } else {
        std::lock_guard lock(m_streamMutex);
        clear();
    }
    if (wasActive) {
        std::vector<uint8_t> message;
        wire::Encode(message, wire::StreamStop{static_cast<uint32_t>(playHandle)});
        Send(message);  // a dead link has no stream to stop
    }
}

bool Session::HasStream() const {
    if (OnReaderThread()) return m_streamActive;
    std::lock_guard lock(m_streamMutex);
    return m_streamActive;
}

uint32_t Session::Ptz(int32_t channel, uint32_t command, uint32_t stop) {
    if (OnReaderThread()) {
        // A callback may not wait for the thread that runs it; the command goes out unanswered.
        std::vector<uint8_t> request;
        wire::Encode(request, wire::Ptz{++m_ptzSequence, channel, command, stop});
        return Send(request) ? TLNK_NOERROR : TLNK_E_DISCONNECTED;
    }
    const uint32_t sequence = ++m_ptzSequence;
    std::vector<uint8_t> request;
    wire::Encode(request, wire::Ptz{sequence, channel, command, stop});
    wire::Status status = wire::Status::Ok;
    const uint32_t error = Request(request, wire::MsgType::PtzResult, sequence, kPtzWait, status);
    return error != TLNK_NOERROR ? error : ErrorOfStatus(status);
}

void Session::Close() {
    {
        int32_t handle = -1;
        {
            std::unique_lock lock(m_streamMutex, std::defer_lock);
            if (!OnReaderThread()) lock.lock();
            handle = m_streamActive ? m_playHandle : -1;
        }
        if (handle >= 0) StopStream(handle);
    }
    m_closing = true;
    std::vector<uint8_t> logout;
    wire::EncodeEmpty(logout, wire::MsgType::Logout);
    Send(logout);
    // Wakes the SDK thread out of its wait; the descriptor stays open until the destructor.
    net::Shutdown(m_fd.Get());
    if (OnReaderThread()) {
        m_thread.detach();  // it ends as soon as the callback that called us returns
    } else if (m_thread.joinable()) {
        m_thread.join();
    }
}

void Session::Deliver(uint32_t dataType, uint32_t streamId, std::span<const uint8_t> bytes) {
    std::lock_guard lock(m_streamMutex);
    // Bytes of a stream that was stopped may still be on their way.
    if (!m_streamActive || static_cast<uint32_t>(m_playHandle) != streamId) return;
    if (dataType == TLNK_STREAM_HEADER) {
        if (m_headerDelivered) return;
        m_headerDelivered = true;
    }
    // The callback's buffer type is not const; it points into our receive buffer, which the
    // next read overwrites anyway.
    m_callback(m_playHandle, dataType, const_cast<uint8_t*>(bytes.data()),
               static_cast<uint32_t>(bytes.size()), m_user);
}

bool Session::Dispatch(const wire::Message& message, uint32_t& reason) {
    reason = TLNK_E_PROTOCOL;
    switch (message.type) {
        case wire::MsgType::Heartbeat:
            return wire::DecodeEmpty(message.body);
        case wire::MsgType::StreamHeader:
        case wire::MsgType::StreamData: {
            const auto payload = wire::DecodeStreamPayload(message.body);
            if (!payload) return false;
            const bool header = message.type == wire::MsgType::StreamHeader;
            if (header && payload->bytes.size() != wire::kStreamHeaderSize) return false;
            if (!payload->bytes.empty()) {
                Deliver(header ? TLNK_STREAM_HEADER : TLNK_STREAM_DATA, payload->streamId,
                        payload->bytes);
            }
            return true;
        }
        case wire::MsgType::StreamResult: {
            const auto result = wire::DecodeStreamResult(message.body);
            if (!result) return false;
            if (result->status != wire::Status::Ok) {
                std::lock_guard lock(m_streamMutex);
                if (m_streamActive && static_cast<uint32_t>(m_playHandle) == result->streamId) {
                    m_streamActive = false;  // refused; a waiting TLNK_RealPlay_V30 reports it
                }
            }
            std::lock_guard lock(m_replyMutex);
            m_reply = Reply{message.type, result->streamId, result->status};
            m_replyCv.notify_all();
            return true;
        }
        case wire::MsgType::PtzResult: {
            const auto result = wire::DecodePtzResult(message.body);
            if (!result) return false;
            std::lock_guard lock(m_replyMutex);
            m_reply = Reply{message.type, result->sequence, result->status};
            m_replyCv.notify_all();
            return true;
        }
        case wire::MsgType::Bye: {
            const auto bye = wire::DecodeBye(message.body);
            if (!bye) return false;
            reason = TLNK_E_DISCONNECTED;
            return false;
        }
        default:
            return false;  // nothing else may come from a camera once logged in
    }
}

void Session::EndLink(uint32_t reason) {
    std::lock_guard streamLock(m_streamMutex);
    {
        std::lock_guard lock(m_replyMutex);
        m_linkError = reason == TLNK_E_PROTOCOL ? TLNK_E_PROTOCOL : TLNK_E_DISCONNECTED;
        m_replyCv.notify_all();
    }
    if (m_closing || !m_streamActive) return;
    // Tell the stream's owner, once, that nothing more will come.
    m_callback(m_playHandle, TLNK_STREAM_END, &g_endMarker, 0, m_user);
    m_streamActive = false;
}

void Session::ReaderLoop() {
    Clock::time_point lastReceived = Clock::now();
    const auto heartbeatNs =
        std::chrono::duration_cast<std::chrono::nanoseconds>(wire::kHeartbeatInterval).count();
    uint32_t reason = TLNK_E_DISCONNECTED;
    for (;;) {
        // Messages the login left in the buffer come first.
        wire::Message message;
        wire::MessageReader::Result result;
        bool broken = false;
        while ((result = m_reader.Next(message)) == wire::MessageReader::Result::Message) {
            if (!Dispatch(message, reason)) {
                broken = true;
                break;
            }
        }
        if (broken || result == wire::MessageReader::Result::Malformed) {
            if (result == wire::MessageReader::Result::Malformed) reason = TLNK_E_PROTOCOL;
            break;
        }
        if (m_closing) break;

        // Read first and wait only when nothing is there: a busy stream costs one call a read.
        reason = TLNK_E_DISCONNECTED;
        const std::span<uint8_t> space = m_reader.WritableSpace();
        const ptrdiff_t n = net::Receive(m_fd.Get(), space, false);
        if (n > 0) {
            m_reader.Commit(static_cast<size_t>(n));
            lastReceived = Clock::now();
        } else if (n == net::kNothingYet) {
            if (net::WaitReadable(m_fd.Get(), kPollSliceMs) < 0) break;
        } else {
            break;  // the camera closed the connection, or it failed
        }
        if (m_closing) break;
        if (Clock::now() - lastReceived > wire::kPeerTimeout) break;  // a silent camera is gone
        if (NowNs() - m_lastSentNs >= heartbeatNs) {
            std::vector<uint8_t> heartbeat;
            wire::EncodeEmpty(heartbeat, wire::MsgType::Heartbeat);
            if (!Send(heartbeat)) break;
        }
    }
    EndLink(reason);
}

}  // namespace tarnlink
