// The render handle: frame hand-off, sub-port and callback bookkeeping, and the drawing thread.
#include "renderer.h"

#include "x11_output.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

namespace glintra {

namespace {

std::atomic<bool> g_shmDisabled{false};

// What the overlay callback running on this thread draws into.
struct OverlayTarget {
    GLT_HANDLE handle = 0;
    OverlayPainter* painter = nullptr;
};
thread_local OverlayTarget t_overlay;

constexpr auto kOpenRetryPause = std::chrono::seconds(1);

// The drawing thread's X state: the parent window given to GLT_Display, the child window inside
// it, and the image of the child's size. Only the drawing thread touches it.
class WindowOutput {
  public:
    WindowOutput(Display* display, XErrorSink& sink, bool tryShm)
        : m_display(display), m_sink(sink), m_tryShm(tryShm) {
        XVisualInfo info{};
        const int screen = DefaultScreen(display);
        if (XMatchVisualInfo(display, screen, 24, TrueColor, &info)) {
            m_visual = info.visual;
            m_depth = 24;
        } else {
            m_visual = DefaultVisual(display, screen);
            m_depth = DefaultDepth(display, screen);
        }
        m_colormap =
            m_visual == DefaultVisual(display, screen)
                ? DefaultColormap(display, screen)
                : XCreateColormap(display, RootWindow(display, screen), m_visual, AllocNone);
        m_ownColormap = m_colormap != DefaultColormap(display, screen);
    }
    ~WindowOutput() {
        Detach();
        if (m_ownColormap) XFreeColormap(m_display, m_colormap);
    }
    WindowOutput(const WindowOutput&) = delete;
    WindowOutput& operator=(const WindowOutput&) = delete;

    Window Parent() const { return m_parent; }
    bool Ready() const { return m_child != 0; }
    bool Shared() const { return m_image && m_image->Shared(); }

    // Makes a child window filling `parent`; false when the server refuses the parent.
    bool Attach(Window parent) {
        Detach();
        m_sink.Take();
        XWindowAttributes attributes{};
        if (!XGetWindowAttributes(m_display, parent, &attributes)) {
            m_sink.Take();
            return false;
        }
        // Our own connection's mask on the parent: the toolkit that owns it keeps its own.
        XSelectInput(m_display, parent, StructureNotifyMask);
        XSetWindowAttributes set{};
        set.background_pixel = BlackPixel(m_display, DefaultScreen(m_display));
        set.border_pixel = 0;
        set.colormap = m_colormap;
        set.event_mask = ExposureMask;
        m_width = std::max(attributes.width, 1);
        m_height = std::max(attributes.height, 1);
        m_child = XCreateWindow(m_display, parent, 0, 0, static_cast<unsigned>(m_width),
                                static_cast<unsigned>(m_height), 0, m_depth, InputOutput, m_visual,
                                CWBackPixel | CWBorderPixel | CWColormap | CWEventMask, &set);
        m_gc = XCreateGC(m_display, m_child, 0, nullptr);
        XMapWindow(m_display, m_child);
        m_parent = parent;
        if (m_sink.Take().count != 0) {
            Detach();
            return false;
        }
        return true;
    }

    void Detach() {
        m_image.reset();
        if (m_gc) XFreeGC(m_display, m_gc);
        if (m_child) XDestroyWindow(m_display, m_child);
        if (m_parent) XSelectInput(m_display, m_parent, NoEventMask);
        m_gc = nullptr;
        m_child = 0;
        m_parent = 0;
        m_sink.Take();  // a parent that is already gone makes these fail; nothing is lost by that
    }

    // The parent was destroyed, and the child with it.
    void Forget() {
        m_image.reset();
        if (m_gc) XFreeGC(m_display, m_gc);
        m_gc = nullptr;
        m_child = 0;
        m_parent = 0;
        m_sink.Take();
    }

    void Resize(int width, int height) {
        width = std::max(width, 1);
        height = std::max(height, 1);
        if (width == m_width && height == m_height) return;
        m_width = width;
        m_height = height;
        XResizeWindow(m_display, m_child, static_cast<unsigned>(width),
                      static_cast<unsigned>(height));
    }

    // The image to draw into, of the child's current size; nullptr when none can be made.
    PresentImage* Image() {
        if (m_image && m_image->Width() == m_width && m_image->Height() == m_height) {
            return m_image.get();
        }
        m_image.reset();
        m_image =
            PresentImage::Create(m_display, m_sink, m_visual, m_depth, m_width, m_height, m_tryShm);
        // A server that refused to share memory once will refuse again.
        if (m_image && !m_image->Shared()) m_tryShm = false;
        return m_image.get();
    }

    bool HasImageOfWindowSize() const {
        return m_image && m_image->Width() == m_width && m_image->Height() == m_height;
    }

    // Puts the image and waits until the server has taken it, so that the pixels may be reused.
    void Present() {
        m_image->Put(m_child, m_gc);
        m_sink.Take();
    }

  private:
    Display* m_display;
    XErrorSink& m_sink;
    bool m_tryShm;
    Visual* m_visual = nullptr;
    int m_depth = 24;
    Colormap m_colormap = 0;
    bool m_ownColormap = false;
    Window m_parent = 0;
    Window m_child = 0;
    GC m_gc = nullptr;
    int m_width = 1;
    int m_height = 1;
    std::unique_ptr<PresentImage> m_image;
};

}  // namespace

Renderer::Renderer(GLT_HANDLE handle)
    : m_handle(handle), m_wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

Renderer::~Renderer() {
    Stop();
    if (m_wakeFd >= 0) close(m_wakeFd);
}

void Renderer::Wake() {
    const uint64_t one = 1;
    // A full counter still wakes the reader; nothing else can go wrong here.
    [[maybe_unused]] ssize_t written = write(m_wakeFd, &one, sizeof one);
}

void Renderer::DisableShm(bool disabled) {
    g_shmDisabled = disabled;
}

bool Renderer::Init(int32_t format, int32_t scaleFilter) {
    if (format != GLT_FORMAT_GREY_UYVY) return false;
    if (scaleFilter != GLT_SCALE_NEAREST && scaleFilter != GLT_SCALE_BILINEAR) return false;
    {
        std::lock_guard lock(m_frameLock);
        m_bilinear = scaleFilter == GLT_SCALE_BILINEAR;
    }
    Wake();
    return true;
}

bool Renderer::AddSubPort(int32_t subPort) {
    if (subPort != 0) return false;
    std::lock_guard lock(m_frameLock);
    m_subPortAdded = true;
    return true;
}

bool Renderer::DelSubPort(int32_t subPort) {
    if (subPort != 0) return false;
    {
        std::lock_guard lock(m_frameLock);
        if (!m_subPortAdded) return false;
        m_subPortAdded = false;
        m_window = 0;
    }
    {
        std::lock_guard lock(m_callbackLock);
        m_callback = nullptr;
        m_user = nullptr;
    }
    Wake();
    return true;
}

bool Renderer::SetCallBack(int32_t subPort, int32_t kind, GLT_DRAWCALLBACK callback, void* user) {
    if (subPort != 0 || kind != GLT_CALLBACK_OVERLAY) return false;
    {
        std::lock_guard lock(m_frameLock);
        if (!m_subPortAdded) return false;
    }
    std::lock_guard lock(m_callbackLock);
    m_callback = callback;
    m_user = callback ? user : nullptr;
    return true;
}

bool Renderer::UpdateFrame(const uint8_t* image, int32_t width, int32_t height) {
    if (!image || width < 1 || height < 1 || width > GLT_MAX_SIDE || height > GLT_MAX_SIDE) {
        return false;
    }
    {
        std::lock_guard producer(m_producerLock);
        // The copy happens outside m_frameLock, so the drawing thread waits at most for a swap.
        ExtractGrey(image, width, height, m_back);
        std::lock_guard lock(m_frameLock);
        std::swap(m_back, m_pending);
        ++m_pendingSerial;
        m_hasPicture = true;
    }
    Wake();
    return true;
}

bool Renderer::Display(int32_t subPort, uint64_t window) {
    if (subPort != 0 || window == 0) return false;
    {
        std::lock_guard lock(m_frameLock);
        if (!m_subPortAdded || !m_hasPicture) return false;
    }
    {
        std::lock_guard control(m_controlLock);
        {
            std::lock_guard lock(m_frameLock);
            if (m_stop) return false;  // checked here so that no drawer starts after Stop
        }
        if (m_drawer.joinable() && m_connectionLost) {
            m_drawer.join();  // its connection died; a new one is opened below
        }
        if (!m_drawer.joinable()) {
            const auto now = std::chrono::steady_clock::now();
            if (m_openFailed && now - m_lastOpenFailure < kOpenRetryPause) return false;
            ::Display* display = OpenPrivateDisplay();
            if (!display) {
                m_openFailed = true;
                m_lastOpenFailure = now;
                return false;
            }
            m_openFailed = false;
            m_connectionLost = false;
            {
                // A new connection gets a fresh chance with every window.
                std::lock_guard lock(m_frameLock);
                m_badWindow = 0;
            }
            m_drawer = std::thread([this, display] { DrawLoop(display); });
        }
    }
    {
        std::lock_guard lock(m_frameLock);
        m_window = window;
        if (window == m_badWindow) return false;
    }
    Wake();
    return true;
}

bool Renderer::Stop() {
    if (t_overlay.painter && t_overlay.handle == m_handle) return false;
    std::thread drawer;
    {
        std::lock_guard control(m_controlLock);
        if (m_drawer.joinable() && m_drawer.get_id() == std::this_thread::get_id()) return false;
        std::lock_guard lock(m_frameLock);
        m_stop = true;
        drawer = std::move(m_drawer);
    }
    // Joined outside m_controlLock: an overlay callback that calls GLT_Display must not wait on it.
    Wake();
    if (drawer.joinable()) drawer.join();
    return true;
}

void Renderer::RunOverlay(OverlayPainter& painter, const RgbTarget& target) {
    std::lock_guard lock(m_callbackLock);
    if (!m_callback) return;
    painter.Begin(target);
    t_overlay = {m_handle, &painter};
    m_callback(m_user, 0, GLT_CALLBACK_OVERLAY, target.width, target.height, 0);
    t_overlay = {};
    painter.End();
}

bool Renderer::DrawRectInCallback(GLT_HANDLE handle, const float rect[4], const float colour[4],
                                  int32_t lineWidth) {
    if (!t_overlay.painter || t_overlay.handle != handle) return false;
    return t_overlay.painter->DrawRect(rect, colour, lineWidth);
}

uint64_t Renderer::Presented() {
    std::lock_guard lock(m_presentedLock);
    return m_presented;
}

bool Renderer::WaitPresented(uint64_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_presentedLock);
    return m_presentedChanged.wait_for(lock, timeout, [&] { return m_presented >= count; });
}

void Renderer::DrawLoop(::Display* display) {
    XErrorSink sink(display);
    const bool tryShm = !g_shmDisabled && XShmQueryExtension(display);
    GreyPicture current;           // the picture being shown
    uint64_t currentSerial = 0;    // m_pendingSerial of `current`
    std::vector<uint8_t> scratch;  // the scaled grey plane
    OverlayPainter painter;        // draws the callback's rectangles
    bool needRender = false;       // a new picture or a new size: convert, scale, draw, present
    bool needRepaint = false;      // exposed: put the last image again
    {
        WindowOutput output(display, sink, tryShm);
        pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {ConnectionNumber(display), POLLIN, 0}};
        for (;;) {
            while (!sink.Lost() && XPending(display) > 0) {
                XEvent event;
                XNextEvent(display, &event);
                if (event.type == Expose && event.xexpose.count == 0) {
                    needRepaint = true;
                } else if (event.type == ConfigureNotify &&
                           event.xconfigure.window == output.Parent()) {
                    output.Resize(event.xconfigure.width, event.xconfigure.height);
                    if (!output.HasImageOfWindowSize()) needRender = true;
                } else if (event.type == DestroyNotify &&
                           event.xdestroywindow.window == output.Parent()) {
                    std::lock_guard lock(m_frameLock);
                    m_badWindow = output.Parent();
                    output.Forget();
                }
            }
            if (sink.Lost()) break;

            uint64_t window = 0;
            bool bilinear = true;
            {
                std::lock_guard lock(m_frameLock);
                if (m_stop) break;
                if (m_pendingSerial != currentSerial) {
                    std::swap(m_pending, current);
                    currentSerial = m_pendingSerial;
                    needRender = true;
                }
                window = m_subPortAdded ? m_window : 0;
                if (window == m_badWindow) window = 0;
                bilinear = m_bilinear;
            }

            if (window != output.Parent()) {
                if (window == 0) {
                    output.Detach();
                } else if (output.Attach(static_cast<Window>(window))) {
                    needRender = true;
                } else {
                    std::lock_guard lock(m_frameLock);
                    m_badWindow = window;
                }
            }

            if (output.Ready() && current.width > 0 && (needRender || needRepaint)) {
                const bool newImage = !output.HasImageOfWindowSize();
                PresentImage* image = output.Image();
                if (!image) {
                    // Nothing can be put into this window's visual: tell the caller.
                    std::lock_guard lock(m_frameLock);
                    m_badWindow = output.Parent();
                } else {
                    if (needRender || newImage) {
                        const RgbTarget target{image->Pixels(), image->Stride(), image->Width(),
                                               image->Height()};
                        RenderGrey(current, bilinear, scratch, target);
                        RunOverlay(painter, target);
                    }
                    output.Present();
                    m_presentsShared = output.Shared();
                    if (needRender) {
                        std::lock_guard lock(m_presentedLock);
                        ++m_presented;
                        m_presentedChanged.notify_all();
                    }
                }
                needRender = false;
                needRepaint = false;
            }

            XFlush(display);
            if (sink.Lost()) break;
            if (XPending(display) > 0) continue;
            if (poll(fds, 2, -1) > 0 && (fds[0].revents & POLLIN)) {
                uint64_t count = 0;
                [[maybe_unused]] ssize_t got = read(m_wakeFd, &count, sizeof count);
            }
        }
        if (sink.Lost()) m_connectionLost = true;
    }
    XCloseDisplay(display);
}

}  // namespace glintra
