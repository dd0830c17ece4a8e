// The Tarnlink wire protocol: message framing, the encoders and the bounds-checked decoders of
// every message, and the login proof. Shared by the SDK and the camera emulator; see PROTOCOL.md.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarnlink::wire {

constexpr uint16_t kProtocolVersion = 2;
constexpr size_t kHeaderSize = 8;          // u32 body length, u16 type, u16 flags (0)
constexpr uint32_t kMaxBody = 1u << 20;    // largest body either side accepts
constexpr uint32_t kMaxRequestBody = 256;  // largest body the camera accepts from the SDK
constexpr size_t kNonceSize = 32;
constexpr size_t kMacSize = 32;
constexpr size_t kMaxUserName = 64;
constexpr size_t kSerialSize = 32;
constexpr size_t kStreamHeaderSize = 24;
constexpr size_t kStreamPrefixSize = 4;    // the stream id in front of stream header and data

// Each side sends a heartbeat when it has sent nothing for kHeartbeatInterval, and gives the
// peer up when it has received nothing for kPeerTimeout.
constexpr std::chrono::milliseconds kHeartbeatInterval{1000};
constexpr std::chrono::milliseconds kPeerTimeout{4000};

enum class MsgType : uint16_t {
    Hello = 1,         // camera -> SDK: version, nonce
    Login = 2,         // SDK -> camera: user name, proof
    LoginResult = 3,   // camera -> SDK: status, device description
    StreamStart = 4,   // SDK -> camera: stream id, channel
    StreamResult = 5,  // camera -> SDK: stream id, status
    StreamHeader = 6,  // camera -> SDK: stream id, 24-byte stream header
    StreamData = 7,    // camera -> SDK: stream id, raw frame bytes
    StreamStop = 8,    // SDK -> camera: stream id
    Ptz = 9,           // SDK -> camera: sequence number, channel, command, stop
    PtzResult = 10,    // camera -> SDK: the request's sequence number, status
    Heartbeat = 11,    // both ways, empty
    Logout = 12,       // SDK -> camera, empty; the camera closes the connection
    Bye = 13,          // camera -> SDK: reason, then the camera closes the connection
};
constexpr uint16_t kLastMsgType = 13;

enum class Status : uint32_t {
    Ok = 0,
    BadCredentials = 1,
    BadChannel = 2,
    BadCommand = 3,
    Busy = 4,
    NotLoggedIn = 5,
    ProtocolError = 6,
    ShuttingDown = 7,
    TimedOut = 8,
};

using Nonce = std::array<uint8_t, kNonceSize>;
using Mac = std::array<uint8_t, kMacSize>;

struct Hello {
    uint16_t version = kProtocolVersion;
    Nonce nonce{};
};

struct Login {
    std::string user;  // 0..kMaxUserName bytes
    Mac proof{};       // LoginProof(password, nonce, user)
};

struct DeviceDescription {
    std::array<char, kSerialSize> serial{};  // NUL-padded
    uint16_t width = 0;
    uint16_t height = 0;
    uint16_t frameRate = 0;
    uint16_t formatCode = 0;
    uint8_t channelCount = 1;
    uint8_t startChannel = 1;
};

struct LoginResult {
    Status status = Status::Ok;
    DeviceDescription device;  // meaningful with Status::Ok
};

struct StreamStart {
    uint32_t streamId = 0;
    int32_t channel = 1;
};

struct StreamResult {
    uint32_t streamId = 0;
    Status status = Status::Ok;
};

// StreamHeader and StreamData: the stream id and a view of the bytes that follow it.
struct StreamPayload {
    uint32_t streamId = 0;
    std::span<const uint8_t> bytes;
};

struct StreamStop {
    uint32_t streamId = 0;
};

struct Ptz {
    uint32_t sequence = 0;  // the SDK's count of requests; the answer carries it back
    int32_t channel = 1;
    uint32_t command = 0;
    uint32_t stop = 0;
};

struct PtzResult {
    uint32_t sequence = 0;  // of the request answered
    Status status = Status::Ok;
};

struct Bye {
    Status reason = Status::Ok;
};

// One framed message; body points into the reader's buffer.
struct Message {
    MsgType type = MsgType::Heartbeat;
    std::span<const uint8_t> body;
};

// Frame header of a message with a body of bodyLength bytes.
void EncodeHeader(uint8_t* out8, MsgType type, uint32_t bodyLength);

// Each encoder appends one whole message (header and body) to out.
void Encode(std::vector<uint8_t>& out, const Hello& m);
void Encode(std::vector<uint8_t>& out, const Login& m);
void Encode(std::vector<uint8_t>& out, const LoginResult& m);
void Encode(std::vector<uint8_t>& out, const StreamStart& m);
void Encode(std::vector<uint8_t>& out, const StreamResult& m);
void Encode(std::vector<uint8_t>& out, const StreamStop& m);
void Encode(std::vector<uint8_t>& out, const Ptz& m);
void Encode(std::vector<uint8_t>& out, const PtzResult& m);
void Encode(std::vector<uint8_t>& out, const Bye& m);
void EncodeEmpty(std::vector<uint8_t>& out, MsgType type);  // Heartbeat, Logout
// StreamHeader or StreamData with the payload copied in.
void EncodeStream(std::vector<uint8_t>& out, MsgType type, uint32_t streamId,
                  std::span<const uint8_t> payload);
// Header and stream id in front of payloadLength bytes sent separately (kHeaderSize + 4 bytes).
void EncodeStreamPrefix(uint8_t* out12, MsgType type, uint32_t streamId, uint32_t payloadLength);

// Each decoder reads a body of its message type; nullopt when it is malformed.
std::optional<Hello> DecodeHello(std::span<const uint8_t> body);
std::optional<Login> DecodeLogin(std::span<const uint8_t> body);
std::optional<LoginResult> DecodeLoginResult(std::span<const uint8_t> body);
std::optional<StreamStart> DecodeStreamStart(std::span<const uint8_t> body);
std::optional<StreamResult> DecodeStreamResult(std::span<const uint8_t> body);
std::optional<StreamPayload> DecodeStreamPayload(std::span<const uint8_t> body);
std::optional<StreamStop> DecodeStreamStop(std::span<const uint8_t> body);
std::optional<Ptz> DecodePtz(std::span<const uint8_t> body);
std::optional<PtzResult> DecodePtzResult(std::span<const uint8_t> body);
std::optional<Bye> DecodeBye(std::span<const uint8_t> body);
bool DecodeEmpty(std::span<const uint8_t> body);

// HMAC-SHA256 keyed with the password over a fixed label, the camera's nonce and the user name.
Mac LoginProof(std::string_view password, const Nonce& nonce, std::string_view user);
// Constant-time comparison of two proofs.
bool ProofsEqual(const Mac& a, const Mac& b);
// A nonce from the system's cryptographic random source; false when there is none.
bool RandomNonce(Nonce& out);

// Cuts messages out of a byte stream. The owner reads from the socket into WritableSpace(),
// reports the count with Commit(), then calls Next() until it returns NeedMore.
class MessageReader {
public:
    enum class Result { Message, NeedMore, Malformed };

    // Bodies longer than maxBody, unknown types and nonzero flags are malformed. The buffer
    // starts at initialBuffer bytes and grows, up to one whole message, as messages need it.
    explicit MessageReader(uint32_t maxBody, size_t initialBuffer = size_t{64} * 1024);

    // Free space behind the buffered bytes; never empty as long as the owner takes every whole
    // message with Next() before asking again. Invalidates earlier messages.
    std::span<uint8_t> WritableSpace();
    void Commit(size_t count);
    // The next whole message; its body stays valid until the next WritableSpace().
    Result Next(Message& out);
    size_t Buffered() const { return m_end - m_begin; }

private:
    uint32_t m_maxBody;
    std::vector<uint8_t> m_buffer;  // at most kHeaderSize + m_maxBody bytes
    size_t m_begin = 0;  // first unconsumed byte
    size_t m_end = 0;    // one past the last received byte
};

}  // namespace tarnlink::wire
