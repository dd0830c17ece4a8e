// The x11 backend's connection to the X server, shared by every object it makes, with the events
// it takes in and the error trap that keeps X errors of our own requests from ending the process.
// Include only from the x11 backend's files: Xlib's macros (None, Bool, Status) leak into whatever
// includes this.
#pragma once

#include <X11/Xlib.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ddraw_layer.h"
#include "platform/x11_convert.h"
#include "platform/x11_windows.h"

namespace orvenna::platform {

class X11Presenter;

struct X11Monitor {
    RECT rect{};
    bool bPrimary = false;
    std::string name;
};

struct X11Connection {
    // Opens a connection to the default display with the library's error handlers in place.
    // null when no display can be opened.
    static std::shared_ptr<X11Connection> Open();

    Display* display = nullptr;
    // The server has gone (Xlib's I/O error on this display): no request is sent any more,
    // every object made on it is lost, and the backend opens a new connection when it can.
    std::atomic<bool> bBroken{false};
    int screen = 0;
    Window root = 0;
    int randrEventBase = -1;           // XRandR's first event code, -1 without it; set at opening
    std::recursive_mutex lock;         // held for every Xlib call on `display`; any thread
    std::vector<X11Monitor> monitors;  // as the last enumeration found them; lock

    // The monitor layout's generation: it grows whenever the layout is seen to change. Objects
    // made in an older generation report DDERR_SURFACELOST, as DirectDraw does after a mode
    // change, so that the engine rebuilds its devices. lock, as the fields below.
    uint32_t generation = 1;
    std::vector<X11Monitor> observedLayout;
    bool bLayoutStale = false;  // an event has said that the layout may have changed
    X11WindowWatch windows;     // the windows asked about, kept from their events
    // Presenters whose put waits to go with the next one, so that the parts of a window across
    // several monitors cost one round trip together (x11_present.h).
    std::vector<X11Presenter*> pendingPuts;
    // The conversions' working memory, one for every surface and presentation on the connection:
    // the parts of a window across monitors are converted into the same memory one after the
    // other, which stays in the processor's caches, instead of each into its own. lock.
    ConvertScratch scratch;

    X11Connection() = default;
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;
    ~X11Connection();

    // Selects the screen's events and takes the current layout; called once, at opening. The
    // root window's structure events follow the screen's size and the monitors defined with
    // xrandr --setmonitor (the server announces those with a ConfigureNotify of the root);
    // XRandR's events follow modes, CRTCs and outputs.
    void WatchScreen();
    // Takes in the events that have arrived, without waiting for the server.
    void TakeEvents();
    // One round trip, after which every change that the server had made before it has been taken
    // in: another client's change that it has seen done (its own round trip) is noticed.
    void Sync();
    // The current generation. The layout is asked for again (a round trip or two) only after an
    // event has said that it may have changed.
    uint32_t CurrentGeneration();
    // Takes a layout just queried as the one observed (a new generation when it differs).
    void NoteLayout(const std::vector<X11Monitor>& layout);
    // The state of `window` after taking in the events that have arrived: as its events have
    // kept it, or asked of the server when it is new or has changed. false: no such window.
    bool WindowState(HWND window, X11WindowState* state);
};

// The monitors of the screen (XRandR 1.5), the primary first; empty without XRandR 1.5. Their
// names cost a round trip each, so the layout checks go without them.
std::vector<X11Monitor> QueryMonitors(X11Connection& connection, bool with_names = true);

// While it lives, X errors caused on `display` are recorded instead of reaching the handler that
// the host installed (whose default ends the process); errors of other displays go on to it.
// One trap at a time in the process (a trap within a trap on the same thread and display
// shares the outer one). Take the connection's lock before the trap.
class X11ErrorTrap {
  public:
    explicit X11ErrorTrap(Display* display);
    ~X11ErrorTrap();
    X11ErrorTrap(const X11ErrorTrap&) = delete;
    X11ErrorTrap& operator=(const X11ErrorTrap&) = delete;

    // Waits for the server's answers; true when one of the trapped requests failed.
    bool Failed();

  private:
    std::unique_lock<std::mutex> m_guard;  // the outermost trap only
    Display* m_pDisplay;
    int m_nOuterError = 0;  // a nested trap: what the outer trap had seen before it
};

}  // namespace orvenna::platform
