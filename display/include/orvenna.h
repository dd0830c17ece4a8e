/* Orvenna: shows video frames held in the caller's memory inside the caller's window.
 * Plain C interface: nine exports over a table of 500 display handles. Every export returns
 * ORVD_OK (0) or one of the negative ORVD_E_* codes; all calls are serialised by one
 * process-wide re-entrant lock, held while the DC callback runs. */
#ifndef ORVENNA_H_
#define ORVENNA_H_

#include <stdint.h>

#if defined(_WIN32)
#include <windows.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#if defined(ORVENNA_BUILDING)
#define ORVD_API __declspec(dllexport)
#else
#define ORVD_API __declspec(dllimport)
#endif
#define ORVD_CALL __stdcall
typedef HWND ORVD_HWND;
typedef HDC ORVD_HDC;
#else
#define ORVD_API __attribute__((visibility("default")))
#define ORVD_CALL
/* The display window: an X11 Window id (XID). */
typedef unsigned long ORVD_HWND;
/* The device context handed to the DC callback: a cairo_t* drawing on the 32-bit surface. */
typedef struct _cairo* ORVD_HDC;
#ifndef ORVD_TAGRECT_DEFINED
#define ORVD_TAGRECT_DEFINED
/* A rectangle as Windows lays it out: left, top, right, bottom as signed 32-bit values. */
struct tagRECT {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};
#endif
#endif

/* Result codes. The values are 0x80000000 and up, read as signed 32-bit, so they compare as
 * negative numbers. */
#define ORVD_OK ((int32_t)0)
#define ORVD_E_FAIL ((int32_t)(-0x7FFFFFFF - 1))        /* 0x80000000 general failure */
#define ORVD_E_PARAM ((int32_t)(-0x7FFFFFFF))           /* 0x80000001 bad argument */
#define ORVD_E_HANDLE ((int32_t)(-0x7FFFFFFF + 1))      /* 0x80000002 handle outside 0..499 */
#define ORVD_E_DDRAW ((int32_t)(-0x7FFFFFFF + 3))       /* 0x80000004 a DirectDraw step failed */
#define ORVD_E_UNSUPPORTED ((int32_t)(-0x7FFFFFFF + 4)) /* 0x80000005 not supported */
#define ORVD_E_NOT_READY \
    ((int32_t)(-0x7FFFFFFF + 5)) /* 0x80000006 engine, window, device or surface missing */

/* Number of display handles: valid handles are 0 .. ORVD_MAX_HANDLES - 1. */
#define ORVD_MAX_HANDLES 500

/* Engine kinds for ORVD_InitByDisEngine. Only the DirectDraw engine exists; 1 and 2 are refused
 * as unsupported, any other value as a failure. The two sentinels make every 32-bit value a
 * valid value of the type. */
typedef enum tagORVD_ENGINE {
    ORVD_ENGINE_DDRAW = 0,
    ORVD_ENGINE_KIND1 = 1,
    ORVD_ENGINE_KIND2 = 2,
    ORVD_ENGINE_FORCE_MIN = (-0x7FFFFFFF - 1),
    ORVD_ENGINE_FORCE_MAX = 0x7FFFFFFF
} tagORVD_ENGINE;

/* Pixel format codes of tagORVD_FRAME.dwFormat. */
enum {
    ORVD_FORMAT_RGB555 = 0,
    ORVD_FORMAT_RGB565 = 1,
    ORVD_FORMAT_RGB24 = 2,
    ORVD_FORMAT_RGB32 = 3,
    ORVD_FORMAT_UYVY = 4,
    ORVD_FORMAT_YV12 = 5,
    ORVD_FORMAT_YUY2 = 6,
    ORVD_FORMAT_YUV9 = 7,
    ORVD_FORMAT_YVYU = 8,
    ORVD_FORMAT_IYUV = 9,
    ORVD_FORMAT_YV16 = 10,
    ORVD_FORMAT_NV12 = 11,
    ORVD_FORMAT_IUYV = 12,
    ORVD_FORMAT_IYU2 = 13,
    ORVD_FORMAT_COUNT = 14
};

/* One frame, owned by the caller and read only during ORVD_DisplayFrame. */
typedef struct tagORVD_FRAME {
    unsigned char* pBuffer; /* the pixel bytes, packed rows in the format's layout */
    uint32_t dwReserved;    /* not read */
    uint32_t dwFormat;      /* ORVD_FORMAT_* */
    uint32_t dwWidth;       /* pixels */
    uint32_t dwHeight;      /* rows */
} tagORVD_FRAME, ORVD_FRAME;

/* Called once per visible monitor and presentation while a callback is registered, with the
 * handle it was registered on, a device context over the frame as it will be shown, and the
 * caller's value. It runs with the library lock held and may call the library again. */
typedef void(ORVD_CALL* ORVD_DCCALLBACK)(int32_t handle, ORVD_HDC hdc, intptr_t user);

/* Creates a display engine of the given kind in the lowest free handle and writes the handle. */
ORVD_API int32_t ORVD_CALL ORVD_InitByDisEngine(int32_t* handle_out, tagORVD_ENGINE engine);
/* Sets the window the frames are shown in; ORVD_E_PARAM when it is not a window. */
ORVD_API int32_t ORVD_CALL ORVD_SetDisplayWindow(int32_t handle, ORVD_HWND hwnd);
/* Stores a rectangle (null clears it); ORVD_E_PARAM for a negative coordinate. */
ORVD_API int32_t ORVD_CALL ORVD_SetDisplayRect(int32_t handle, struct tagRECT* rect);
/* Shows one frame in the display window. */
ORVD_API int32_t ORVD_CALL ORVD_DisplayFrame(int32_t handle, tagORVD_FRAME* frame);
/* Shows the last frame again (after the window moved or was uncovered). */
ORVD_API int32_t ORVD_CALL ORVD_RefreshDisplay(int32_t handle);
/* Releases the handle's engine and frees the handle for ORVD_InitByDisEngine. */
ORVD_API int32_t ORVD_CALL ORVD_Release(int32_t handle);
/* Rotation is not supported: ORVD_E_UNSUPPORTED for every angle. */
ORVD_API int32_t ORVD_CALL ORVD_SetRotationAngle(int32_t handle, uint32_t angle);
/* Registers the drawing callback (null switches the drawing pass off). */
ORVD_API int32_t ORVD_CALL ORVD_RegisterDCCallback(int32_t handle, ORVD_DCCALLBACK callback,
                                                   intptr_t user);
/* 0 fills the window, 1 fits a 4:3 picture, 2 a 16:9 picture; other values show nothing. */
ORVD_API int32_t ORVD_CALL ORVD_SetDisplayMode(int32_t handle, uint32_t mode);

#ifdef __cplusplus
}
#endif

#endif /* ORVENNA_H_ */
