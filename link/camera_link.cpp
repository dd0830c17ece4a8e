// The SDK call sequences of the camera link.
#include "camera_link.h"

#include <cstring>

namespace kestrix {
namespace {

constexpr int32_t kChannel = 1;
constexpr int32_t kStreamWaitSeconds = 10;
const char kEmptyStreamName[] = "";

}  // namespace

uint16_t PortOnWire(int32_t port) {
    return static_cast<uint16_t>(static_cast<uint32_t>(port) & 0xFFFFu);
}

int32_t LinkLogin(const std::string& address, int32_t port, const std::string& user,
                  const std::string& password) {
    DeviceInfo deviceInfo;
    std::memset(&deviceInfo, 0, sizeof deviceInfo);
    return TLNK_Login(address.c_str(), PortOnWire(port), user.c_str(), password.c_str(),
                      &deviceInfo);
}

int32_t LinkStartStream(int32_t userId, FramePipeline* pipeline) {
    PreviewInfo preview{kChannel, kStreamWaitSeconds, 1, kEmptyStreamName};
    return TLNK_RealPlay_V30(userId, &preview, StreamDataCallback, pipeline, 0);
}

bool LinkInitRender(std::atomic<GLT_HANDLE>& handle, GLT_DRAWCALLBACK overlay, void* user) {
    if (handle.load() == 0) handle.store(GLT_CreateHandle());
    const GLT_HANDLE h = handle.load();
    if (h == 0) return false;
    if (GLT_Init(h, GLT_FORMAT_GREY_UYVY, 0, GLT_SCALE_BILINEAR) == 0) return false;
    if (GLT_AddSubPort(h, 0, 0) == 0) return false;
    GLT_SetCallBack(h, 0, GLT_CALLBACK_OVERLAY, overlay, user);
    return true;
}

void LinkReleaseRender(std::atomic<GLT_HANDLE>& handle) {
    const GLT_HANDLE h = handle.exchange(0);
    if (h == 0) return;
    GLT_DelSubPort(h, 0);
    GLT_DestroyHandle(h);
}

void LinkDrawCentreBox(GLT_HANDLE handle) {
    GLT_DrawRect(handle, kCentreBoxRect, kCentreBoxColour, 1);
}

bool LinkShowFrame(GLT_HANDLE handle, const DisplayFrame& frame, uint64_t window) {
    if (GLT_UpdateFrameData(handle, frame.data, frame.width, frame.height, 0) == 0) return false;
    GLT_Display(handle, 0, window);
    return true;
}

}  // namespace kestrix
