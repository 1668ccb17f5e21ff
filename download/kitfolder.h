// The kit folder: made new under the temporary folder, protected where the process holds
// administrator rights, its folders made by this run alone, each file made new and filled from
// the bytes that were checked. The temporary folder is writable by every program of the user, so
// nothing found there is taken for the program's own.
#pragma once

#include <windows.h>

#include <vector>

#include "base/widestring.h"
#include "download/digest.h"

// The entries this run made below the kit folder (folders and files), so that an existing one is
// told apart from one planted by someone else.
using MadeEntries = std::vector<WideString>;

// The security descriptor (text form) a new kit folder gets: SYSTEM and Administrators full
// control, Users read and execute, nothing for anyone else, inherited by everything below and not
// from above; given when the process holds administrator rights (a member of Administrators whose
// token, where the system has elevation, is elevated). Null otherwise: default security, since
// there is nobody below the user to keep out, and the protected folder would deny the user's
// own process its writes.
const wchar_t* kitFolderSecurity(bool administratorsMember, bool elevated);

// Makes a new "talvotempdirNN" (01..99) under the folder that "%temp%" expands to, with the
// security of kitFolderSecurity given to the creation itself (one log line says which). On success
// g_kitFolder names it and the result is true. On failure (no absolute temporary folder, path too
// long, all 99 names taken, no descriptor) g_kitFolder is left untouched and the result is false:
// it never names the temporary folder itself. `tempOverride` replaces "%temp%" (tests).
bool makeKitFolder(const wchar_t* tempOverride = nullptr);

// Makes the levels of the safe `relativePath` (download/safename.h; null: none) inside `root`,
// the full path into `folder` (260 characters). A level that exists already is taken only when
// this run made it (`made` records each level made); a link there (a reparse point) is refused and
// never followed. False, logged, for a refusal, a level that can't be made or a path that would
// not fit.
bool makeFolderPath(const wchar_t* root, const wchar_t* relativePath, wchar_t* folder,
                    MadeEntries* made);

// Makes `destination` new for writing, recorded in `made`; an existing file there is replaced
// only when this run wrote it (a manifest naming one file twice), and a link there is refused
// (logged). INVALID_HANDLE_VALUE with the system's error on failure.
HANDLE createKitFile(const wchar_t* destination, MadeEntries* made);

// Copies the cache file open as `cached` (`cachedBytes` long, as its size was checked) into
// `destination`, made by createKitFile, adding the bytes to `digest` when given. False, logged,
// when the copy fails or does not come to `cachedBytes`.
bool copyIntoKit(HANDLE cached, long long cachedBytes, const wchar_t* cacheFile,
                 const wchar_t* destination, MadeEntries* made, Md5* digest = nullptr);
