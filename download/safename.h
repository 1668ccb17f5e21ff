// Checks that keep every write inside the kit folder: a manifest's file name or relative path is
// used only when it cannot name anything outside the folder it is joined to. No Windows headers,
// so the checks compile in the native fuzz build too.
#pragma once

#include <cstddef>

// A single path segment: not empty, not "." or "..", no "\" "/" ":" (so no drive letter, no
// alternate stream), none of * ? " < > |, no control character, and not ending with "." or
// blank (Windows drops those, so "..." or ".. " would reach the parent folder), and no device name
// (base/devicename.h).
bool isSafePathSegment(const wchar_t* segment);

// A relative folder path: segments separated by "\" or "/", each a safe segment, except that
// empty and "." segments ("cabs\", "./cabs", "a//b") name no level and are dropped. Refused: a
// null path and a leading separator (the root of a drive or a server).
bool isSafeRelativePath(const wchar_t* path);

// The safe relative `path` with its dropped segments gone and `separator` between the others
// ("./a//b/" gives "a" separator "b"; "." gives ""), into `out` (`capacity` characters, terminator
// included): the one form that both the folder made and the address asked for are built from.
// False, with `out` empty, for a path isSafeRelativePath refuses or a result that does not fit.
bool normalizeRelativePath(const wchar_t* path, wchar_t separator, wchar_t* out, size_t capacity);
