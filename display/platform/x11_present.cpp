// X11 presentation: convert and scale into an image of the visible part, then one put request.
#include "platform/x11_present.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <X11/Xutil.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "orvenna.h"

namespace orvenna::platform {
namespace {

// The visuals whose pixels are 32-bit B, G, R, X in memory.
bool IsXrgbVisual(const Visual* visual, int depth) {
    return visual != nullptr && (depth == 24 || depth == 32) && visual->c_class == TrueColor &&
           visual->red_mask == 0xFF0000 && visual->green_mask == 0x00FF00 &&
           visual->blue_mask == 0x0000FF;
}

}  // namespace

X11Presenter::X11Presenter(std::shared_ptr<X11Connection> connection)
    : m_pConnection(std::move(connection)) {}

X11Presenter::~X11Presenter() {
    std::lock_guard<std::recursive_mutex> guard(m_pConnection->lock);
    DropPendingPut();
    if (m_gc != nullptr) XFreeGC(m_pConnection->display, m_gc);
    DestroyImage();
    DetachSegment();
}

void X11Presenter::DestroyImage() {
    if (m_pImage == nullptr) return;
    // The pixels belong to the segment or to m_plain, never to the image.
    m_pImage->data = nullptr;
    m_pImage->obdata = nullptr;
    XDestroyImage(m_pImage);
    m_pImage = nullptr;
}

void X11Presenter::DetachSegment() {
    if (!m_bShmAttached) return;
    XShmDetach(m_pConnection->display, &m_shm);
    XSync(m_pConnection->display, False);
    shmdt(m_shm.shmaddr);
    m_bShmAttached = false;
    m_shm = {};
    m_nShmBytes = 0;
}

void SendPendingPuts(X11Connection& connection) {
    std::vector<X11Presenter*> waiting;
    waiting.swap(connection.pendingPuts);
    if (connection.bBroken) return;
    for (X11Presenter* presenter : waiting) presenter->SendPendingPut();
}

void X11Presenter::SendPendingPut() {
    if (!m_pendingPut) return;
    const Put put = *m_pendingPut;
    m_pendingPut.reset();
    SendPut(put);
}

void X11Presenter::DropPendingPut() {
    if (!m_pendingPut) return;
    m_pendingPut.reset();
    auto& waiting = m_pConnection->pendingPuts;
    waiting.erase(std::remove(waiting.begin(), waiting.end(), this), waiting.end());
}

void X11Presenter::SendPut(const Put& put) {
    Display* display = m_pConnection->display;
    const auto width = static_cast<unsigned>(put.width);
    const auto height = static_cast<unsigned>(put.height);
    if (m_bShmAttached) {
        XShmPutImage(display, put.window, m_gc, m_pImage, 0, 0, put.x, put.y, width, height, False);
    } else {
        XPutImage(display, put.window, m_gc, m_pImage, 0, 0, put.x, put.y, width, height);
    }
}

bool X11Presenter::AnotherPartFollows(const X11WindowState& window, const RECT& clip) const {
    // The engine presents on the devices in their order, which is the monitors' order; a
    // monitor that shows the same rectangle as another counts as the last of them.
    const std::vector<X11Monitor>& monitors = m_pConnection->monitors;
    size_t after = monitors.size();
    for (size_t i = 0; i < monitors.size(); ++i) {
        const RECT& m = monitors[i].rect;
        if (m.left == clip.left && m.top == clip.top && m.right == clip.right &&
            m.bottom == clip.bottom) {
            after = i + 1;
        }
    }
    const int right = window.rootX + window.width;
    const int bottom = window.rootY + window.height;
    for (size_t i = after; i < monitors.size(); ++i) {
        const RECT& m = monitors[i].rect;
        if (window.rootY < m.bottom && bottom > m.top && right > m.left && window.rootX < m.right) {
            return true;
        }
    }
    return false;
}

bool X11Presenter::NeedsAttach(int width, int height) const {
    const size_t bytes = static_cast<size_t>(width) * 4 * static_cast<size_t>(height);
    return !m_bShmProbed || (m_bShmUsable && bytes > m_nShmBytes);
}

bool X11Presenter::EnsureImage(Visual* visual, int depth, int width, int height) {
    if (m_pImage != nullptr && m_pVisual == visual && m_nDepth == depth &&
        m_pImage->width == width && m_pImage->height == height) {
        return true;
    }
    DestroyImage();
    Display* display = m_pConnection->display;
    const size_t bytes = static_cast<size_t>(width) * 4 * static_cast<size_t>(height);

    if (!m_bShmProbed) {
        m_bShmProbed = true;
        m_bShmUsable = XShmQueryExtension(display) != False;
    }
    if (m_bShmUsable && bytes > m_nShmBytes) {
        DetachSegment();
        // Room for some growth, so that a window being resized does not attach every frame.
        const size_t want = bytes + bytes / 4;
        const int id = shmget(IPC_PRIVATE, want, IPC_CREAT | 0600);
        // shmat reports failure as the address -1.
        void* const failed = reinterpret_cast<void*>(-1);  // NOLINT(performance-no-int-to-ptr)
        void* address = id >= 0 ? shmat(id, nullptr, 0) : failed;
        bool attached = false;
        if (address != failed) {
            m_shm.shmid = id;
            m_shm.shmaddr = static_cast<char*>(address);
            m_shm.readOnly = False;
            X11ErrorTrap trap(display);
            attached = XShmAttach(display, &m_shm) != False && !trap.Failed();
            if (!attached) shmdt(address);
        }
        // Marked for removal now: the segment goes away once both sides have let go of it.
        if (id >= 0) shmctl(id, IPC_RMID, nullptr);
        if (attached) {
            m_bShmAttached = true;
            m_nShmBytes = want;
        } else {
            m_shm = {};
            m_bShmUsable = false;  // a remote server, or no segments for us: plain puts
        }
    }
    if (m_bShmUsable && m_bShmAttached) {
        m_pImage =
            XShmCreateImage(display, visual, static_cast<unsigned>(depth), ZPixmap, m_shm.shmaddr,
                            &m_shm, static_cast<unsigned>(width), static_cast<unsigned>(height));
    } else {
        if (m_plain.size() < bytes) m_plain.resize(bytes);
        m_pImage =
            XCreateImage(display, visual, static_cast<unsigned>(depth), ZPixmap, 0,
                         reinterpret_cast<char*>(m_plain.data()), static_cast<unsigned>(width),
                         static_cast<unsigned>(height), 32, width * 4);
    }
    if (m_pImage == nullptr || m_pImage->bits_per_pixel != 32 ||
        static_cast<size_t>(m_pImage->bytes_per_line) * static_cast<size_t>(height) >
            (m_bShmAttached ? m_nShmBytes : m_plain.size())) {
        DestroyImage();
        return false;
    }
    m_pVisual = visual;
    m_nDepth = depth;
    return true;
}

HRESULT X11Presenter::Present(HWND window, const orvenna::SurfaceView& source, const RECT& dest,
                              const RECT& clip) {
    if (!X11CanConvert(source.format)) return DDERR_INVALIDPIXELFORMAT;
    X11Connection& connection = *m_pConnection;
    std::lock_guard<std::recursive_mutex> guard(connection.lock);
    Display* display = connection.display;
    const auto drawable = static_cast<Window>(window);

    // A window keeps its visual for life: it is asked for once per window. Its place comes from
    // what its events keep; the server clips to the window, so its size is not needed.
    X11WindowState state;
    if (!connection.WindowState(window, &state) || !state.bOnScreen) {
        m_window = 0;
        return DDERR_INVALIDOBJECT;
    }
    if (drawable != m_window) {
        XWindowAttributes attributes;
        X11ErrorTrap trap(display);
        const bool ok = XGetWindowAttributes(display, drawable, &attributes) != 0;
        if (trap.Failed() || !ok) return DDERR_INVALIDOBJECT;
        if (!IsXrgbVisual(attributes.visual, attributes.depth)) return DDERR_UNSUPPORTED;
        m_window = drawable;
        m_pWindowVisual = attributes.visual;
        m_nWindowDepth = attributes.depth;
    }

    // One trap for the frame, whose one round trip is the wait for the server at the end: a frame
    // should cost as few as it can. Only attaching a new shared segment needs a trap of its own.
    std::optional<X11ErrorTrap> trap(std::in_place, display);
    // Puts that waited for this one go first, and this trap's wait covers them. Had this
    // presenter's own put waited (its window's later part did not come), the server must have
    // read the image before it is written again.
    const bool own_put_waited = m_pendingPut.has_value();
    SendPendingPuts(connection);
    if (own_put_waited && trap->Failed()) {
        m_window = 0;
        return DDERR_INVALIDOBJECT;
    }
    const int origin_x = state.rootX;
    const int origin_y = state.rootY;
    // The destination in window coordinates, and the part of it on the screen inside `clip`.
    const RECT in_window{dest.left - origin_x, dest.top - origin_y, dest.right - origin_x,
                         dest.bottom - origin_y};
    const int left = std::max<int>({in_window.left, -origin_x, clip.left - origin_x});
    const int top = std::max<int>({in_window.top, -origin_y, clip.top - origin_y});
    const int right = std::min<int>({in_window.right, clip.right - origin_x,
                                     DisplayWidth(display, connection.screen) - origin_x});
    const int bottom = std::min<int>({in_window.bottom, clip.bottom - origin_y,
                                      DisplayHeight(display, connection.screen) - origin_y});
    if (right <= left || bottom <= top) return DD_OK;
    const int width = right - left;
    const int height = bottom - top;

    if (NeedsAttach(width, height)) {
        trap.reset();
        const bool made = EnsureImage(m_pWindowVisual, m_nWindowDepth, width, height);
        trap.emplace(display);
        if (!made) return DDERR_OUTOFMEMORY;
    } else if (!EnsureImage(m_pWindowVisual, m_nWindowDepth, width, height)) {
        return DDERR_OUTOFMEMORY;
    }
    const XrgbImage target{reinterpret_cast<uint8_t*>(m_pImage->data), m_pImage->bytes_per_line,
                           width, height};
    const RECT into{in_window.left - left, in_window.top - top, in_window.right - left,
                    in_window.bottom - top};
    if (!ConvertAndScale(source, target, into, connection.scratch)) return DDERR_INVALIDPIXELFORMAT;

    if (m_gc == nullptr || m_gcWindow != drawable) {
        if (m_gc != nullptr) XFreeGC(display, m_gc);
        m_gc = XCreateGC(display, drawable, 0, nullptr);
        m_gcWindow = drawable;
    }
    if (connection.bBroken) return DDERR_SURFACELOST;
    const Put put{drawable, left, top, width, height};
    if (AnotherPartFollows(state, clip)) {
        m_pendingPut = put;
        connection.pendingPuts.push_back(this);
        return DD_OK;
    }
    SendPut(put);
    // The wait for the server also tells us that it has read the shared image, so the next
    // frame may be written into it.
    const bool failed = trap->Failed();
    if (connection.bBroken) return DDERR_SURFACELOST;
    if (failed) {
        m_window = 0;  // gone, or not what it was: asked again next time
        return DDERR_INVALIDOBJECT;
    }
    return DD_OK;
}

HRESULT BltToMemory(const orvenna::SurfaceView& source, const orvenna::SurfaceView& target,
                    const RECT* dest, ConvertScratch& scratch, const RECT* clip) {
    if (target.format != ORVD_FORMAT_RGB32 || !X11CanConvert(source.format)) {
        return DDERR_INVALIDPIXELFORMAT;
    }
    PlaneLayout layout;
    if (target.bytes == nullptr ||
        !SurfacePlanes(target.format, target.width, target.height, target.pitch, &layout) ||
        layout.bytes > target.capacity) {
        return DDERR_INVALIDPARAMS;
    }
    const RECT whole{0, 0, static_cast<LONG>(target.width), static_cast<LONG>(target.height)};
    const RECT r = dest != nullptr ? *dest : whole;
    if (r.left < 0 || r.top < 0 || r.right > whole.right || r.bottom > whole.bottom ||
        r.left >= r.right || r.top >= r.bottom) {
        return DDERR_INVALIDRECT;
    }
    const XrgbImage image{target.bytes, target.pitch, static_cast<int>(target.width),
                          static_cast<int>(target.height)};
    return ConvertAndScale(source, image, r, scratch, clip) ? DD_OK : DDERR_INVALIDPIXELFORMAT;
}

}  // namespace orvenna::platform
