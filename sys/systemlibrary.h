// Loading a system library by its full path in the system folder.
#pragma once

#include <windows.h>

// The program runs elevated from a downloads folder that other programs write to. A library that
// is not one of the system's known libraries would be looked up in the program's own folder first,
// so a planted copy there would run with administrator rights. Libraries of that kind are never
// imported; they are loaded through this, from the system folder only, and the libraries they
// import in turn are looked for in the system folder first, never in the program's (on XP too,
// where the search cannot be limited). Null when the library cannot be loaded; the caller frees a
// loaded one.
HMODULE loadSystemLibrary(const wchar_t* fileName);

// Takes the program's own folder and the current folder out of the library search of this process,
// for the libraries the system loads by bare name on its behalf later (themes, cryptography, the
// installer's helpers). Where the system has no way to limit the search to its own folder (XP, and
// Vista and 7 without the update that brought it), only the current folder goes. Acts on loads
// after it, so it is the first thing the program does.
void limitLibrarySearch();
