// The stop request on Windows: the console's control handler sets an event that the main thread
// waits for.
#include "stop_request.h"

#include <windows.h>

namespace camsim {
namespace {

HANDLE g_stopEvent = nullptr;  // made once by PrepareStopRequest, never closed

BOOL WINAPI OnConsoleControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    SetEvent(g_stopEvent);
    // The system ends the process when a close handler returns: give the main thread the time
    // to say goodbye to the clients first.
    if (type == CTRL_CLOSE_EVENT) Sleep(INFINITE);
    return TRUE;
}

}  // namespace

void PrepareStopRequest() {
    g_stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

void WaitForStopRequest() {
    WaitForSingleObject(g_stopEvent, INFINITE);
}

}  // namespace camsim
