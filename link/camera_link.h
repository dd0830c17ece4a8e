// The camera link's calls into Tarnlink and Glintra: logging in, starting the live stream into a
// FramePipeline, preparing the render handle and drawing the fixed centre box. No GUI: the main
// window keeps the handles and shows the messages, tools can use the same sequences.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "frame_pipeline.h"
#include "glintra.h"
#include "tarnlink.h"

namespace kestrix {

// The port as the SDK takes it: the low 16 bits, unsigned (65536 gives 0, -1 gives 65535).
uint16_t PortOnWire(int32_t port);

// TLNK_Login with a zero-filled DeviceInfo; the strings are UTF-8. Returns the user id (negative on
// failure, then TLNK_GetLastError tells why).
int32_t LinkLogin(const std::string& address, int32_t port, const std::string& user,
                  const std::string& password);

// TLNK_RealPlay_V30 on channel 1 with the stream going into `pipeline` through StreamDataCallback,
// and its end, when the SDK ends it, to the pipeline's sink. Returns the play handle, negative on
// failure.
int32_t LinkStartStream(int32_t userId, FramePipeline* pipeline);

// Creates the render handle when `handle` holds 0, then initialises it for the grey picture, adds
// sub-port 0 and registers `overlay` with `user`. False when any of the first three steps fails.
bool LinkInitRender(std::atomic<GLT_HANDLE>& handle, GLT_DRAWCALLBACK overlay, void* user);

// Removes sub-port 0 and destroys the handle, when there is one; `handle` is 0 afterwards.
void LinkReleaseRender(std::atomic<GLT_HANDLE>& handle);

// The fixed overlay: an opaque red box over the middle tenth of the picture each way.
inline constexpr float kCentreBoxRect[4] = {0.45f, 0.55f, 0.45f, 0.55f};  // left, right, top, bottom
inline constexpr float kCentreBoxColour[4] = {1.0f, 0.0f, 0.0f, 1.0f};

// Inside the overlay callback: draws the centre box.
void LinkDrawCentreBox(GLT_HANDLE handle);

// Hands one display picture to the render library and shows it in `window` (0: no window).
// Returns false when the render library did not take the picture.
bool LinkShowFrame(GLT_HANDLE handle, const DisplayFrame& frame, uint64_t window);

}  // namespace kestrix
