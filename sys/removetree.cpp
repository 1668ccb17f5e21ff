#include "sys/removetree.h"

#include <windows.h>

#include "base/runstate.h"
#include "base/text.h"
#include "log/log.h"

namespace {

bool isDirectory(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
bool isLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

int removeEntry(const wchar_t* path, DWORD attributes);

void removeChildren(const wchar_t* path) {
    wchar_t pattern[kPathChars];
    if (!textCopy(pattern, path) || !pathJoin(pattern, L"*.*")) {
        writeLog(L"[WENVAROTH] Path too long, not emptied: %s", path);
        return;
    }
    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileW(pattern, &entry);
    if (listing == INVALID_HANDLE_VALUE) return;
    do {
        if (wcscmp(entry.cFileName, L".") == 0 || wcscmp(entry.cFileName, L"..") == 0) continue;
        wchar_t child[kPathChars];
        if (!textCopy(child, path) || !pathJoin(child, entry.cFileName)) {
            writeLog(L"[WENVAROTH] Path too long, left: %s\\%s", path, entry.cFileName);
            continue;
        }
        // The listing already says what the entry is: looking each one up again would cost two
        // more file-system queries per file of the kit.
        removeEntry(child, entry.dwFileAttributes);
    } while (FindNextFileW(listing, &entry));
    FindClose(listing);
}

// Removes one entry whose attributes are known; what can't go now goes at the next system start.
int removeEntry(const wchar_t* path, DWORD attributes) {
    // A link is never entered: what it points to lies outside the tree.
    if (isDirectory(attributes) && !isLink(attributes)) removeChildren(path);
    BOOL removed = isDirectory(attributes) ? RemoveDirectoryW(path) : DeleteFileW(path);
    if (!removed) MoveFileExW(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    return 1;
}

}  // namespace

int removeFolderTree(const wchar_t* path) {
    if (path == nullptr || path[0] == L'\0') return 0;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(path, &found);
    if (search == INVALID_HANDLE_VALUE) {
        writeLog(L"[WENVAROTH] Error finding path %s (%d)", path, GetLastError());
        return 0;
    }
    FindClose(search);
    return removeEntry(path, found.dwFileAttributes);
}
