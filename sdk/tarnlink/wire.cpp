// Encoders and decoders of the Tarnlink messages. All fields are little-endian; a decoder reads
// nothing outside the body it is given and accepts only a body of the exact size.
#include "wire.h"

#include <algorithm>
#include <cstring>

#include "crypto.h"

namespace tarnlink::wire {
namespace {

constexpr std::string_view kProofLabel = "TLNK-LOGIN-1";
constexpr size_t kDeviceSize = kSerialSize + size_t{4} * 2 + 2;  // serial, 4 x u16, 2 x u8

void Put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void Store32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint16_t Load16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t Load32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Appends the header for a body of bodyLength bytes and returns where the body starts.
void Begin(std::vector<uint8_t>& out, MsgType type, size_t bodyLength) {
    uint8_t header[kHeaderSize];
    EncodeHeader(header, type, static_cast<uint32_t>(bodyLength));
    out.insert(out.end(), header, header + kHeaderSize);
}

bool IsStatus(uint32_t v) { return v <= static_cast<uint32_t>(Status::TimedOut); }

}  // namespace

void EncodeHeader(uint8_t* out8, MsgType type, uint32_t bodyLength) {
    Store32(out8, bodyLength);
    out8[4] = static_cast<uint8_t>(static_cast<uint16_t>(type));
    out8[5] = static_cast<uint8_t>(static_cast<uint16_t>(type) >> 8);
    out8[6] = 0;
    out8[7] = 0;
}

void Encode(std::vector<uint8_t>& out, const Hello& m) {
    Begin(out, MsgType::Hello, 2 + kNonceSize);
    Put16(out, m.version);
    out.insert(out.end(), m.nonce.begin(), m.nonce.end());
}

void Encode(std::vector<uint8_t>& out, const Login& m) {
    const size_t userLength = std::min(m.user.size(), kMaxUserName);
    Begin(out, MsgType::Login, 1 + userLength + kMacSize);
    out.push_back(static_cast<uint8_t>(userLength));
    out.insert(out.end(), m.user.begin(), m.user.begin() + static_cast<ptrdiff_t>(userLength));
    out.insert(out.end(), m.proof.begin(), m.proof.end());
}

void Encode(std::vector<uint8_t>& out, const LoginResult& m) {
    Begin(out, MsgType::LoginResult, 4 + kDeviceSize);
    Put32(out, static_cast<uint32_t>(m.status));
    out.insert(out.end(), m.device.serial.begin(), m.device.serial.end());
    Put16(out, m.device.width);
    Put16(out, m.device.height);
    Put16(out, m.device.frameRate);
    Put16(out, m.device.formatCode);
    out.push_back(m.device.channelCount);
    out.push_back(m.device.startChannel);
}

void Encode(std::vector<uint8_t>& out, const StreamStart& m) {
    Begin(out, MsgType::StreamStart, 8);
    Put32(out, m.streamId);
    Put32(out, static_cast<uint32_t>(m.channel));
}

void Encode(std::vector<uint8_t>& out, const StreamResult& m) {
    Begin(out, MsgType::StreamResult, 8);
    Put32(out, m.streamId);
    Put32(out, static_cast<uint32_t>(m.status));
}

void Encode(std::vector<uint8_t>& out, const StreamStop& m) {
    Begin(out, MsgType::StreamStop, 4);
    Put32(out, m.streamId);
}

void Encode(std::vector<uint8_t>& out, const Ptz& m) {
    Begin(out, MsgType::Ptz, 16);
    Put32(out, m.sequence);
    Put32(out, static_cast<uint32_t>(m.channel));
    Put32(out, m.command);
    Put32(out, m.stop);
}

void Encode(std::vector<uint8_t>& out, const PtzResult& m) {
    Begin(out, MsgType::PtzResult, 8);
    Put32(out, m.sequence);
    Put32(out, static_cast<uint32_t>(m.status));
}

void Encode(std::vector<uint8_t>& out, const Bye& m) {
    Begin(out, MsgType::Bye, 4);
    Put32(out, static_cast<uint32_t>(m.reason));
}

void EncodeEmpty(std::vector<uint8_t>& out, MsgType type) { Begin(out, type, 0); }

void EncodeStream(std::vector<uint8_t>& out, MsgType type, uint32_t streamId,
                  std::span<const uint8_t> payload) {
    uint8_t prefix[kHeaderSize + kStreamPrefixSize];
    EncodeStreamPrefix(prefix, type, streamId, static_cast<uint32_t>(payload.size()));
    out.insert(out.end(), prefix, prefix + sizeof prefix);
    out.insert(out.end(), payload.begin(), payload.end());
}

void EncodeStreamPrefix(uint8_t* out12, MsgType type, uint32_t streamId, uint32_t payloadLength) {
    EncodeHeader(out12, type, static_cast<uint32_t>(kStreamPrefixSize) + payloadLength);
    Store32(out12 + kHeaderSize, streamId);
}

std::optional<Hello> DecodeHello(std::span<const uint8_t> body) {
    if (body.size() != 2 + kNonceSize) return std::nullopt;
    Hello m;
    m.version = Load16(body.data());
    std::copy_n(body.data() + 2, kNonceSize, m.nonce.begin());
    return m;
}

std::optional<Login> DecodeLogin(std::span<const uint8_t> body) {
    if (body.empty()) return std::nullopt;
    const size_t userLength = body[0];
    if (userLength > kMaxUserName || body.size() != 1 + userLength + kMacSize) return std::nullopt;
    Login m;
    m.user.assign(reinterpret_cast<const char*>(body.data() + 1), userLength);
    std::copy_n(body.data() + 1 + userLength, kMacSize, m.proof.begin());
    return m;
}

std::optional<LoginResult> DecodeLoginResult(std::span<const uint8_t> body) {
    if (body.size() != 4 + kDeviceSize) return std::nullopt;
    const uint8_t* p = body.data();
    if (!IsStatus(Load32(p))) return std::nullopt;
    LoginResult m;
    m.status = static_cast<Status>(Load32(p));
    p += 4;
    std::copy_n(p, kSerialSize, m.device.serial.begin());
    m.device.serial.back() = '\0';
    p += kSerialSize;
    m.device.width = Load16(p);
    m.device.height = Load16(p + 2);
    m.device.frameRate = Load16(p + 4);
    m.device.formatCode = Load16(p + 6);
    m.device.channelCount = p[8];
    m.device.startChannel = p[9];
    return m;
}

std::optional<StreamStart> DecodeStreamStart(std::span<const uint8_t> body) {
    if (body.size() != 8) return std::nullopt;
    return StreamStart{Load32(body.data()), static_cast<int32_t>(Load32(body.data() + 4))};
}

std::optional<StreamResult> DecodeStreamResult(std::span<const uint8_t> body) {
    if (body.size() != 8 || !IsStatus(Load32(body.data() + 4))) return std::nullopt;
    return StreamResult{Load32(body.data()), static_cast<Status>(Load32(body.data() + 4))};
}

std::optional<StreamPayload> DecodeStreamPayload(std::span<const uint8_t> body) {
    if (body.size() < kStreamPrefixSize) return std::nullopt;
    return StreamPayload{Load32(body.data()), body.subspan(kStreamPrefixSize)};
}

std::optional<StreamStop> DecodeStreamStop(std::span<const uint8_t> body) {
    if (body.size() != 4) return std::nullopt;
    return StreamStop{Load32(body.data())};
}

std::optional<Ptz> DecodePtz(std::span<const uint8_t> body) {
    if (body.size() != 16) return std::nullopt;
    return Ptz{Load32(body.data()), static_cast<int32_t>(Load32(body.data() + 4)),
               Load32(body.data() + 8), Load32(body.data() + 12)};
}

std::optional<PtzResult> DecodePtzResult(std::span<const uint8_t> body) {
    if (body.size() != 8 || !IsStatus(Load32(body.data() + 4))) return std::nullopt;
    return PtzResult{Load32(body.data()), static_cast<Status>(Load32(body.data() + 4))};
}

std::optional<Bye> DecodeBye(std::span<const uint8_t> body) {
    if (body.size() != 4 || !IsStatus(Load32(body.data()))) return std::nullopt;
    return Bye{static_cast<Status>(Load32(body.data()))};
}

bool DecodeEmpty(std::span<const uint8_t> body) { return body.empty(); }

Mac LoginProof(std::string_view password, const Nonce& nonce, std::string_view user) {
    std::string message(kProofLabel);
    message.append(reinterpret_cast<const char*>(nonce.data()), nonce.size());
    message.append(user);
    uint8_t digest[crypto::kSha256Size];
    crypto::HmacSha256(password, message, digest);
    Mac mac{};
    std::memcpy(mac.data(), digest, kMacSize);
    return mac;
}

bool ProofsEqual(const Mac& a, const Mac& b) {
    return crypto::ConstantTimeEqual(a.data(), b.data(), kMacSize);
}

bool RandomNonce(Nonce& out) { return crypto::RandomBytes(out.data(), out.size()); }

MessageReader::MessageReader(uint32_t maxBody, size_t initialBuffer)
    : m_maxBody(maxBody),
      m_buffer(std::clamp(initialBuffer, kHeaderSize, kHeaderSize + size_t{maxBody})) {}

std::span<uint8_t> MessageReader::WritableSpace() {
    if (m_begin == m_end) m_begin = m_end = 0;
    // The whole of the message being received must fit behind m_begin; its length is known once
    // its header is in. An oversized length is refused by Next, so it never grows the buffer.
    const size_t pending = m_end - m_begin;
    size_t whole = kHeaderSize;
    if (pending >= kHeaderSize) {
        whole += std::min(Load32(m_buffer.data() + m_begin), m_maxBody);
    }
    whole = std::max(whole, pending + 1);
    // Also move a small remainder to the front when little room is left behind it, so that
    // reads stay large.
    const bool cramped = m_buffer.size() - m_end < m_buffer.size() / 4 && pending <= m_buffer.size() / 16;
    if (m_buffer.size() - m_begin < whole || m_end == m_buffer.size() || cramped) {
        std::memmove(m_buffer.data(), m_buffer.data() + m_begin, pending);
        m_begin = 0;
        m_end = pending;
    }
    if (m_buffer.size() < whole) m_buffer.resize(whole);
    return {m_buffer.data() + m_end, m_buffer.size() - m_end};
}

void MessageReader::Commit(size_t count) { m_end = std::min(m_end + count, m_buffer.size()); }

MessageReader::Result MessageReader::Next(Message& out) {
    const size_t buffered = m_end - m_begin;
    if (buffered < kHeaderSize) return Result::NeedMore;
    const uint8_t* p = m_buffer.data() + m_begin;
    const uint32_t length = Load32(p);
    const uint16_t type = Load16(p + 4);
    if (length > m_maxBody || type == 0 || type > kLastMsgType || Load16(p + 6) != 0) {
        return Result::Malformed;
    }
    if (buffered < kHeaderSize + length) return Result::NeedMore;
    out.type = static_cast<MsgType>(type);
    out.body = {p + kHeaderSize, length};
    m_begin += kHeaderSize + length;
    return Result::Message;
}

}  // namespace tarnlink::wire
