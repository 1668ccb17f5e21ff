// The program's only diagnostic output: time-stamped lines to the log file and the debugger,
// and nothing at all unless the option "log" was given.
#pragma once

#include <windows.h>

// printf-style wide format: "%s" takes a wide text. Callable from any thread.
void writeLog(const wchar_t* format, ...);
// Opens g_logPath for appending when g_logEnabled, where the parent `parentId` (which named the
// path) could write it; otherwise turns logging off.
void openLogFile(DWORD parentId);
