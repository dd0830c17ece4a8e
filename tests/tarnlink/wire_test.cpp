// The message framing and codecs that the SDK and the camera share.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "wire.h"

namespace {

using namespace tarnlink::wire;

// Feeds bytes in pieces of the given sizes (cycled) and returns the messages' types and sizes.
std::vector<std::pair<MsgType, size_t>> ReadAll(const std::vector<uint8_t>& bytes, const std::vector<size_t>& pieces) {
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
        while ((r = reader.Next(m)) == MessageReader::Result::Message) seen.emplace_back(m.type, m.body.size());
        EXPECT_EQ(r, MessageReader::Result::NeedMore);
    }
    return seen;
}

TEST(TarnlinkWire, ReaderCutsTheSameMessagesOutOfAnyChunking) {
    std::vector<uint8_t> bytes;
    // Messages of every shape: fixed, with a string, empty, and a stream payload.
    Encode(bytes, Hello{});
    Encode(bytes, Login{"admin", Mac{}});
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
        const size_t n = std::uniform_int_distribution<size_t>(1, kMaxBody - kStreamPrefixSize)(random);
        EncodeStream(bytes, MsgType::StreamData, 1, std::vector<uint8_t>(n, static_cast<uint8_t>(i)));
        payload += n;
    }
    for (const auto& [type, size] : ReadAll(bytes, {100000, 333333, 1 << 20})) seen += size - kStreamPrefixSize;
    EXPECT_EQ(seen, payload);
}

TEST(TarnlinkWire, ReaderRejectsMalformedHeaders) {
    const struct {
        const char* name;
        uint32_t length;
        uint16_t type, flags;
        uint32_t maxBody;
    } cases[] = {
        {"longer than the limit", kMaxBody + 1, 7, 0, kMaxBody},
        {"longer than a request may be", kMaxRequestBody + 1, 4, 0, kMaxRequestBody},
        {"type 0", 0, 0, 0, kMaxBody},
        {"unknown type", 0, kLastMsgType + 1, 0, kMaxBody},
        {"flags set", 0, 11, 0x8000, kMaxBody},
    };
    for (const auto& c : cases) {
        MessageReader reader(c.maxBody);
        auto space = reader.WritableSpace();
        std::memcpy(space.data(), &c.length, 4);
        std::memcpy(space.data() + 4, &c.type, 2);
        std::memcpy(space.data() + 6, &c.flags, 2);
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
    std::vector<uint8_t> lying = Body(Login{"admin", {}});
    lying[0] = 200;  // a user name length that points past the body
    const struct {
        const char* name;
        bool decoded;
    } cases[] = {
        {"hello short", DecodeHello(Body(Hello{}, -1)).has_value()},
        {"hello long", DecodeHello(Body(Hello{}, 1)).has_value()},
        {"login short", DecodeLogin(Body(Login{"admin", {}}, -1)).has_value()},
        {"login long", DecodeLogin(Body(Login{"admin", {}}, 1)).has_value()},
        {"login empty", DecodeLogin({}).has_value()},
        {"user name past the body", DecodeLogin(lying).has_value()},
        {"login result short", DecodeLoginResult(Body(LoginResult{}, -1)).has_value()},
        {"ptz long", DecodePtz(Body(Ptz{9, 1, 14, 0}, 1)).has_value()},
        {"status the protocol lacks", DecodePtzResult(std::vector<uint8_t>{9, 0, 0, 0, 99, 0, 0, 0}).has_value()},
        {"stream payload without its id", DecodeStreamPayload(std::vector<uint8_t>{1, 2, 3}).has_value()},
        {"empty message with a byte", DecodeEmpty(std::vector<uint8_t>{0})},
    };
    for (const auto& c : cases) EXPECT_FALSE(c.decoded) << c.name;
}

// The password and the user name the camera checks by logging in (the SDK tests); here the rest.
TEST(TarnlinkWire, LoginProofDependsOnTheNonceAndAnEmptyPassword) {
    Nonce a{}, b{};
    b[31] = 1;
    EXPECT_FALSE(ProofsEqual(LoginProof("qbxwz70413", a, "admin"), LoginProof("qbxwz70413", b, "admin")));
    EXPECT_FALSE(ProofsEqual(LoginProof("", a, "admin"), LoginProof("x", a, "admin")));
    ASSERT_TRUE(RandomNonce(a) && RandomNonce(b));
    EXPECT_NE(a, b);
}

}  // namespace
