// What the x11 backend knows of the windows it is asked about: their size, their place on the
// screen and whether they are viewable, kept from the structure events of the window and of each
// of its ancestors (selected on the library's own connection) instead of asked of the server at
// every question. Include only from the x11 backend's files, as x11_connection.h.
#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <vector>

namespace orvenna::platform {

struct X11WindowState {
    bool bViewable = false;  // mapped, with every ancestor mapped
    int width = 0;
    int height = 0;
    bool bOnScreen = false;  // on the screen that the connection draws to (not on another one)
    int rootX = 0;           // the window's origin on that screen, when it is there
    int rootY = 0;
};

class X11WindowWatch {
  public:
    // How many windows are watched at once; the one asked about least recently goes first.
    static constexpr size_t kMaxWatched = 16;

    // The state of `window`: as the events have left it, or asked of the server (a few round
    // trips) when the window is new here or an event has said that it changed; from then on its
    // events are selected. false when the window does not exist. The caller holds the
    // connection's lock and has taken in the events that have arrived.
    bool Get(Display* display, Window root, Window window, X11WindowState* state);

    // One event from the connection: a structure event of a watched window or ancestor marks
    // the windows concerned stale; a watched window that is destroyed is forgotten.
    void Note(Display* display, const XEvent& event);
    // Everything known is stale (the screen has changed).
    void MarkAllStale();

    size_t WatchedCount() const { return m_entries.size(); }

  private:
    struct Entry {
        Window window = 0;
        std::vector<Window> chain;  // the window and its ancestors below the root, selected
        X11WindowState state;
        bool bStale = true;
        uint64_t nLastUse = 0;
    };

    // Asks the server for the entry's window: selects the events of the window and of its
    // ancestors first, so that nothing that changes after the answer goes unnoticed.
    bool Refresh(Display* display, Window root, Entry& entry);
    // Stops selecting the events of those of `windows` that no entry's chain holds any more.
    void Deselect(Display* display, const std::vector<Window>& windows);
    void Forget(Display* display, size_t index);

    std::vector<Entry> m_entries;
    uint64_t m_nUses = 0;
};

}  // namespace orvenna::platform
