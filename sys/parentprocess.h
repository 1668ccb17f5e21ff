// Learns which process started this one: its id, its executable path and its command line.
#pragma once

#include <windows.h>

#include "sys/guardedstring.h"

// Whether a process is 32-bit on 64-bit Windows; FALSE where the platform cannot say.
BOOL isWow64Process(HANDLE process);

// Reads the wide text of `bytes` bytes at `address` in `process` into `result` (up to its first
// null character); whole characters only. False, with `result` untouched, when the memory cannot
// be read in full.
bool readRemoteText(HANDLE process, const void* address, size_t bytes, GuardedString* result);

// The parent's process id, 0 when not found; fills g_parentProcessPath while it is empty.
DWORD getParentProcessId();
// The parent's command line read out of its memory; empty when any step fails, and for a parent
// of another bitness, whose structures this build cannot read in its own layout.
GuardedString GetParrentProcessCmdLine();
