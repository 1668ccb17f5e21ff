// Files the program writes from a transfer: the cache file is opened so that nobody else may change
// it, and its bytes are copied through that handle into a file the program has just made, so that
// the bytes checked are the bytes written and no name swapped in between is ever written through.
#pragma once

#include <windows.h>

#include "download/digest.h"

// Opens a transfer's cache file for reading, at its start; others may read it meanwhile but not
// write, rename or delete it. INVALID_HANDLE_VALUE (logged) when it is gone or another program
// holds it open for writing.
HANDLE openCachedFile(const wchar_t* path);

// Opens the file `path` for reading, once, and only when it is a plain file: not a link or
// junction (neither the handle, opened on the entry itself, nor the path shows a reparse point)
// and no more than one name (a hard link would let this process read any file its planter
// chose); others may read it meanwhile but not change it. `*bytes` receives its length.
// INVALID_HANDLE_VALUE with the system's error otherwise (ERROR_CANT_ACCESS_FILE: refused).
HANDLE openPlainFile(const wchar_t* path, long long* bytes);

// Makes `path` new for writing (an existing name, link or not, makes it fail); others may read it
// meanwhile but not write, rename or delete it. INVALID_HANDLE_VALUE with the system's error.
HANDLE createNewFile(const wchar_t* path);

// Copies `from`, from where it stands to its end, into `to`; `*copied` counts the bytes written.
// When `digest` is given, every byte written is added to it in the same pass, so that the bytes
// checked are the bytes written. False (the system's error set) when a read, a write or the hash
// fails.
bool copyFileBytes(HANDLE from, HANDLE to, long long* copied, Md5* digest = nullptr);
