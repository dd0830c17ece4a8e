// X11 side of the drawing thread: the private connection with its error handling, the child window
// that Glintra draws into, and the image that is put into it (MIT-SHM, or plain XPutImage).
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace glintra {

// Opens a private connection to the default display, with Glintra's error handlers installed
// (once per process). nullptr when there is no display.
Display* OpenPrivateDisplay();

// Collects the X errors of one private connection. Lives on the thread that owns the connection for
// as long as it makes X calls: errors of that connection are recorded here instead of reaching the
// process's handler, and a lost connection marks `lost` instead of ending the process. Errors of
// other connections go on to the handlers that were installed before Glintra's.
class XErrorSink {
  public:
    explicit XErrorSink(Display* display);
    ~XErrorSink();
    XErrorSink(const XErrorSink&) = delete;
    XErrorSink& operator=(const XErrorSink&) = delete;

    // Returns and clears the errors recorded so far; XSync first to collect those still in flight.
    struct Errors {
        int count = 0;
        XID firstResource = 0;
        unsigned char firstCode = 0;
    };
    Errors Take();
    bool Lost() const { return m_lost; }

  private:
    friend int OnXError(Display*, XErrorEvent*);
    friend int OnXIOError(Display*);
    friend void OnXIOErrorExit(Display*, void*);
    Display* m_display;
    Errors m_errors;
    bool m_lost = false;
};

// A 32-bit image of the window's size, put with XShmPutImage where the server shares memory with
// us and with XPutImage otherwise.
class PresentImage {
  public:
    // nullptr when the visual is not 32-bit little-endian 0x00RRGGBB or memory runs out. With
    // `tryShm`, a failed attach (probed through `sink`) falls back to a plain image.
    static std::unique_ptr<PresentImage> Create(Display* display, XErrorSink& sink, Visual* visual,
                                                int depth, int width, int height, bool tryShm);
    ~PresentImage();
    PresentImage(const PresentImage&) = delete;
    PresentImage& operator=(const PresentImage&) = delete;

    uint8_t* Pixels() const { return reinterpret_cast<uint8_t*>(m_image->data); }
    int Stride() const { return m_image->bytes_per_line; }
    int Width() const { return m_image->width; }
    int Height() const { return m_image->height; }
    bool Shared() const { return m_shared; }
    // Puts the whole image at (0, 0) of `drawable`; the caller syncs before touching the pixels.
    void Put(Drawable drawable, GC gc);

  private:
    PresentImage(Display* display) : m_display(display) {}
    Display* m_display;
    XImage* m_image = nullptr;
    XShmSegmentInfo m_shm{};
    bool m_shared = false;
    std::vector<uint8_t> m_plain;  // pixels of a plain image
};

}  // namespace glintra
