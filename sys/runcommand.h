// Starts a program and waits for its end.
#pragma once

#include <windows.h>

// 1 when the program was started and has ended, 0 when it could not be started.
int RunCommand(wchar_t* commandLine, const wchar_t* workingFolder);
