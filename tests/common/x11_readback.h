// What an X window shows, read back from the server.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdint>
#include <vector>

namespace kx_test {

struct Screenshot {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;  // 0xRRGGBB, row after row
    uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
    bool Empty() const { return pixels.empty(); }
};

// The window's contents (children included) after the server has done every request so far;
// empty when the window cannot be read.
inline Screenshot ReadWindow(Display* display, Window window) {
    XSync(display, False);
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, window, &attributes)) return {};
    XImage* image = XGetImage(display, window, 0, 0, static_cast<unsigned>(attributes.width),
                              static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    if (image == nullptr) return {};
    Screenshot shot;
    shot.width = attributes.width;
    shot.height = attributes.height;
    shot.pixels.reserve(static_cast<size_t>(shot.width) * shot.height);
    for (int y = 0; y < shot.height; ++y) {
        for (int x = 0; x < shot.width; ++x) {
            shot.pixels.push_back(static_cast<uint32_t>(XGetPixel(image, x, y)) & 0xffffffu);
        }
    }
    XDestroyImage(image);
    return shot;
}

}  // namespace kx_test
