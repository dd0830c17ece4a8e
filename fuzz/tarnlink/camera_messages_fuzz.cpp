// What a client may send to the camera: framing and every decoder the camera uses, and the
// login proof check over whatever user name arrives.
#include "fuzz_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tarnlink::wire;
    FeedMessages(data, size, kMaxRequestBody, [](const Message& m) {
        switch (m.type) {
            case MsgType::Login:
                if (const auto login = DecodeLogin(m.body)) {
                    if (login->user.size() > kMaxUserName) __builtin_trap();
                    (void)ProofsEqual(LoginProof("qbxwz70413", Nonce{}, login->user), login->proof);
                }
                break;
            case MsgType::StreamStart: (void)DecodeStreamStart(m.body); break;
            case MsgType::StreamStop: (void)DecodeStreamStop(m.body); break;
            case MsgType::Ptz: (void)DecodePtz(m.body); break;
            default: (void)DecodeEmpty(m.body); break;
        }
    });
    return 0;
}
