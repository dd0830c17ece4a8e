// DisplayEngine: what a display handle forwards its exports to. The DirectDraw engine
// (ddraw_engine.h) is the only kind; the operations keep their slot order.
#pragma once

#include <cstdint>

#include "orvenna.h"
#include "platform/ddraw_layer.h"

namespace orvenna {

class DisplayEngine {
  public:
    virtual ~DisplayEngine() = default;
    // Sets up the devices and the per-device records. returns: 0 or a failure code.
    virtual int32_t Init() = 0;
    // returns: 0, or ORVD_E_PARAM when hwnd is not a window (the old window is kept).
    virtual int32_t SetDisplayWindow(HWND hwnd) = 0;
    // returns: 0 or an ORVD_E_* code.
    virtual int32_t DisplayFrame(tagORVD_FRAME* frame) = 0;
    // returns: 0 or an ORVD_E_* code.
    virtual int32_t RefreshDisplay() = 0;
    // null clears; a negative coordinate gives ORVD_E_PARAM and keeps the old rectangle.
    virtual int32_t SetDisplayRect(RECT* rect) = 0;
    // Releases every per-device surface of the engine.
    virtual void ReleaseSurfaces() = 0;
    // returns: ORVD_E_UNSUPPORTED for every angle.
    virtual int32_t SetRotationAngle(uint32_t angle) = 0;
    // Stores the callback, the caller's value and the handle to hand back. returns: 0.
    virtual int32_t RegisterDCCallback(ORVD_DCCALLBACK callback, intptr_t user, int32_t handle) = 0;
    // Stores the mode unchecked. returns: 0.
    virtual int32_t SetDisplayMode(uint32_t mode) = 0;
    // The handle has been released while a call on this engine is still running (from its DC
    // callback): that call stops at its next step; the engine goes when it returns.
    virtual void MarkReleased() = 0;
    virtual bool Released() const = 0;
};

}  // namespace orvenna
