// How the emulator is told to stop: SIGINT or SIGTERM on POSIX (stop_request_posix.cpp), Ctrl+C,
// Ctrl+Break or the console window closing on Windows (stop_request_win32.cpp).
#pragma once

namespace camsim {

// Called before any thread starts: on POSIX the threads inherit the blocked signals, so that only
// WaitForStopRequest takes them.
void PrepareStopRequest();
// Returns once a stop was requested.
void WaitForStopRequest();

}  // namespace camsim
