// The reserved device names: a path whose last part is one of them opens a device, not a file,
// whatever folder it names. One rule for every name the program takes from outside (the log path,
// the kit's file and folder names). No platform headers, so portable code may use it too.
#pragma once

#include <cstddef>

// True when the `length` characters at `name` (one path segment) name a device: CON, PRN, AUX,
// NUL, CONIN$, CONOUT$, COM0-9 and LPT0-9 (also with a superscript one, two or three), in any
// letter case, alone or before an extension or a stream (the name up to its first "." or ":",
// trailing blanks dropped, as the system reads it).
bool isDeviceName(const wchar_t* name, size_t length);
