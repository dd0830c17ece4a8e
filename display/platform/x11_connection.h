// The x11 backend's connection to the X server, shared by every object it makes, and the error
// trap that keeps X errors of our own requests from ending the process. Include only from the
// x11 backend's files: Xlib's macros (None, Bool, Status) leak into whatever includes this.
#pragma once

#include <X11/Xlib.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ddraw_layer.h"

namespace orvenna::platform {

struct X11Monitor {
    RECT rect{};
    bool bPrimary = false;
    std::string name;
};

struct X11Connection {
    Display* display = nullptr;
    int screen = 0;
    Window root = 0;
    std::recursive_mutex lock;         // held for every Xlib call on `display`; any thread
    std::vector<X11Monitor> monitors;  // as the last enumeration found them; lock

    // The monitor layout's generation: it grows whenever the layout is seen to change. Objects
    // made in an older generation report DDERR_SURFACELOST, as DirectDraw does after a mode
    // change, so that the engine rebuilds its devices. lock, as the two fields below.
    uint32_t generation = 1;
    std::vector<X11Monitor> observedLayout;
    std::chrono::steady_clock::time_point nextLayoutCheck{};

    X11Connection() = default;
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;
    ~X11Connection();

    // The current generation. Looks at the monitors again (one round trip) at most every
    // kLayoutCheckInterval; monitor changes made with xrandr --setmonitor send no event.
    uint32_t CurrentGeneration();
    // Takes a layout just queried as the one observed (a new generation when it differs).
    void NoteLayout(const std::vector<X11Monitor>& layout);
    static constexpr std::chrono::milliseconds kLayoutCheckInterval{200};
};

// The monitors of the screen (XRandR 1.5), the primary first; empty without XRandR 1.5. Their
// names cost a round trip each, so the layout checks go without them.
std::vector<X11Monitor> QueryMonitors(X11Connection& connection, bool with_names = true);

// While it lives, X errors caused on `display` are recorded instead of reaching the process's
// handler (whose default ends the process); errors of other displays go on to that handler.
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

// A point of `window` in root (screen) coordinates; false when the window is gone.
bool TranslateToRoot(X11Connection& connection, HWND window, int x, int y, int* root_x,
                     int* root_y);

}  // namespace orvenna::platform
