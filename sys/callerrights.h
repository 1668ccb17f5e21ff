// Writing on behalf of the program that started this one. The process runs elevated, but a path
// from its parent's command line is that parent's word: the file is used only where the parent
// itself could write it.
#pragma once

#include <windows.h>

// Whose rights a path of the parent's is checked against.
enum class CallerToken {
    kParent,  // the parent's own token
    kLinked,  // the parent cannot be opened: this elevated process's filtered (linked) token
    kNone,    // neither (XP, a process that is not elevated): the path is not checked
};

// An impersonation token for the check: the parent's (the process `parentId`, which must have
// started before this one, or the id was reused), else the linked token of `ownToken` where that
// token is an elevated one. Null, with kNone, when there is neither. The caller closes it.
HANDLE openCallerToken(DWORD parentId, HANDLE ownToken, CallerToken* source);

// Whether `token` is granted every right of `access` by the security descriptor `security`.
bool tokenMay(HANDLE token, PSECURITY_DESCRIPTOR security, DWORD access);

// Opens the file `path` for appending (created when missing, shared for reading and writing)
// where the parent `parentId` could append to it, or create it in its folder. The folder and the
// file are opened without following a link in their place, the file through the folder's handle,
// and the rights checked are those of these two objects: a link or a rename elsewhere in the path
// cannot send the write anywhere else. Refused too: a file with a second name (a planted hard
// link). INVALID_HANDLE_VALUE, with `*reason` set, when refused or not possible.
HANDLE openFileForCaller(const wchar_t* path, DWORD parentId, const wchar_t** reason);
