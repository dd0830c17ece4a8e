// The x11 backend's connection: the events it takes in (the screen's and those of the windows it
// is asked about), the monitor layout's generation, and the error trap.
#include "platform/x11_connection.h"

#include <X11/extensions/Xrandr.h>

#include <algorithm>

namespace orvenna::platform {

X11Connection::~X11Connection() {
    if (display != nullptr) XCloseDisplay(display);
}

namespace {

bool SameLayout(const std::vector<X11Monitor>& a, const std::vector<X11Monitor>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const X11Monitor& x, const X11Monitor& y) {
                          return x.rect.left == y.rect.left && x.rect.top == y.rect.top &&
                                 x.rect.right == y.rect.right && x.rect.bottom == y.rect.bottom &&
                                 x.bPrimary == y.bPrimary;
                      });
}

}  // namespace

// ---- Events ----------------------------------------------------------------------------------

void X11Connection::WatchScreen() {
    std::lock_guard<std::recursive_mutex> guard(lock);
    {
        X11ErrorTrap trap(display);
        XSelectInput(display, root, StructureNotifyMask);
        int error_base = 0;
        int major = 0;
        int minor = 0;
        if (XRRQueryExtension(display, &randrEventBase, &error_base) &&
            XRRQueryVersion(display, &major, &minor)) {
            int mask = RRScreenChangeNotifyMask;
            if (major > 1 || minor >= 2) {
                mask |= RRCrtcChangeNotifyMask | RROutputChangeNotifyMask;
            }
            XRRSelectInput(display, root, mask);
        } else {
            randrEventBase = -1;
        }
    }
    // Selected first, then asked: a change after the answer sends an event.
    NoteLayout(QueryMonitors(*this));
    bLayoutStale = false;
}

void X11Connection::TakeEvents() {
    std::lock_guard<std::recursive_mutex> guard(lock);
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        const bool screen_changed =
            (event.type == ConfigureNotify && event.xconfigure.window == root) ||
            (randrEventBase >= 0 && event.type >= randrEventBase &&
             event.type < randrEventBase + RRNumberEvents);
        if (screen_changed) {
            XRRUpdateConfiguration(&event);  // keeps the screen size that Xlib reports current
            bLayoutStale = true;
            windows.MarkAllStale();
        } else {
            windows.Note(display, event);
        }
    }
}

void X11Connection::Sync() {
    std::lock_guard<std::recursive_mutex> guard(lock);
    XSync(display, False);
    TakeEvents();
}

uint32_t X11Connection::CurrentGeneration() {
    std::lock_guard<std::recursive_mutex> guard(lock);
    TakeEvents();
    if (bLayoutStale) {
        bLayoutStale = false;
        NoteLayout(QueryMonitors(*this, /*with_names=*/false));
    }
    return generation;
}

void X11Connection::NoteLayout(const std::vector<X11Monitor>& layout) {
    std::lock_guard<std::recursive_mutex> guard(lock);
    if (!SameLayout(layout, observedLayout)) {
        ++generation;
        observedLayout = layout;
    }
}

bool X11Connection::WindowState(HWND window, X11WindowState* state) {
    std::lock_guard<std::recursive_mutex> guard(lock);
    TakeEvents();
    return windows.Get(display, root, static_cast<Window>(window), state);
}

// ---- The error trap --------------------------------------------------------------------------

namespace {

std::mutex g_trapLock;                       // one trap at a time in the process
Display* g_pTrapDisplay = nullptr;           // g_trapLock
int g_nTrapError = 0;                        // g_trapLock
unsigned long g_nTrapSerial = 0;             // g_trapLock: the first request of the outer trap
XErrorHandler g_pPreviousHandler = nullptr;  // g_trapLock

int TrapHandler(Display* display, XErrorEvent* event) {
    if (display == g_pTrapDisplay && event->serial >= g_nTrapSerial) {
        g_nTrapError = event->error_code;
        return 0;
    }
    return g_pPreviousHandler != nullptr ? g_pPreviousHandler(display, event) : 0;
}

// Waits for the server only while one of the requests sent is unanswered: a request with a
// reply has had its error (if any) handled when its reply came.
void Settle(Display* display) {
    if (LastKnownRequestProcessed(display) + 1 < NextRequest(display)) XSync(display, False);
}

}  // namespace

// Traps this thread holds: a trap inside another one (same display) shares the outer's handler
// instead of waiting for the lock its own thread holds.
thread_local int t_nTrapDepth = 0;

X11ErrorTrap::X11ErrorTrap(Display* display) : m_pDisplay(display) {
    if (t_nTrapDepth++ > 0) {
        Settle(display);
        m_nOuterError = g_nTrapError;
        g_nTrapError = 0;
        return;
    }
    m_guard = std::unique_lock<std::mutex>(g_trapLock);
    // Errors of earlier requests are not ours to catch: they carry lower serial numbers.
    g_nTrapSerial = NextRequest(display);
    g_pTrapDisplay = display;
    g_nTrapError = 0;
    g_pPreviousHandler = XSetErrorHandler(&TrapHandler);
}

X11ErrorTrap::~X11ErrorTrap() {
    Settle(m_pDisplay);
    if (--t_nTrapDepth > 0) {
        // The outer trap still sees an error of its own, or one made inside this trap.
        if (m_nOuterError != 0) g_nTrapError = m_nOuterError;
        return;
    }
    XSetErrorHandler(g_pPreviousHandler);
    g_pTrapDisplay = nullptr;
}

bool X11ErrorTrap::Failed() {
    Settle(m_pDisplay);
    return g_nTrapError != 0;
}

// ---- Monitors --------------------------------------------------------------------------------

std::vector<X11Monitor> QueryMonitors(X11Connection& connection, bool with_names) {
    std::lock_guard<std::recursive_mutex> guard(connection.lock);
    std::vector<X11Monitor> monitors;
    int event_base = 0;
    int error_base = 0;
    int major = 0;
    int minor = 0;
    if (!XRRQueryExtension(connection.display, &event_base, &error_base) ||
        !XRRQueryVersion(connection.display, &major, &minor) || (major == 1 && minor < 5) ||
        major < 1) {
        return monitors;
    }
    int count = 0;
    XRRMonitorInfo* info = XRRGetMonitors(connection.display, connection.root, True, &count);
    if (info == nullptr) return monitors;
    for (int i = 0; i < count; ++i) {
        X11Monitor monitor;
        monitor.rect =
            RECT{info[i].x, info[i].y, info[i].x + info[i].width, info[i].y + info[i].height};
        monitor.bPrimary = info[i].primary != 0;
        if (with_names && info[i].name != 0) {
            char* name = XGetAtomName(connection.display, info[i].name);
            if (name != nullptr) {
                monitor.name = name;
                XFree(name);
            }
        }
        monitors.push_back(std::move(monitor));
    }
    XRRFreeMonitors(info);
    // The primary monitor comes first, as Windows enumerates it.
    std::stable_partition(monitors.begin(), monitors.end(),
                          [](const X11Monitor& m) { return m.bPrimary; });
    return monitors;
}
}  // namespace orvenna::platform
