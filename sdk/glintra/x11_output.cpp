// Glintra on X11: the private connection with its error handling, the child window, the image put
// into it, and the drawing thread's wait on the connection and its eventfd.
#include "x11_output.h"

#include "output.h"
#include "picture.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <utility>

namespace glintra {

namespace {

// The sink of the connection that this thread owns; only the drawing threads set it.
thread_local XErrorSink* t_sink = nullptr;

// Handlers that were installed before Glintra's, to which errors of other connections go on.
// Atomic: a handler may run on any thread while a new drawing thread re-installs Glintra's.
std::atomic<XErrorHandler> g_previousError{nullptr};
std::atomic<XIOErrorHandler> g_previousIOError{nullptr};
std::mutex g_installLock;  // serialises installing

}  // namespace

// Xlib calls the error handlers on the thread that reads the failing connection's replies; for a
// Glintra connection that is always its drawing thread, where t_sink is set.
int OnXError(Display* display, XErrorEvent* event) {
    if (t_sink && t_sink->m_display == display) {
        if (t_sink->m_errors.count++ == 0) {
            t_sink->m_errors.firstResource = event->resourceid;
            t_sink->m_errors.firstCode = event->error_code;
        }
        return 0;
    }
    const XErrorHandler previous = g_previousError;
    return previous ? previous(display, event) : 0;
}

int OnXIOError(Display* display) {
    if (t_sink && t_sink->m_display == display) {
        t_sink->m_lost = true;
        return 0;
    }
    const XIOErrorHandler previous = g_previousIOError;
    return previous ? previous(display) : 0;
}

// Replaces Xlib's exit() after a lost connection: the drawing thread notices and ends.
void OnXIOErrorExit(Display* display, void*) {
    if (t_sink && t_sink->m_display == display) t_sink->m_lost = true;
}

Display* OpenPrivateDisplay() {
    {
        // Installed again for every connection: a program that set its own handlers since then
        // (Xlib's default exits) gets them chained behind Glintra's instead of seeing our errors.
        std::lock_guard lock(g_installLock);
        const XErrorHandler error = XSetErrorHandler(OnXError);
        if (error != OnXError) g_previousError = error;
        const XIOErrorHandler ioError = XSetIOErrorHandler(OnXIOError);
        if (ioError != OnXIOError) g_previousIOError = ioError;
    }
    Display* display = XOpenDisplay(nullptr);
    if (display) XSetIOErrorExitHandler(display, OnXIOErrorExit, nullptr);
    return display;
}

XErrorSink::XErrorSink(Display* display) : m_display(display) {
    t_sink = this;
}

XErrorSink::~XErrorSink() {
    if (t_sink == this) t_sink = nullptr;
}

XErrorSink::Errors XErrorSink::Take() {
    if (!m_lost) XSync(m_display, False);
    Errors errors = m_errors;
    m_errors = {};
    return errors;
}

std::unique_ptr<PresentImage> PresentImage::Create(Display* display, XErrorSink& sink,
                                                   Visual* visual, int depth, int width, int height,
                                                   bool tryShm) {
    if (visual->red_mask != 0xff0000 || visual->green_mask != 0xff00 || visual->blue_mask != 0xff) {
        return nullptr;
    }
    std::unique_ptr<PresentImage> out(new PresentImage(display));
    if (tryShm) {
        out->m_image = XShmCreateImage(display, visual, static_cast<unsigned>(depth), ZPixmap,
                                       nullptr, &out->m_shm, static_cast<unsigned>(width),
                                       static_cast<unsigned>(height));
        if (out->m_image) {
            const size_t bytes =
                static_cast<size_t>(out->m_image->bytes_per_line) * static_cast<size_t>(height);
            out->m_shm.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
            if (out->m_shm.shmid >= 0) {
                void* address = shmat(out->m_shm.shmid, nullptr, 0);
                if (reinterpret_cast<intptr_t>(address) != -1) {  // shmat fails with (void*)-1
                    out->m_shm.shmaddr = static_cast<char*>(address);
                    out->m_image->data = out->m_shm.shmaddr;
                    out->m_shm.readOnly = False;
                    // The server may refuse (another host, or another user's segment rules):
                    // the attach is checked by a round trip before the image is used.
                    sink.Take();
                    const Bool attached = XShmAttach(display, &out->m_shm);
                    out->m_shared = attached && sink.Take().count == 0 && !sink.Lost();
                }
                // Marked for removal at once: it goes away with the last detach, even after a
                // crash.
                shmctl(out->m_shm.shmid, IPC_RMID, nullptr);
            }
            if (!out->m_shared) {
                if (out->m_shm.shmaddr) shmdt(out->m_shm.shmaddr);
                out->m_shm = {};
                out->m_image->data = nullptr;
                XDestroyImage(out->m_image);
                out->m_image = nullptr;
            }
        }
    }
    if (!out->m_image) {
        out->m_image =
            XCreateImage(display, visual, static_cast<unsigned>(depth), ZPixmap, 0, nullptr,
                         static_cast<unsigned>(width), static_cast<unsigned>(height), 32, 0);
        if (!out->m_image) return nullptr;
        out->m_plain.resize(static_cast<size_t>(out->m_image->bytes_per_line) *
                            static_cast<size_t>(height));
        out->m_image->data = reinterpret_cast<char*>(out->m_plain.data());
    }
    if (out->m_image->bits_per_pixel != 32 || out->m_image->byte_order != LSBFirst) return nullptr;
    return out;
}

PresentImage::~PresentImage() {
    if (m_shared) {
        XShmDetach(m_display, &m_shm);
        // The server must have let go of the segment before it is unmapped here.
        XSync(m_display, False);
        shmdt(m_shm.shmaddr);
    }
    if (m_image) {
        m_image->data = nullptr;  // the pixels are not Xlib's to free
        XDestroyImage(m_image);
    }
}

void PresentImage::Put(Drawable drawable, GC gc) {
    const auto w = static_cast<unsigned>(m_image->width);
    const auto h = static_cast<unsigned>(m_image->height);
    if (m_shared) {
        XShmPutImage(m_display, drawable, gc, m_image, 0, 0, 0, 0, w, h, False);
    } else {
        XPutImage(m_display, drawable, gc, m_image, 0, 0, 0, 0, w, h);
    }
}

namespace {

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

class X11Connection : public Connection {
  public:
    explicit X11Connection(Display* display) : m_display(display) {}
    ~X11Connection() override { XCloseDisplay(m_display); }
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;
    Display* Get() const { return m_display; }

  private:
    Display* m_display;
};

class X11Output : public Output {
  public:
    X11Output(std::unique_ptr<X11Connection> connection, Wakeup& wakeup, bool tryShm)
        : m_sink(connection->Get()),
          m_connection(std::move(connection)),
          m_display(m_connection->Get()),
          m_window(m_display, m_sink, tryShm && XShmQueryExtension(m_display)),
          m_wakeFd(static_cast<int>(wakeup.Native())) {}

    Events Dispatch() override {
        Events events;
        while (!m_sink.Lost() && XPending(m_display) > 0) {
            XEvent event;
            XNextEvent(m_display, &event);
            if (event.type == Expose && event.xexpose.count == 0) {
                events.repaint = true;
            } else if (event.type == ConfigureNotify &&
                       event.xconfigure.window == m_window.Parent()) {
                m_window.Resize(event.xconfigure.width, event.xconfigure.height);
                events.resized = true;
            } else if (event.type == DestroyNotify &&
                       event.xdestroywindow.window == m_window.Parent()) {
                events.goneParent = m_window.Parent();
                m_window.Forget();
            }
        }
        return events;
    }
    bool Lost() const override { return m_sink.Lost(); }
    uint64_t Parent() const override { return m_window.Parent(); }
    bool Attach(uint64_t parent) override { return m_window.Attach(static_cast<Window>(parent)); }
    void Detach() override { m_window.Detach(); }
    bool Ready() const override { return m_window.Ready(); }
    bool RenderedAtWindowSize() const override { return m_window.HasImageOfWindowSize(); }

    bool Render(const GreyPicture& picture, bool bilinear, const OverlayRunner& overlay) override {
        PresentImage* image = m_window.Image();
        if (!image) return false;  // nothing can be put into this window's visual
        const RgbTarget target{image->Pixels(), image->Stride(), image->Width(), image->Height()};
        RenderGrey(picture, bilinear, m_scratch, target);
        m_painter.Begin(target);
        overlay(m_painter, target.width, target.height, 0);
        m_painter.End();
        m_window.Present();
        return true;
    }
    void Repaint() override {
        if (m_window.HasImageOfWindowSize()) m_window.Present();
    }
    bool Shared() const override { return m_window.Shared(); }

    void Wait() override {
        XFlush(m_display);
        if (m_sink.Lost() || XPending(m_display) > 0) return;
        pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {ConnectionNumber(m_display), POLLIN, 0}};
        if (poll(fds, 2, -1) > 0 && (fds[0].revents & POLLIN)) {
            uint64_t count = 0;
            [[maybe_unused]] ssize_t got = read(m_wakeFd, &count, sizeof count);
        }
    }

  private:
    // Declared first so that it outlives XCloseDisplay: a dead connection reports there too.
    XErrorSink m_sink;
    std::unique_ptr<X11Connection> m_connection;
    Display* m_display;
    WindowOutput m_window;
    std::vector<uint8_t> m_scratch;  // the scaled grey plane
    OverlayPainter m_painter;        // draws the callback's rectangles
    int m_wakeFd;
};

}  // namespace

Wakeup::Wakeup() {
    const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd >= 0) m_native = fd;
}

Wakeup::~Wakeup() {
    if (Usable()) close(static_cast<int>(m_native));
}

void Wakeup::Signal() {
    const uint64_t one = 1;
    // A full counter still wakes the reader; nothing else can go wrong here.
    [[maybe_unused]] ssize_t written = write(static_cast<int>(m_native), &one, sizeof one);
}

std::unique_ptr<Connection> OpenConnection() {
    Display* display = OpenPrivateDisplay();
    if (!display) return nullptr;
    return std::make_unique<X11Connection>(display);
}

std::unique_ptr<Output> MakeOutput(std::unique_ptr<Connection> connection, Wakeup& wakeup,
                                   bool tryShm) {
    std::unique_ptr<X11Connection> x11(static_cast<X11Connection*>(connection.release()));
    return std::make_unique<X11Output>(std::move(x11), wakeup, tryShm);
}

void JoinDrawer(std::thread& drawer) {
    drawer.join();
}

}  // namespace glintra
