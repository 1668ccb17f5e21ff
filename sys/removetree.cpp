#include "sys/removetree.h"

#include <windows.h>

#include "base/runstate.h"
#include "base/text.h"
#include "log/log.h"
#include "sys/ntfile.h"

namespace {

bool isDirectory(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
bool isLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

// Deletes the link at `path` itself. Opened as the reparse point (FILE_FLAG_OPEN_REPARSE_POINT)
// and deleted through that handle only when the handle shows one: a system that follows the link
// all the same (Wine opens a Unix symbolic link's target) leaves it, whereas RemoveDirectoryW,
// DeleteFileW or a delete-on-close open would there delete the target.
bool removeLink(const wchar_t* path) {
    HANDLE link = CreateFileW(
        path, DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (link == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION opened;
    bool removed = GetFileInformationByHandle(link, &opened) && isLink(opened.dwFileAttributes) &&
                   deleteThrough(link);
    CloseHandle(link);
    return removed;
}

bool removeEntry(const wchar_t* path, DWORD attributes);

// False when a link below stays.
bool removeChildren(const wchar_t* path) {
    wchar_t pattern[kPathChars];
    if (!textCopy(pattern, path) || !pathJoin(pattern, L"*.*")) {
        writeLog(L"[WENVAROTH] Path too long, not emptied: %s", path);
        return true;
    }
    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileW(pattern, &entry);
    if (listing == INVALID_HANDLE_VALUE) return true;
    bool clear = true;
    do {
        if (wcscmp(entry.cFileName, L".") == 0 || wcscmp(entry.cFileName, L"..") == 0) continue;
        wchar_t child[kPathChars];
        if (!textCopy(child, path) || !pathJoin(child, entry.cFileName)) {
            writeLog(L"[WENVAROTH] Path too long, left: %s\\%s", path, entry.cFileName);
            continue;
        }
        // The listing already says what the entry is: looking each one up again would cost two
        // more file-system queries per file of the kit.
        clear = removeEntry(child, entry.dwFileAttributes) && clear;
    } while (FindNextFileW(listing, &entry));
    FindClose(listing);
    return clear;
}

// Removes one entry whose attributes are known; what can't go now goes at the next system start.
// False when a link that can't be removed keeps it: then nothing is scheduled, since what happens
// at the next start to a path through a link is not this program's to decide.
bool removeEntry(const wchar_t* path, DWORD attributes) {
    if (isLink(attributes)) {
        if (removeLink(path)) return true;
        writeLog(L"[WENVAROTH] Link left: %s", path);
        return false;
    }
    if (isDirectory(attributes) && !removeChildren(path)) return false;
    BOOL removed = isDirectory(attributes) ? RemoveDirectoryW(path) : DeleteFileW(path);
    if (!removed) MoveFileExW(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    return true;
}

}  // namespace

bool removeFolderContents(const wchar_t* path) {
    return path != nullptr && path[0] != L'\0' && removeChildren(path);
}
