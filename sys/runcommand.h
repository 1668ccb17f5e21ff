// Starts a program and waits for its end.
#pragma once

#include <windows.h>

// Runs `program` (its full path) with `commandLine`, the complete command line it receives, in
// `workingFolder`. The program is named to the system on its own, so no other program can be
// started in its place whatever blanks its path holds, and the command line is handed over as
// it stands. 1 when the program was started and has ended, 0 when it could not be started;
// `exitCode` (may be null) receives the ended program's exit code.
int RunCommand(const wchar_t* program, wchar_t* commandLine, const wchar_t* workingFolder,
               DWORD* exitCode = nullptr);
