// The message framing and codecs that the SDK and the camera share.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "wire.h"

namespace {

using namespace tarnlink::wire;

std::vector<uint8_t> SampleStream() {
    std::vector<uint8_t> out;
    Hello hello;
    hello.nonce.fill(0x5A);
    Encode(out, hello);
    Encode(out, Login{"admin", Mac{}});
    LoginResult result;
    result.device.width = 640;
    result.device.height = 512;
    Encode(out, result);
    Encode(out, StreamStart{7, 1});
    Encode(out, StreamResult{7, Status::Busy});
    EncodeStream(out, MsgType::StreamData, 7, std::vector<uint8_t>(3000, 0x11));
    Encode(out, StreamStop{7});
    Encode(out, Ptz{5, 1, 13, 1});
    Encode(out, PtzResult{5, Status::BadCommand});
    EncodeEmpty(out, MsgType::Heartbeat);
    Encode(out, Bye{Status::ShuttingDown});
    return out;
}

// Feeds bytes in pieces of the given sizes (cycled) and returns the messages' types and sizes.
std::vector<std::pair<MsgType, size_t>> ReadAll(const std::vector<uint8_t>& bytes,
                                                const std::vector<size_t>& pieces) {
    MessageReader reader(kMaxBody);
    std::vector<std::pair<MsgType, size_t>> seen;
    size_t pos = 0;
    for (size_t i = 0; pos < bytes.size(); ++i) {
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
    const std::vector<uint8_t> bytes = SampleStream();
    const auto whole = ReadAll(bytes, {bytes.size()});
    ASSERT_EQ(whole.size(), 11u);
    EXPECT_EQ(whole[5], std::make_pair(MsgType::StreamData, size_t{3004}));
    for (const std::vector<size_t>& pieces : {std::vector<size_t>{1}, {7}, {8, 1, 4093}, {65536}}) {
        EXPECT_EQ(ReadAll(bytes, pieces), whole);
    }
}

TEST(TarnlinkWire, ReaderKeepsUpWithAStreamLongerThanItsBuffer) {
    std::vector<uint8_t> bytes;
    std::mt19937 random(3);
    size_t payload = 0;
    for (int i = 0; i < 40; ++i) {
        const size_t n = std::uniform_int_distribution<size_t>(1, kMaxBody - kStreamPrefixSize)(random);
        EncodeStream(bytes, MsgType::StreamData, 1, std::vector<uint8_t>(n, static_cast<uint8_t>(i)));
        payload += n;
    }
    size_t seen = 0;
    for (const auto& [type, size] : ReadAll(bytes, {100000, 333333, 1 << 20})) seen += size - kStreamPrefixSize;
    EXPECT_EQ(seen, payload);
}

TEST(TarnlinkWire, ReaderRejectsMalformedHeaders) {
    struct Case {
        const char* name;
        uint32_t length;
        uint16_t type;
        uint16_t flags;
        uint32_t maxBody;
    } cases[] = {
        {"longer than the limit", kMaxBody + 1, 7, 0, kMaxBody},
        {"longer than a request may be", kMaxRequestBody + 1, 4, 0, kMaxRequestBody},
        {"huge", 0xFFFFFFFF, 7, 0, kMaxBody},
        {"type 0", 0, 0, 0, kMaxBody},
        {"unknown type", 0, kLastMsgType + 1, 0, kMaxBody},
        {"flags set", 0, 11, 0x8000, kMaxBody},
    };
    for (const Case& c : cases) {
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

TEST(TarnlinkWire, DecodersTakeOnlyBodiesOfTheirExactShape) {
    auto body = [](auto encode) {
        std::vector<uint8_t> out;
        encode(out);
        return std::vector<uint8_t>(out.begin() + kHeaderSize, out.end());
    };
    const auto hello = body([](auto& o) { Encode(o, Hello{}); });
    const auto login = body([](auto& o) { Encode(o, Login{"admin", {}}); });
    const auto result = body([](auto& o) { Encode(o, LoginResult{}); });
    const auto ptz = body([](auto& o) { Encode(o, Ptz{9, 1, 14, 0}); });
    EXPECT_TRUE(DecodeHello(hello));
    EXPECT_TRUE(DecodeLogin(login));
    EXPECT_TRUE(DecodeLoginResult(result));
    EXPECT_TRUE(DecodePtz(ptz));
    auto shorter = [](std::vector<uint8_t> b) { b.pop_back(); return b; };
    auto longer = [](std::vector<uint8_t> b) { b.push_back(0); return b; };
    EXPECT_FALSE(DecodeHello(shorter(hello)));
    EXPECT_FALSE(DecodeHello(longer(hello)));
    EXPECT_FALSE(DecodeLogin(shorter(login)));
    EXPECT_FALSE(DecodeLogin(longer(login)));
    EXPECT_FALSE(DecodeLogin({}));
    EXPECT_FALSE(DecodeLoginResult(shorter(result)));
    EXPECT_FALSE(DecodePtz(longer(ptz)));
    EXPECT_FALSE(DecodeStreamPayload(std::vector<uint8_t>{1, 2, 3}));
    EXPECT_FALSE(DecodeEmpty(std::vector<uint8_t>{0}));
    // A user name length that points past the body.
    std::vector<uint8_t> lying = login;
    lying[0] = 200;
    EXPECT_FALSE(DecodeLogin(lying));
    // A status the protocol does not have.
    EXPECT_FALSE(DecodePtzResult(std::vector<uint8_t>{9, 0, 0, 0, 99, 0, 0, 0}));
    const auto decoded = DecodeLogin(login);
    EXPECT_EQ(decoded->user, "admin");
    EXPECT_EQ(DecodePtz(ptz)->sequence, 9u);  // the number the answer must carry back
}

TEST(TarnlinkWire, LoginProofDependsOnPasswordNonceAndUser) {
    Nonce a{};
    Nonce b{};
    b[31] = 1;
    const Mac base = LoginProof("qbxwz70413", a, "admin");
    EXPECT_TRUE(ProofsEqual(base, LoginProof("qbxwz70413", a, "admin")));
    EXPECT_FALSE(ProofsEqual(base, LoginProof("qbxwz70414", a, "admin")));
    EXPECT_FALSE(ProofsEqual(base, LoginProof("qbxwz70413", b, "admin")));
    EXPECT_FALSE(ProofsEqual(base, LoginProof("qbxwz70413", a, "admim")));
    EXPECT_FALSE(ProofsEqual(LoginProof("", a, "admin"), LoginProof("x", a, "admin")));
    Nonce r1{};
    Nonce r2{};
    ASSERT_TRUE(RandomNonce(r1));
    ASSERT_TRUE(RandomNonce(r2));
    EXPECT_NE(r1, r2);
}

}  // namespace
