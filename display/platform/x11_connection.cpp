// The x11 backend's connection: the events it takes in (the screen's and those of the windows it
// is asked about), the monitor layout's generation, and the error trap.
#include "platform/x11_connection.h"

#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <iterator>

namespace orvenna::platform {

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
    while (!bBroken && XPending(display) > 0) {
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
    if (bBroken) return;
    XSync(display, False);
    TakeEvents();
}

uint32_t X11Connection::CurrentGeneration() {
    std::lock_guard<std::recursive_mutex> guard(lock);
    if (bBroken) return 0;  // no generation of a live connection: everything made is lost
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
    if (bBroken) return false;
    TakeEvents();
    return windows.Get(display, root, static_cast<Window>(window), state);
}

// ---- Error handlers and the error trap -------------------------------------------------------

namespace {

std::mutex g_trapLock;  // one trap at a time in the process
// The display of the trap in force; read by the handler on any thread, so atomic.
std::atomic<Display*> g_pTrapDisplay{nullptr};
int g_nTrapError = 0;             // g_trapLock
unsigned long g_nTrapSerial = 0;  // g_trapLock: the first request of the outer trap

// The handlers are installed when a connection opens and stay; what they replaced is called for
// every display but ours. Installed again at each opening, so that a host that set its own
// handlers since then has them called behind ours.
std::mutex g_handlerLock;
std::atomic<XErrorHandler> g_pHostErrorHandler{nullptr};
std::atomic<XIOErrorHandler> g_pHostIOErrorHandler{nullptr};
// The library's open connections. A plain array: the handlers and the connections' destructors
// may run during static destruction, after any container would have gone.
constexpr size_t kMaxConnections = 16;
Display* g_ourDisplays[kMaxConnections] = {};  // g_handlerLock

int ErrorHandler(Display* display, XErrorEvent* event) {
    if (display == g_pTrapDisplay.load() && event->serial >= g_nTrapSerial) {
        g_nTrapError = event->error_code;
        return 0;
    }
    const XErrorHandler host = g_pHostErrorHandler.load();
    return host != nullptr ? host(display, event) : 0;
}

bool IsOurDisplay(Display* display) {
    std::lock_guard<std::mutex> guard(g_handlerLock);
    return std::find(std::begin(g_ourDisplays), std::end(g_ourDisplays), display) !=
           std::end(g_ourDisplays);
}

// Replaces `from` by `to` in the list of connections. returns: false when `from` is not there.
bool SwapOurDisplay(Display* from, Display* to) {
    std::lock_guard<std::mutex> guard(g_handlerLock);
    Display** found = std::find(std::begin(g_ourDisplays), std::end(g_ourDisplays), from);
    if (found == std::end(g_ourDisplays)) return false;
    *found = to;
    return true;
}

// Our connection's loss is handled by the exit handler below; the host's go to its handler.
int IOErrorHandler(Display* display) {
    if (IsOurDisplay(display)) return 0;
    const XIOErrorHandler host = g_pHostIOErrorHandler.load();
    return host != nullptr ? host(display) : 0;
}

// In place of Xlib's exit(): the connection is marked broken and the call that met the loss
// returns with a failure.
void IOErrorExitHandler(Display* /*display*/, void* connection) {
    static_cast<X11Connection*>(connection)->bBroken = true;
}

bool g_bHandlersInstalled = false;  // g_handlerLock

void InstallHandlers() {
    std::lock_guard<std::mutex> guard(g_handlerLock);
    g_bHandlersInstalled = true;
    const XErrorHandler error = XSetErrorHandler(&ErrorHandler);
    if (error != &ErrorHandler) g_pHostErrorHandler = error;
    const XIOErrorHandler io_error = XSetIOErrorHandler(&IOErrorHandler);
    if (io_error != &IOErrorHandler) g_pHostIOErrorHandler = io_error;
}

// Waits for the server only while one of the requests sent is unanswered: a request with a
// reply has had its error (if any) handled when its reply came.
void Settle(Display* display) {
    if (LastKnownRequestProcessed(display) + 1 < NextRequest(display)) XSync(display, False);
}

}  // namespace

std::shared_ptr<X11Connection> X11Connection::Open() {
    InstallHandlers();
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return nullptr;
    auto connection = std::make_shared<X11Connection>();
    connection->display = display;
    if (!SwapOurDisplay(nullptr, display)) return nullptr;  // closed by the connection
    XSetIOErrorExitHandler(display, &IOErrorExitHandler, connection.get());
    connection->screen = DefaultScreen(display);
    connection->root = RootWindow(display, connection->screen);
    connection->WatchScreen();
    return connection;
}

X11Connection::~X11Connection() {
    if (display == nullptr) return;
    XCloseDisplay(display);  // still ours here: a broken connection may report its loss again
    SwapOurDisplay(display, nullptr);
}

// Traps this thread holds: a trap inside another one (same display) shares the outer's record
// instead of waiting for the lock its own thread holds.
thread_local int t_nTrapDepth = 0;

X11ErrorTrap::X11ErrorTrap(Display* display) : m_pDisplay(display) {
    if (t_nTrapDepth++ > 0) {
        Settle(display);
        m_nOuterError = g_nTrapError;
        g_nTrapError = 0;
        return;
    }
    bool installed = false;
    {
        std::lock_guard<std::mutex> guard(g_handlerLock);
        installed = g_bHandlersInstalled;
    }
    if (!installed) InstallHandlers();  // a connection not made by Open
    m_guard = std::unique_lock<std::mutex>(g_trapLock);
    // Errors of earlier requests are not ours to catch: they carry lower serial numbers.
    g_nTrapSerial = NextRequest(display);
    g_nTrapError = 0;
    g_pTrapDisplay = display;
}

X11ErrorTrap::~X11ErrorTrap() {
    Settle(m_pDisplay);
    if (--t_nTrapDepth > 0) {
        // The outer trap still sees an error of its own, or one made inside this trap.
        if (m_nOuterError != 0) g_nTrapError = m_nOuterError;
        return;
    }
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
