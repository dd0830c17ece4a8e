// A double of Tarnlink and Glintra for the program's tests: every call is recorded with its
// arguments, results are scripted, and the stream and overlay callbacks are kept so that a test can
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
    GLT_HANDLE createHandleResult = 7;
    int32_t initResult = 1;
    int32_t addSubPortResult = 1;
    int32_t updateFrameResult = 1;
};

// Forgets the calls and callbacks and starts from `script`.
void Reset(const Script& script = {});
Script& Current();

// The calls in order, each as "NAME(arg,arg,...)".
std::vector<std::string> Calls();
// Only the calls whose name starts with `prefix`.
std::vector<std::string> CallsStartingWith(const std::string& prefix);
void ClearCalls();

// The stream callback and user value of the last TLNK_RealPlay_V30.
TLNK_StreamCallback StreamCallback();
void* StreamUser();
// The overlay callback and user value of the last GLT_SetCallBack.
GLT_DRAWCALLBACK OverlayCallback();
void* OverlayUser();
// The fields of the last PreviewInfo given to TLNK_RealPlay_V30, and whether DeviceInfo was zero.
PreviewInfo LastPreview();
std::string LastPreviewName();
bool LastDeviceInfoWasZero();
// Called on the calling thread after each call is recorded, with the call's text.
void SetCallObserver(std::function<void(const std::string&)> observer);

}  // namespace sdkdouble
