// Learns which process started this one: its id, its executable path and its command line.
#pragma once

#include <windows.h>

#include "sys/guardedstring.h"

// Whether a process is 32-bit on 64-bit Windows; FALSE where the platform cannot say.
BOOL isWow64Process(HANDLE process);

// The parent's process id, 0 when not found; fills g_parentProcessPath while it is empty.
DWORD getParentProcessId();
// The parent's command line read out of its memory; empty when any step fails. A 32-bit build
// reads a 64-bit parent on 64-bit Windows through the calls WOW64 provides for that (empty where
// they are missing); the 64-bit test build does not read a 32-bit parent.
GuardedString GetParrentProcessCmdLine();
