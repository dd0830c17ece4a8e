// The window-system side of a drawing thread, behind one interface: x11_output.cpp for X11 and
// gdi_output.cpp for Windows. The renderer's loop drives it; nothing else sees the window system.
#pragma once

#include "grey_picture.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

namespace glintra {

// Wakes a drawing thread from any thread. Made with the render handle, so that pictures and
// settings can signal before any drawing thread exists.
class Wakeup {
  public:
    Wakeup();
    ~Wakeup();
    Wakeup(const Wakeup&) = delete;
    Wakeup& operator=(const Wakeup&) = delete;

    // False when the window system's wake-up object could not be made.
    bool Usable() const { return m_native != kNone; }
    // Any thread; a signal that nobody waits for yet is kept for the next wait.
    void Signal();
    // The eventfd, or the auto-reset event's HANDLE; only the platform's output reads it.
    intptr_t Native() const { return m_native; }

  private:
    static constexpr intptr_t kNone = -1;
    intptr_t m_native = kNone;
};

// A connection to the window system, opened by the thread that starts a drawing thread (so that
// GLT_Display can report that there is none) and handed over to the drawing thread.
class Connection {
  public:
    virtual ~Connection() = default;
};

// returns: a new connection, or nullptr when there is no window system to reach (no X display).
std::unique_ptr<Connection> OpenConnection();

// Runs the overlay callback over the picture just drawn: the canvas for GLT_DrawRect, the
// picture's size, and the device context for the callback's last argument (0 where none).
using OverlayRunner = std::function<void(OverlayCanvas& canvas, int width, int height, int32_t dc)>;

// One drawing thread's window: the child window inside the window given to GLT_Display, and the
// picture presented into it. Made, used and destroyed only by the drawing thread.
class Output {
  public:
    virtual ~Output() = default;

    struct Events {
        bool repaint = false;     // the child was exposed: present the last picture again
        bool resized = false;     // the child took the parent's new size
        uint64_t goneParent = 0;  // a parent that was destroyed (with the child in it), else 0
    };
    // Handles what the window system has sent since the last call, without waiting.
    virtual Events Dispatch() = 0;
    // The connection died: the thread ends, and the next GLT_Display opens a new connection.
    virtual bool Lost() const = 0;

    // The window the child lives in; 0 when detached.
    virtual uint64_t Parent() const = 0;
    // Makes a child window filling `parent`; false when the window system refuses the parent.
    virtual bool Attach(uint64_t parent) = 0;
    virtual void Detach() = 0;
    virtual bool Ready() const = 0;
    // Whether the last rendered picture has the child's current size.
    virtual bool RenderedAtWindowSize() const = 0;

    // Scales `picture` to the child's size, runs `overlay` over it and presents it.
    // returns: false when nothing can be shown in this window.
    virtual bool Render(const GreyPicture& picture, bool bilinear,
                        const OverlayRunner& overlay) = 0;
    // Presents the last rendered picture again.
    virtual void Repaint() = 0;
    // Whether the last picture went through memory shared with the window system.
    virtual bool Shared() const { return false; }

    // Sends what was drawn, then waits until `wakeup` is signalled or the window system has
    // something for Dispatch.
    virtual void Wait() = 0;
};

// returns: the output of the calling drawing thread over `connection`; nullptr when it cannot be
// made. `tryShm`: present through shared memory where the window system allows it.
std::unique_ptr<Output> MakeOutput(std::unique_ptr<Connection> connection, Wakeup& wakeup,
                                   bool tryShm);

// Joins a drawing thread that was told to stop. The joining thread may own the window that the
// drawing thread's child lives in, which the child's end sends to (Windows): such messages are
// handled while it waits.
void JoinDrawer(std::thread& drawer);

}  // namespace glintra
