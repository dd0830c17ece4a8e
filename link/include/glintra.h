/* Glintra, the camera maker's render library: shows a two-bytes-per-pixel grey picture in a window
 * (an X11 window, or a Win32 window in glintra.dll) from a drawing thread of its own and lets the
 * caller draw rectangles over it. */
#ifndef GLINTRA_H_
#define GLINTRA_H_

#include <stdint.h>

#if defined(_WIN32)
#if defined(GLINTRA_BUILDING)
#define GLT_API __declspec(dllexport)
#else
#define GLT_API __declspec(dllimport)
#endif
#elif defined(GLINTRA_BUILDING)
#define GLT_API __attribute__((visibility("default")))
#else
#define GLT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A render handle: 0 means failure. Every other call returns non-zero on success, 0 on failure
 * (bad handle, null pointer, value out of range, or nothing to show). */
typedef int32_t GLT_HANDLE;

/* Picture format of GLT_Init: two bytes per pixel, 0x80 then the grey level (UYVY byte order). */
#define GLT_FORMAT_GREY_UYVY 8

/* Scaling filter of GLT_Init. */
#define GLT_SCALE_NEAREST 0
#define GLT_SCALE_BILINEAR 1

/* Callback kind of GLT_SetCallBack: the overlay, called once per drawn picture. */
#define GLT_CALLBACK_OVERLAY 2

/* Largest picture side GLT_UpdateFrameData accepts, in pixels. */
#define GLT_MAX_SIDE 8192

/* Overlay callback, called on Glintra's drawing thread after the picture is scaled and before it is
 * presented. user: the value given to GLT_SetCallBack; then the sub-port, the callback kind, the
 * drawn width and height in pixels, and dc: 0 on X11; on Windows the HDC of the drawn picture
 * (GDI handles carry 32 significant bits: (HDC)(intptr_t)dc), valid until the callback returns.
 * GLT_DrawRect works only inside it. It must not wait for a thread that is calling GLT_DelSubPort,
 * GLT_SetCallBack or GLT_DestroyHandle on the same handle. */
typedef void (*GLT_DRAWCALLBACK)(void* user, int32_t subPort, int32_t kind, int32_t width,
                                 int32_t height, int32_t dc);

/* returns: a new render handle, or 0 when out of memory. Needs no X display. */
GLT_API GLT_HANDLE GLT_CreateHandle(void);

/* Sets the picture format (only GLT_FORMAT_GREY_UYVY) and the scaling filter (GLT_SCALE_*);
 * reserved is ignored. May be called again at any time. returns: 0 on a bad handle or value. */
GLT_API int32_t GLT_Init(GLT_HANDLE handle, int32_t format, int32_t reserved, int32_t scaleFilter);

/* Adds sub-port subPort (only 0 exists); adding it again succeeds. reserved is ignored.
 * returns: 0 on a bad handle or sub-port. */
GLT_API int32_t GLT_AddSubPort(GLT_HANDLE handle, int32_t subPort, int32_t reserved);

/* Sets (or with a null callback clears) the callback of the given kind (only GLT_CALLBACK_OVERLAY)
 * on an added sub-port. When it returns, the previous callback is no longer running (unless it is
 * called from inside that callback). returns: 0 on a bad handle, sub-port or kind. */
GLT_API int32_t GLT_SetCallBack(GLT_HANDLE handle, int32_t subPort, int32_t kind,
                                GLT_DRAWCALLBACK callback, void* user);

/* Copies the picture (width x height pixels, 2 bytes each, rows packed) as the one to show next;
 * a newer picture replaces one not yet drawn. Does not wait for drawing. reserved is ignored.
 * returns: 0 on a bad handle, a null image or a side outside 1..GLT_MAX_SIDE. */
GLT_API int32_t GLT_UpdateFrameData(GLT_HANDLE handle, const uint8_t* image, int32_t width,
                                    int32_t height, int32_t reserved);

/* Shows the latest picture of sub-port subPort scaled into `window`, an X11 window id or an HWND
 * (in a child window of Glintra's own, which follows the window's size and is redrawn on expose or
 * WM_PAINT). Returns at once; the drawing thread presents. returns: 0 on a bad handle or sub-port,
 * a window of 0, no picture yet, no X display, or a window that the window system has reported as
 * unusable. */
GLT_API int32_t GLT_Display(GLT_HANDLE handle, int32_t subPort, uint64_t window);

/* Inside the overlay callback of this handle: draws a rectangle over the picture. rect: left,
 * right, top, bottom in 0..1 of the picture's width and height; colour: red, green, blue, alpha in
 * 0..1 (clamped); lineWidth: the outline's width in pixels, 0 fills the rectangle. returns: 0
 * outside the callback, on a null pointer, a non-finite value or a negative width. */
GLT_API int32_t GLT_DrawRect(GLT_HANDLE handle, const float rect[4], const float colour[4],
                             int32_t lineWidth);

/* Removes sub-port subPort: its callback is cleared and its window no longer drawn into.
 * returns: 0 on a bad handle or a sub-port that was not added. */
GLT_API int32_t GLT_DelSubPort(GLT_HANDLE handle, int32_t subPort);

/* Ends the drawing thread, destroys the child window and frees the handle; the overlay callback is
 * never called again afterwards. returns: 0 on a bad handle or when called from the overlay
 * callback. */
GLT_API int32_t GLT_DestroyHandle(GLT_HANDLE handle);

#ifdef __cplusplus
}
#endif

#endif /* GLINTRA_H_ */
