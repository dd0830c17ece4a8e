// orvenna.dll's entry point. The C++ runtime runs it before the library's static destructors.
#include <windows.h>

#include "handle_table.h"

BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID reserved) {
    // A non-null `reserved` on detach: the process is ending (not FreeLibrary). Its other threads
    // are already gone, so the library must not wait for any of them while it unloads.
    if (reason == DLL_PROCESS_DETACH && reserved != nullptr) orvenna::AbandonAtProcessEnd();
    return TRUE;
}
