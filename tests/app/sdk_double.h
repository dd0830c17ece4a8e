// A double of Tarnlink and Glintra for the program's tests: every call is recorded as
// "NAME(arg,...)", results are scripted, and the callbacks handed over are kept so that a test can
// play the SDK's and the render library's threads.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "glintra.h"
#include "tarnlink.h"

namespace sdkdouble {

struct Script {
    int32_t loginResult = 0;  // user id, or negative
    uint32_t lastError = 0;
    int32_t realPlayResult = 0;  // play handle, or negative
    int32_t initResult = 1;
    int32_t updateFrameResult = 1;
};

// What the last TLNK_RealPlay_V30 and GLT_SetCallBack were given (both on the GUI thread).
struct Callbacks {
    TLNK_StreamCallback stream = nullptr;
    void* streamUser = nullptr;
    GLT_DRAWCALLBACK overlay = nullptr;
    void* overlayUser = nullptr;
};

extern Script script;
extern Callbacks handed;

// Forgets the calls, callbacks and observer and starts from `script`.
void Reset(const Script& start = {});
// The calls in order whose text starts with `prefix`.
std::vector<std::string> Calls(const std::string& prefix = {});
void ClearCalls();
// Called on the calling thread after each call is recorded, with the call's text.
void SetCallObserver(std::function<void(const std::string&)> observer);

}  // namespace sdkdouble
