// orvenna-play: shows raw frames from a file (or a generated test pattern) in a window through
// Orvenna's nine exports. It is also the library's example: everything it asks of the library
// goes through orvenna.h.
//
//   orvenna-play --format NAME --size WxH [--fps N] [--mode 0|1|2] [--overlay] FILE
//   orvenna-play --format NAME --size WxH [--fps N] [--mode 0|1|2] [--overlay] --generate
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <cairo.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "orvenna.h"
#include "player.h"
#include "test_pattern.h"

namespace {

using orvenna_play::Options;
using orvenna_play::OverlayState;

// Draws a frame counter and a box over the picture, with cairo on the device context Orvenna
// hands over (the frame as it will be shown, in the window's size).
void DrawOverlay(int32_t /*handle*/, ORVD_HDC dc, intptr_t user) {
    // The user value is the pointer this program registered.
    const auto* state =
        reinterpret_cast<const OverlayState*>(user);  // NOLINT(performance-no-int-to-ptr)
    cairo_t* cr = dc;
    cairo_surface_t* target = cairo_get_target(cr);
    const double w = cairo_image_surface_get_width(target);
    const double h = cairo_image_surface_get_height(target);

    cairo_set_source_rgb(cr, 1.0, 0.85, 0.1);
    cairo_set_line_width(cr, 3.0);
    cairo_rectangle(cr, w * 0.1, h * 0.1, w * 0.8, h * 0.8);
    cairo_stroke(cr);

    char text[64];
    std::snprintf(text, sizeof(text), "%s  frame %ld", state->format_name, state->frame);
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr, std::max(12.0, h / 20));
    cairo_move_to(cr, w * 0.1 + 8, h * 0.1 + std::max(12.0, h / 20) + 6);
    cairo_show_text(cr, text);
}

// Writes what the window shows as a PNG (24-bit TrueColor visuals).
bool WriteScreenshot(Display* display, Window window, const std::string& path) {
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, window, &attributes) == 0) return false;
    XImage* image = XGetImage(display, window, 0, 0, static_cast<unsigned>(attributes.width),
                              static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    if (image == nullptr) return false;
    cairo_surface_t* png =
        cairo_image_surface_create(CAIRO_FORMAT_RGB24, attributes.width, attributes.height);
    unsigned char* data = cairo_image_surface_get_data(png);
    const int stride = cairo_image_surface_get_stride(png);
    for (int y = 0; y < attributes.height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(data + static_cast<ptrdiff_t>(y) * stride);
        for (int x = 0; x < attributes.width; ++x) {
            row[x] = static_cast<uint32_t>(XGetPixel(image, x, y)) & 0xFFFFFFu;
        }
    }
    cairo_surface_mark_dirty(png);
    const bool written = cairo_surface_write_to_png(png, path.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(png);
    XDestroyImage(image);
    return written;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!orvenna_play::ParseOptions(argc, argv, &options)) {
        orvenna_play::Usage(true);
        return 2;
    }
    const auto format = static_cast<uint32_t>(options.format);
    orvenna_play::FrameSource source;
    if (!source.Open(options)) {
        std::fprintf(stderr, "orvenna-play: cannot open %s\n", options.file.c_str());
        return 1;
    }

    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "orvenna-play: no X display\n");
        return 1;
    }
    const int screen = DefaultScreen(display);
    const Window window = XCreateSimpleWindow(
        display, RootWindow(display, screen), 0, 0, options.width, options.height, 0,
        BlackPixel(display, screen), BlackPixel(display, screen));
    XStoreName(display, window, "orvenna-play");
    Atom wm_delete = XInternAtom(display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display, window, &wm_delete, 1);
    XSelectInput(display, window, ExposureMask | KeyPressMask | StructureNotifyMask);
    XMapWindow(display, window);
    // Frames are shown only once the window is on screen.
    for (XEvent event;;) {
        XWindowEvent(display, window, StructureNotifyMask, &event);
        if (event.type == MapNotify) break;
    }

    OverlayState overlay{0, orvenna_play::FormatName(format)};
    const int32_t handle = StartDisplay(window, options, &DrawOverlay, &overlay);
    if (handle < 0) return 1;

    const auto period = std::chrono::duration<double>(1.0 / options.fps);
    auto next = std::chrono::steady_clock::now();
    bool running = true;
    int32_t last_result = ORVD_OK;
    for (long n = 0; running && (options.frames < 0 || n < options.frames); ++n) {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == Expose && event.xexpose.count == 0) {
                ORVD_RefreshDisplay(handle);
            } else if (event.type == KeyPress) {
                const KeySym key = XLookupKeysym(&event.xkey, 0);
                running = key != 'q' && key != XK_Escape;
            } else if (event.type == ClientMessage &&
                       static_cast<Atom>(event.xclient.data.l[0]) == wm_delete) {
                running = false;
            }
        }
        if (!ShowFrame(handle, source, n, overlay, &last_result)) break;
        next += std::chrono::duration_cast<std::chrono::steady_clock::duration>(period);
        std::this_thread::sleep_until(next);
    }

    int status = 0;
    if (!options.screenshot.empty() && !WriteScreenshot(display, window, options.screenshot)) {
        std::fprintf(stderr, "orvenna-play: cannot write %s\n", options.screenshot.c_str());
        status = 1;
    }
    ORVD_Release(handle);
    XDestroyWindow(display, window);
    XCloseDisplay(display);
    return status;
}
