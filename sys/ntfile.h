// Entries named relative to a folder handle: made, looked at and deleted through ntdll's own
// calls, so that a name is looked up below the very folder held open, never again along a path
// that another program could have changed meanwhile. ntdll is loaded in every process and exports
// these on every system from XP on; they are looked up at run time all the same, since no import
// list of XP names them.
#pragma once

#include <windows.h>

// NtCreateFile of `name` below `folder` (relative, no leading backslash, case-insensitive; a null
// `folder` with an NT path such as "\??\C:\x"): `disposition` and `options` as NtCreateFile takes
// them (FILE_CREATE, FILE_DIRECTORY_FILE...; synchronous I/O is always asked for), `descriptor`
// given to a new entry. The handle, or INVALID_HANDLE_VALUE with the system's error set (a name
// already taken: ERROR_ALREADY_EXISTS).
HANDLE createRelative(HANDLE folder, const wchar_t* name, ACCESS_MASK access, ULONG share,
                      ULONG disposition, ULONG options, PSECURITY_DESCRIPTOR descriptor = nullptr);

// The attributes of `name` below `folder`, the entry opened as itself (a link as a reparse point,
// where the system does not follow it all the same); INVALID_FILE_ATTRIBUTES when there is none.
DWORD attributesRelative(HANDLE folder, const wchar_t* name);

// Deletes what `handle` (opened with DELETE) is open on, once its last handle is closed; a folder
// must be empty by then. False, with the system's error, when the system refuses.
bool deleteThrough(HANDLE handle);
