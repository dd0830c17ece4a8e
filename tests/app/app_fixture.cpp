// The recording double of Tarnlink and Glintra, and the tests' runner: one QApplication on the
// offscreen platform.
#include <cstdio>
#include <mutex>
#include <type_traits>

#include "app_fixture.h"

namespace sdkdouble {

Script script;
Callbacks handed;

namespace {

// The calls come from the worker's thread too.
std::mutex g_lock;
std::vector<std::string> g_calls;
std::function<void(const std::string&)> g_observer;

template <typename T>
std::string Text(T v) {
    if constexpr (std::is_floating_point_v<T>) {
        char text[32];
        std::snprintf(text, sizeof text, "%.2f", v);
        return text;
    } else if constexpr (std::is_arithmetic_v<T>) {
        return std::to_string(v);
    } else {
        return v;
    }
}

// Records NAME(args) and returns `result`.
template <typename Result, typename... Args>
Result Record(Result result, const char* name, Args... args) {
    std::string call = std::string(name) + "(";
    ((call += Text(args) + ","), ...);
    if (call.back() == ',') call.pop_back();
    call += ")";
    std::function<void(const std::string&)> observer;
    {
        std::lock_guard lock(g_lock);
        g_calls.push_back(call);
        observer = g_observer;
    }
    if (observer) observer(call);
    return result;
}

}  // namespace

void Reset(const Script& start) {
    script = start;
    handed = {};
    std::lock_guard lock(g_lock);
    g_calls.clear();
    g_observer = nullptr;
}

std::vector<std::string> Calls(const std::string& prefix) {
    std::lock_guard lock(g_lock);
    std::vector<std::string> out;
    for (const std::string& call : g_calls) {
        if (call.rfind(prefix, 0) == 0) out.push_back(call);
    }
    return out;
}

void ClearCalls() {
    std::lock_guard lock(g_lock);
    g_calls.clear();
}

void SetCallObserver(std::function<void(const std::string&)> observer) {
    std::lock_guard lock(g_lock);
    g_observer = std::move(observer);
}

}  // namespace sdkdouble

using sdkdouble::handed;
using sdkdouble::Record;

extern "C" {

int32_t TLNK_Init(void) {
    return Record(TLNK_TRUE, "TLNK_Init");
}

int32_t TLNK_Login(const char* address, uint16_t port, const char* user, const char* password,
                   DeviceInfo*) {
    return Record(sdkdouble::script.loginResult, "TLNK_Login", address, port, user, password);
}

uint32_t TLNK_GetLastError(void) {
    return Record(sdkdouble::script.lastError, "TLNK_GetLastError");
}

// Recorded as (user, channel, wait seconds, blocked, reserved).
int32_t TLNK_RealPlay_V30(int32_t userId, const PreviewInfo* preview, TLNK_StreamCallback callback,
                          void* user, int32_t reserved) {
    handed.stream = callback;
    handed.streamUser = user;
    return Record(sdkdouble::script.realPlayResult, "TLNK_RealPlay_V30", userId, preview->channel,
                  preview->waitSeconds, preview->blocked, reserved);
}

int32_t TLNK_StopRealPlay(int32_t playHandle) {
    handed.stream = nullptr;
    return Record(TLNK_TRUE, "TLNK_StopRealPlay", playHandle);
}

int32_t TLNK_Logout(int32_t userId) {
    return Record(TLNK_TRUE, "TLNK_Logout", userId);
}

int32_t TLNK_PTZControl_Other(int32_t userId, int32_t channel, uint32_t command, uint32_t stop) {
    return Record(TLNK_TRUE, "TLNK_PTZControl_Other", userId, channel, command, stop);
}

GLT_HANDLE GLT_CreateHandle(void) {
    return Record(GLT_HANDLE{7}, "GLT_CreateHandle");
}

int32_t GLT_Init(GLT_HANDLE handle, int32_t format, int32_t reserved, int32_t scaleFilter) {
    return Record(sdkdouble::script.initResult, "GLT_Init", handle, format, reserved, scaleFilter);
}

int32_t GLT_AddSubPort(GLT_HANDLE handle, int32_t subPort, int32_t reserved) {
    return Record(1, "GLT_AddSubPort", handle, subPort, reserved);
}

int32_t GLT_SetCallBack(GLT_HANDLE handle, int32_t subPort, int32_t kind, GLT_DRAWCALLBACK callback,
                        void* user) {
    handed.overlay = callback;
    handed.overlayUser = user;
    return Record(1, "GLT_SetCallBack", handle, subPort, kind);
}

// Recorded with the image's first byte.
int32_t GLT_UpdateFrameData(GLT_HANDLE handle, const uint8_t* image, int32_t width, int32_t height,
                            int32_t reserved) {
    return Record(sdkdouble::script.updateFrameResult, "GLT_UpdateFrameData", handle, image[0],
                  width, height, reserved);
}

int32_t GLT_Display(GLT_HANDLE handle, int32_t subPort, uint64_t window) {
    return Record(1, "GLT_Display", handle, subPort, window ? "window" : "0");
}

int32_t GLT_DrawRect(GLT_HANDLE handle, const float rect[4], const float colour[4],
                     int32_t lineWidth) {
    return Record(1, "GLT_DrawRect", handle, rect[0], rect[1], rect[2], rect[3], colour[0],
                  colour[1], colour[2], colour[3], lineWidth);
}

int32_t GLT_DelSubPort(GLT_HANDLE handle, int32_t subPort) {
    return Record(1, "GLT_DelSubPort", handle, subPort);
}

int32_t GLT_DestroyHandle(GLT_HANDLE handle) {
    return Record(1, "GLT_DestroyHandle", handle);
}

}  // extern "C"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
