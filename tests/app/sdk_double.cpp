// The recording double of Tarnlink and Glintra.
#include "sdk_double.h"

#include <cstdio>
#include <cstring>
#include <mutex>

namespace sdkdouble {
namespace {

struct State {
    std::mutex lock;
    Script script;
    std::vector<std::string> calls;
    TLNK_StreamCallback streamCallback = nullptr;
    void* streamUser = nullptr;
    GLT_DRAWCALLBACK overlay = nullptr;
    void* overlayUser = nullptr;
    PreviewInfo preview{};
    std::string previewName;
    bool deviceInfoZero = false;
    std::function<void(const std::string&)> observer;
};

State& S() {
    static State state;
    return state;
}

std::string Str(const char* s) {
    return s ? s : "(null)";
}

template <typename... Args>
void Record(const char* name, const Args&... args) {
    std::string call = std::string(name) + "(";
    bool first = true;
    auto add = [&](const std::string& arg) {
        if (!first) call += ",";
        call += arg;
        first = false;
    };
    (add(args), ...);
    (void)add;
    call += ")";
    std::function<void(const std::string&)> observer;
    {
        std::lock_guard lock(S().lock);
        S().calls.push_back(call);
        observer = S().observer;
    }
    if (observer) observer(call);
}

std::string N(long long v) {
    return std::to_string(v);
}
std::string F(float v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", static_cast<double>(v));
    return text;
}

}  // namespace

void Reset(const Script& script) {
    std::lock_guard lock(S().lock);
    S().script = script;
    S().calls.clear();
    S().streamCallback = nullptr;
    S().streamUser = nullptr;
    S().overlay = nullptr;
    S().overlayUser = nullptr;
    S().observer = nullptr;
}

Script& Current() {
    return S().script;
}

std::vector<std::string> Calls() {
    std::lock_guard lock(S().lock);
    return S().calls;
}

std::vector<std::string> CallsStartingWith(const std::string& prefix) {
    std::vector<std::string> out;
    for (const std::string& call : Calls()) {
        if (call.rfind(prefix, 0) == 0) out.push_back(call);
    }
    return out;
}

void ClearCalls() {
    std::lock_guard lock(S().lock);
    S().calls.clear();
}

TLNK_StreamCallback StreamCallback() {
    std::lock_guard lock(S().lock);
    return S().streamCallback;
}
void* StreamUser() {
    std::lock_guard lock(S().lock);
    return S().streamUser;
}
GLT_DRAWCALLBACK OverlayCallback() {
    std::lock_guard lock(S().lock);
    return S().overlay;
}
void* OverlayUser() {
    std::lock_guard lock(S().lock);
    return S().overlayUser;
}
PreviewInfo LastPreview() {
    std::lock_guard lock(S().lock);
    return S().preview;
}
std::string LastPreviewName() {
    std::lock_guard lock(S().lock);
    return S().previewName;
}
void SetCallObserver(std::function<void(const std::string&)> observer) {
    std::lock_guard lock(S().lock);
    S().observer = std::move(observer);
}

bool LastDeviceInfoWasZero() {
    std::lock_guard lock(S().lock);
    return S().deviceInfoZero;
}

}  // namespace sdkdouble

using sdkdouble::N;
using sdkdouble::S;

extern "C" {

int32_t TLNK_Init(void) {
    sdkdouble::Record("TLNK_Init");
    return TLNK_TRUE;
}

int32_t TLNK_Login(const char* address, uint16_t port, const char* user, const char* password,
                   DeviceInfo* deviceInfo) {
    bool zero = deviceInfo != nullptr;
    if (deviceInfo) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(deviceInfo);
        for (size_t i = 0; i < sizeof *deviceInfo; ++i) zero = zero && bytes[i] == 0;
    }
    {
        std::lock_guard lock(S().lock);
        S().deviceInfoZero = zero;
    }
    sdkdouble::Record("TLNK_Login", sdkdouble::Str(address), N(port), sdkdouble::Str(user),
                      sdkdouble::Str(password));
    return S().script.loginResult;
}

uint32_t TLNK_GetLastError(void) {
    sdkdouble::Record("TLNK_GetLastError");
    return S().script.lastError;
}

int32_t TLNK_RealPlay_V30(int32_t userId, const PreviewInfo* previewInfo,
                          TLNK_StreamCallback callback, void* user, int32_t reserved) {
    {
        std::lock_guard lock(S().lock);
        S().streamCallback = callback;
        S().streamUser = user;
        if (previewInfo) {
            S().preview = *previewInfo;
            S().previewName = previewInfo->streamName ? previewInfo->streamName : "(null)";
        }
    }
    sdkdouble::Record("TLNK_RealPlay_V30", N(userId), N(reserved));
    return S().script.realPlayResult;
}

int32_t TLNK_StopRealPlay(int32_t playHandle) {
    sdkdouble::Record("TLNK_StopRealPlay", N(playHandle));
    std::lock_guard lock(S().lock);
    S().streamCallback = nullptr;
    return TLNK_TRUE;
}

int32_t TLNK_Logout(int32_t userId) {
    sdkdouble::Record("TLNK_Logout", N(userId));
    return TLNK_TRUE;
}

int32_t TLNK_PTZControl_Other(int32_t userId, int32_t channel, uint32_t command, uint32_t stop) {
    sdkdouble::Record("TLNK_PTZControl_Other", N(userId), N(channel), N(command), N(stop));
    return TLNK_TRUE;
}

GLT_HANDLE GLT_CreateHandle(void) {
    sdkdouble::Record("GLT_CreateHandle");
    return S().script.createHandleResult;
}

int32_t GLT_Init(GLT_HANDLE handle, int32_t format, int32_t reserved, int32_t scaleFilter) {
    sdkdouble::Record("GLT_Init", N(handle), N(format), N(reserved), N(scaleFilter));
    return S().script.initResult;
}

int32_t GLT_AddSubPort(GLT_HANDLE handle, int32_t subPort, int32_t reserved) {
    sdkdouble::Record("GLT_AddSubPort", N(handle), N(subPort), N(reserved));
    return S().script.addSubPortResult;
}

int32_t GLT_SetCallBack(GLT_HANDLE handle, int32_t subPort, int32_t kind, GLT_DRAWCALLBACK callback,
                        void* user) {
    {
        std::lock_guard lock(S().lock);
        S().overlay = callback;
        S().overlayUser = user;
    }
    sdkdouble::Record("GLT_SetCallBack", N(handle), N(subPort), N(kind));
    return 1;
}

int32_t GLT_UpdateFrameData(GLT_HANDLE handle, const uint8_t* image, int32_t width, int32_t height,
                            int32_t reserved) {
    sdkdouble::Record("GLT_UpdateFrameData", N(handle), image ? N(image[0]) : "(null)", N(width),
                      N(height), N(reserved));
    return S().script.updateFrameResult;
}

int32_t GLT_Display(GLT_HANDLE handle, int32_t subPort, uint64_t window) {
    sdkdouble::Record("GLT_Display", N(handle), N(subPort), window ? "window" : "0");
    return 1;
}

int32_t GLT_DrawRect(GLT_HANDLE handle, const float rect[4], const float colour[4],
                     int32_t lineWidth) {
    sdkdouble::Record("GLT_DrawRect", N(handle), sdkdouble::F(rect[0]), sdkdouble::F(rect[1]),
                      sdkdouble::F(rect[2]), sdkdouble::F(rect[3]), sdkdouble::F(colour[0]),
                      sdkdouble::F(colour[1]), sdkdouble::F(colour[2]), sdkdouble::F(colour[3]),
                      N(lineWidth));
    return 1;
}

int32_t GLT_DelSubPort(GLT_HANDLE handle, int32_t subPort) {
    sdkdouble::Record("GLT_DelSubPort", N(handle), N(subPort));
    return 1;
}

int32_t GLT_DestroyHandle(GLT_HANDLE handle) {
    sdkdouble::Record("GLT_DestroyHandle", N(handle));
    return 1;
}

}  // extern "C"
