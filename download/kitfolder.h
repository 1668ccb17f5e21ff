// The kit folder: made new under the temporary folder and held open from that moment to its
// removal, protected where the process holds administrator rights, its folders made by this run
// alone, each file made new and filled from the bytes that were checked. The temporary folder is
// writable by every program of the user, and the right to rename or delete an entry comes from
// its parent: held open without delete sharing, the folder can be neither renamed nor deleted,
// and nothing found in it is taken for the program's own.
#pragma once

#include <windows.h>

#include <vector>

#include "base/ownedhandle.h"
#include "base/runstate.h"
#include "base/widestring.h"
#include "download/digest.h"

// The security descriptor (text form) a new kit folder gets: SYSTEM and Administrators full
// control, Users read and execute, nothing for anyone else, inherited by everything below and not
// from above; given when the process holds administrator rights (a member of Administrators whose
// token, where the system has elevation, is elevated). Null otherwise: default security, since
// there is nobody below the user to keep out, and the protected folder would deny the user's
// own process its writes.
const wchar_t* kitFolderSecurity(bool administratorsMember, bool elevated);

// One kit folder and what this run made in it. Paths given to it are full paths inside it (its
// path(), a backslash, then the rest); every entry is made below the held handle, so a name
// swapped along the path meanwhile is never written through.
class KitFolder {
  public:
    // Destroyed, it lets go of the folder, which stays (remove() is what removes it).
    KitFolder() = default;
    KitFolder(const KitFolder&) = delete;
    KitFolder& operator=(const KitFolder&) = delete;

    // Makes and opens, in one call, a new "talvotempdirNN" (01..99, the first free one) under the
    // folder that "%temp%" expands to, with the security of kitFolderSecurity given to the
    // creation itself (one log line says which), and holds it: sharing read and write, never
    // delete, so that nobody can rename or delete it. False (logged) when no absolute temporary
    // folder, a path too long, all 99 names taken, no descriptor; path() then stays empty.
    // `tempOverride` replaces "%temp%" (tests).
    bool make(const wchar_t* tempOverride = nullptr);
    // The folder's full path, for what is started in it; empty until made.
    const wchar_t* path() const { return m_path; }

    // Makes the levels of the safe `relativePath` (download/safename.h; null: none) inside the
    // folder, the full path into `folder` (260 characters). A level that exists already is taken
    // only when this run made it; a link there (a reparse point) is refused and never followed.
    // False, logged, for a refusal, a level that can't be made or a path that would not fit.
    bool makeFolder(const wchar_t* relativePath, wchar_t* folder);

    // Makes the file `file` new, for writing; others may read it meanwhile but not write, rename
    // or delete it. An existing file there is replaced only when this run wrote it (a manifest
    // naming one file twice); a link there is refused (logged). INVALID_HANDLE_VALUE with the
    // system's error otherwise (ERROR_ALREADY_EXISTS: another program's file).
    HANDLE createFile(const wchar_t* file);
    // Copies `from`, from where it stands, into the new file `destination` (createFile), adding
    // the bytes to `digest` when given; false, logged with `source`, when that fails or the copy
    // does not come to `expectedBytes`.
    bool copyIn(HANDLE from, long long expectedBytes, const wchar_t* source,
                const wchar_t* destination, Md5* digest = nullptr);
    // Deletes the file `file`, which this run wrote, through a handle (an autorun program done).
    bool removeFile(const wchar_t* file);

    // Whether path() still names the held folder (the file IDs of the folder opened by path and
    // of the held handle): checked before anything is started by path. False, logged, otherwise:
    // a folder above it was renamed and something else stands at its path.
    bool stillAtItsPath() const;

    // Empties the folder (sys/removetree.h) and deletes it through a handle, never by path and
    // never at the next start; then lets go of it. A folder that no longer stands at its path,
    // or that keeps a link or a file in use, is left (logged).
    void remove();

  private:
    // The part of `path` below the folder, or null (logged) for a path elsewhere.
    const wchar_t* below(const wchar_t* path) const;
    bool madeHere(const wchar_t* relative, bool folder) const;
    bool makeLevel(const wchar_t* path);
    bool deleteHeld();
    void release();

    OwnedHandle m_held;    // the folder itself
    OwnedHandle m_parent;  // the temporary folder it was made in
    wchar_t m_path[kPathChars] = {};
    // The entries this run made below the folder (files, and folders ending with a backslash, as
    // relative paths), so that an existing one is told apart from one planted by someone else.
    std::vector<WideString> m_made;
};
