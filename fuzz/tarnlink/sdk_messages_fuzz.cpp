// What a camera may send to the SDK: framing and every decoder the SDK uses.
#include "fuzz_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tarnlink::wire;
    FeedMessages(data, size, kMaxBody, [](const Message& m) {
        switch (m.type) {
            case MsgType::Hello: (void)DecodeHello(m.body); break;
            case MsgType::LoginResult: (void)DecodeLoginResult(m.body); break;
            case MsgType::StreamResult: (void)DecodeStreamResult(m.body); break;
            case MsgType::StreamHeader:
            case MsgType::StreamData: {
                const auto payload = DecodeStreamPayload(m.body);
                // The SDK hands these bytes to the callback: they must lie inside the body.
                if (payload && !payload->bytes.empty() &&
                    (payload->bytes.data() < m.body.data() ||
                     payload->bytes.data() + payload->bytes.size() > m.body.data() + m.body.size())) {
                    __builtin_trap();
                }
                break;
            }
            case MsgType::PtzResult: (void)DecodePtzResult(m.body); break;
            case MsgType::Bye: (void)DecodeBye(m.body); break;
            default: (void)DecodeEmpty(m.body); break;
        }
    });
    return 0;
}
