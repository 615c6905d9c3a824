// The console-control routine of the Windows program, which the system calls on a thread of
// its own; tests call it as the system would.
#pragma once

#include <windows.h>

// How long an end request (window closed, log-off, shutdown) waits for the run to close its
// ports: within the 5 s the system gives a console program before it ends the process.
inline constexpr DWORD kEndRequestGraceMs = 4000;

// Handles one console event: Ctrl+C and Ctrl+Break press; close, log-off and shutdown end the
// run and wait for its end (at most kEndRequestGraceMs). FALSE when no run is there.
BOOL WINAPI OnConsoleControl(DWORD event);
