// The watched windows: asked of the server once, then kept from their structure events.
#include "platform/x11_windows.h"

#include <algorithm>

#include "platform/x11_connection.h"

namespace orvenna::platform {
namespace {

bool Holds(const std::vector<Window>& windows, Window window) {
    return std::find(windows.begin(), windows.end(), window) != windows.end();
}

}  // namespace

bool X11WindowWatch::Get(Display* display, Window root, Window window, X11WindowState* state) {
    if (window == 0) return false;
    auto found = std::find_if(m_entries.begin(), m_entries.end(),
                              [window](const Entry& e) { return e.window == window; });
    if (found == m_entries.end()) {
        if (m_entries.size() >= kMaxWatched) {
            const auto oldest = std::min_element(
                m_entries.begin(), m_entries.end(),
                [](const Entry& a, const Entry& b) { return a.nLastUse < b.nLastUse; });
            Forget(display, static_cast<size_t>(oldest - m_entries.begin()));
        }
        m_entries.push_back(Entry{});
        m_entries.back().window = window;
        found = m_entries.end() - 1;
    }
    found->nLastUse = ++m_nUses;
    if (found->bStale && !Refresh(display, root, *found)) {
        // Gone, or never there: nothing is kept, so an id that is used again is asked anew.
        Forget(display, static_cast<size_t>(found - m_entries.begin()));
        return false;
    }
    *state = found->state;
    return true;
}

bool X11WindowWatch::Refresh(Display* display, Window root, Entry& entry) {
    std::vector<Window> chain;
    X11WindowState state;
    bool ok = true;
    {
        X11ErrorTrap trap(display);
        // Each window's events are selected before its parent is asked for, and the whole chain
        // before the state is read: a change after any of these answers sends an event.
        for (Window current = entry.window; current != root;) {
            XSelectInput(display, current, StructureNotifyMask);
            chain.push_back(current);
            Window tree_root = 0;
            Window parent = 0;
            Window* children = nullptr;
            unsigned count = 0;
            if (XQueryTree(display, current, &tree_root, &parent, &children, &count) == 0) {
                ok = false;
                break;
            }
            if (children != nullptr) XFree(children);
            if (parent == 0) break;  // the root of another screen
            current = parent;
        }
        XWindowAttributes attributes;
        Window child = 0;
        ok = ok && XGetWindowAttributes(display, entry.window, &attributes) != 0;
        // False, without an error, for a window on another screen of the display.
        state.bOnScreen = ok && XTranslateCoordinates(display, entry.window, root, 0, 0,
                                                      &state.rootX, &state.rootY, &child) != 0;
        ok = !trap.Failed() && ok;
        if (ok) {
            state.bViewable = attributes.map_state == IsViewable;
            state.width = attributes.width;
            state.height = attributes.height;
        }
    }
    std::vector<Window> previous = std::move(entry.chain);
    entry.chain = std::move(chain);
    Deselect(display, previous);
    if (!ok) return false;
    entry.state = state;
    entry.bStale = false;
    return true;
}

void X11WindowWatch::Note(Display* display, const XEvent& event) {
    switch (event.type) {
        case ConfigureNotify:
        case MapNotify:
        case UnmapNotify:
        case ReparentNotify:
        case GravityNotify:
        case CirculateNotify:
        case DestroyNotify:
            break;
        default:
            return;
    }
    // Structure events name the window whose events were selected in `xany.window`.
    for (Entry& entry : m_entries) {
        if (Holds(entry.chain, event.xany.window)) entry.bStale = true;
    }
    if (event.type != DestroyNotify) return;
    for (size_t i = 0; i < m_entries.size();) {
        if (m_entries[i].window == event.xdestroywindow.window) {
            Forget(display, i);
        } else {
            ++i;
        }
    }
}

void X11WindowWatch::MarkAllStale() {
    for (Entry& entry : m_entries) entry.bStale = true;
}

void X11WindowWatch::Deselect(Display* display, const std::vector<Window>& windows) {
    if (windows.empty()) return;
    X11ErrorTrap trap(display);  // some of them may be gone
    for (Window window : windows) {
        const bool watched =
            std::any_of(m_entries.begin(), m_entries.end(),
                        [window](const Entry& e) { return Holds(e.chain, window); });
        if (!watched) XSelectInput(display, window, NoEventMask);
    }
}

void X11WindowWatch::Forget(Display* display, size_t index) {
    const std::vector<Window> chain = std::move(m_entries[index].chain);
    m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(index));
    Deselect(display, chain);
}

}  // namespace orvenna::platform
