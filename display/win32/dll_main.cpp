// orvenna.dll's entry point. The C++ runtime runs it before the library's static destructors.
#include <windows.h>

#include "handle_table.h"
#include "platform/ddraw_layer.h"

// The layer that other systems build (ddraw_layer.h without _WIN32) promises these sizes of a
// 64-bit Windows build; here they are the real structures.
static_assert(sizeof(void*) != 8 || sizeof(DDSURFACEDESC2) == 136, "DDSURFACEDESC2");
static_assert(sizeof(void*) != 8 || sizeof(DDBLTFX) == 128, "DDBLTFX");
static_assert(sizeof(DDPIXELFORMAT) == 32, "DDPIXELFORMAT");
static_assert(sizeof(DDCAPS) == 380, "DDCAPS is the DirectDraw 7 record");
static_assert(sizeof(MONITORINFOEXA) == 72, "MONITORINFOEXA");
static_assert(sizeof(tagORVD_FRAME) == 24 || sizeof(void*) != 8, "tagORVD_FRAME");

BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID reserved) {
    // A non-null `reserved` on detach: the process is ending (not FreeLibrary). Its other threads
    // are already gone, so the library must not wait for any of them while it unloads.
    if (reason == DLL_PROCESS_DETACH && reserved != nullptr) orvenna::AbandonAtProcessEnd();
    return TRUE;
}
