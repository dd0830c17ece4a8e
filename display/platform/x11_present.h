// Presentation into X11 windows: a surface's picture converted and scaled into the visible part
// of a destination rectangle and put on screen through a shared-memory image (MIT-SHM), or with
// plain XPutImage where the server cannot share memory with us. Also the surface-to-surface
// blits into 32-bit memory.
#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>

#include <memory>
#include <optional>
#include <vector>

#include "pixel_formats.h"
#include "platform/ddraw_layer.h"
#include "platform/x11_connection.h"
#include "platform/x11_convert.h"

namespace orvenna::platform {

class X11Presenter {
  public:
    explicit X11Presenter(std::shared_ptr<X11Connection> connection);
    ~X11Presenter();
    X11Presenter(const X11Presenter&) = delete;
    X11Presenter& operator=(const X11Presenter&) = delete;

    // Draws the whole of `source`, scaled bilinearly to `dest` (screen coordinates), into the
    // part of `window` inside `clip` (screen coordinates; the screen's part of it); the server
    // clips the drawing to the window and to what other windows leave visible. The put and a wait
    // for the server end the call, unless a part of the window on a later monitor follows: then
    // the put waits and goes out with that part's, before its wait (or with the next presentation
    // or window check on the connection, should that part not come). returns: DD_OK (also
    // when nothing of `dest` is inside the window), DDERR_INVALIDPIXELFORMAT (no conversion for the
    // source), DDERR_INVALIDOBJECT (the window is gone), DDERR_UNSUPPORTED (a window whose visual
    // is not 24- or 32-bit TrueColor), DDERR_SURFACELOST (the server has gone).
    HRESULT Present(HWND window, const orvenna::SurfaceView& source, const RECT& dest,
                    const RECT& clip);

    // True while pictures go to the server through shared memory.
    bool UsesSharedMemory() const { return m_bShmAttached; }

    // Sends the put that waits for the next presentation (see Present), if there is one.
    void SendPendingPut();

  private:
    // Where a put goes that has been made but not sent.
    struct Put {
        Window window = 0;
        int x = 0;
        int y = 0;
        int width = 0;
        int height = 0;
    };

    // True when a part of `window` lies on a monitor after the one of `clip` in the device order:
    // that device presents it next, and this put can go with that one.
    bool AnotherPartFollows(const X11WindowState& window, const RECT& clip) const;
    void SendPut(const Put& put);
    // Forgets this presenter's waiting put, unsent (its image is about to go).
    void DropPendingPut();

    // True when an image of width × height needs a shared segment attached first (a server
    // request that can fail), false when it is made on our side alone.
    bool NeedsAttach(int width, int height) const;
    // An image of width × height in the window's visual, reusing what is there when it fits.
    bool EnsureImage(Visual* visual, int depth, int width, int height);
    void DestroyImage();
    void DetachSegment();

    std::shared_ptr<X11Connection> m_pConnection;
    Window m_window = 0;  // the window whose visual is known (0: none)
    Visual* m_pWindowVisual = nullptr;
    int m_nWindowDepth = 0;
    GC m_gc = nullptr;  // made for m_gcWindow
    Window m_gcWindow = 0;
    XImage* m_pImage = nullptr;   // header over the segment or over m_plain
    Visual* m_pVisual = nullptr;  // what m_pImage was made for
    int m_nDepth = 0;
    bool m_bShmProbed = false;  // MIT-SHM was tried once
    bool m_bShmUsable = false;  // the server has it and attaching worked
    bool m_bShmAttached = false;
    XShmSegmentInfo m_shm{};  // the attached segment, when m_bShmAttached
    size_t m_nShmBytes = 0;
    std::vector<uint8_t> m_plain;  // image memory without shared memory
    std::optional<Put> m_pendingPut;  // listed in the connection's pendingPuts while set
};

// Sends every put waiting on `connection`. Call with its lock and an error trap held: the
// trap's wait for the server also covers them.
void SendPendingPuts(X11Connection& connection);

// A blit between memory surfaces: the whole of `source` converted and scaled onto `dest` (null:
// the whole destination) of a 32-bit RGB `target`, written only inside `clip` when there is one.
// returns: DD_OK, DDERR_INVALIDPIXELFORMAT (no
// conversion for the source, or a target that is not RGB32), DDERR_INVALIDRECT.
HRESULT BltToMemory(const orvenna::SurfaceView& source, const orvenna::SurfaceView& target,
                    const RECT* dest, ConvertScratch& scratch, const RECT* clip = nullptr);

}  // namespace orvenna::platform
