/* Compiled as C: the public header is plain C, and the shared library answers through it.
 * Prints the closing "N passed, N failed" line and exits non-zero on a failure. */
#include <stdio.h>
#include <string.h>

#include "orvenna.h"

static int g_passed;
static int g_failed;

static void Check(int ok, const char* what) {
    if (ok) {
        ++g_passed;
    } else {
        ++g_failed;
        fprintf(stderr, "FAILED: %s\n", what);
    }
}

static void ORVD_CALL DrawNothing(int32_t handle, ORVD_HDC hdc, intptr_t user) {
    (void)handle;
    (void)hdc;
    (void)user;
}

int main(void) {
    int32_t first = -1;
    int32_t second = -1;
    int32_t untouched = 77;
    struct tagRECT rect = {0, 0, 640, 480};
    tagORVD_FRAME frame;
    memset(&frame, 0, sizeof(frame));
    frame.dwFormat = ORVD_FORMAT_RGB32;

    Check(ORVD_InitByDisEngine(&first, ORVD_ENGINE_DDRAW) == ORVD_OK && first == 0,
          "first handle 0");
    Check(ORVD_InitByDisEngine(&second, ORVD_ENGINE_DDRAW) == ORVD_OK && second == 1, "then 1");
    Check(ORVD_InitByDisEngine(&untouched, ORVD_ENGINE_KIND1) == ORVD_E_UNSUPPORTED &&
              untouched == 77,
          "kind 1 leaves the handle");
    Check(ORVD_SetDisplayWindow(ORVD_MAX_HANDLES, 0) == ORVD_E_HANDLE, "handle 500");
    Check(ORVD_SetDisplayWindow(first, 0) == ORVD_E_PARAM, "no window");
    Check(ORVD_SetDisplayRect(first, &rect) == ORVD_OK, "rectangle");
    Check(ORVD_SetRotationAngle(first, 90) == ORVD_E_UNSUPPORTED, "rotation");
    Check(ORVD_RegisterDCCallback(first, DrawNothing, (intptr_t)&frame) == ORVD_OK, "callback");
    Check(ORVD_SetDisplayMode(first, 2) == ORVD_OK, "mode");
    Check(ORVD_DisplayFrame(first, &frame) == ORVD_E_NOT_READY, "frame without window");
    Check(ORVD_RefreshDisplay(first) == ORVD_E_NOT_READY, "refresh without window");
    Check(ORVD_Release(first) == ORVD_OK, "release");
    Check(ORVD_E_NOT_READY < 0 && ORVD_E_FAIL < ORVD_E_PARAM, "codes are negative");
    /* `second` stays live: unloading the library releases it. */

    printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}
