/* Compiled as C: the public header is plain C, and the shared library answers through it (what
 * each export answers is checked in test_tables.cpp). Prints the closing "N passed, N
 * failed" line and exits non-zero on a failure. */
#include <stdio.h>
#include <string.h>

#include "orvenna.h"

static int g_passed;
static int g_failed;
#define CHECK(cond) \
    ((cond) ? (void)++g_passed : (void)(++g_failed, fprintf(stderr, "FAILED: %s\n", #cond)))

static void ORVD_CALL DrawNothing(int32_t handle, ORVD_HDC hdc, intptr_t user) {
    (void)handle;
    (void)hdc;
    (void)user;
}

int main(void) {
    int32_t handle = -1;
    int32_t untouched = 77;
    struct tagRECT rect = {0, 0, 640, 480};
    tagORVD_FRAME frame;
    memset(&frame, 0, sizeof(frame));
    frame.dwFormat = ORVD_FORMAT_RGB32;

    CHECK(ORVD_InitByDisEngine(&handle, ORVD_ENGINE_DDRAW) == ORVD_OK && handle == 0);
    CHECK(ORVD_InitByDisEngine(&untouched, ORVD_ENGINE_KIND1) == ORVD_E_UNSUPPORTED);
    CHECK(untouched == 77);
    CHECK(ORVD_SetDisplayWindow(ORVD_MAX_HANDLES, 0) == ORVD_E_HANDLE);
    CHECK(ORVD_SetDisplayRect(handle, &rect) == ORVD_OK);
    CHECK(ORVD_SetRotationAngle(handle, 90) == ORVD_E_UNSUPPORTED);
    CHECK(ORVD_RegisterDCCallback(handle, DrawNothing, (intptr_t)&frame) == ORVD_OK);
    CHECK(ORVD_SetDisplayMode(handle, 2) == ORVD_OK);
    CHECK(ORVD_DisplayFrame(handle, &frame) == ORVD_E_NOT_READY);
    CHECK(ORVD_RefreshDisplay(handle) == ORVD_E_NOT_READY);
    /* The values are the callers' binary interface; read as int32_t, they are negative. */
    CHECK(ORVD_E_FAIL == (int32_t)0x80000000u && ORVD_E_PARAM == (int32_t)0x80000001u);
    CHECK(ORVD_E_HANDLE == (int32_t)0x80000002u && ORVD_E_DDRAW == (int32_t)0x80000004u);
    CHECK(ORVD_E_UNSUPPORTED == (int32_t)0x80000005u && ORVD_E_NOT_READY == (int32_t)0x80000006u);
    /* The handle of a second engine stays live: unloading the library releases it. */
    CHECK(ORVD_InitByDisEngine(&handle, ORVD_ENGINE_DDRAW) == ORVD_OK && handle == 1);
    CHECK(ORVD_Release(0) == ORVD_OK);
    printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}
