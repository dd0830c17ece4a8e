// Glintra's private X connection, its error handling, and the image put into the child window.
#include "x11_output.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <atomic>
#include <mutex>

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

}  // namespace glintra
