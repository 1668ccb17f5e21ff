#include "sys/removetree.h"

#include <windows.h>

#include "app/runstate.h"
#include "app/text.h"
#include "log/log.h"

namespace {

bool isDirectory(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
bool isLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

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
        removeFolderTree(child);
    } while (FindNextFileW(listing, &entry));
    FindClose(listing);
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
    // A link is never entered: what it points to lies outside the tree.
    if (isDirectory(found.dwFileAttributes) && !isLink(found.dwFileAttributes))
        removeChildren(path);

    search = FindFirstFileW(path, &found);
    if (search == INVALID_HANDLE_VALUE) {
        writeLog(L"[WENVAROTH] Error finding path %s (%d)", path, GetLastError());
        return MoveFileExW(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
    BOOL removed = isDirectory(found.dwFileAttributes) ? RemoveDirectoryW(path) : DeleteFileW(path);
    if (!removed) MoveFileExW(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    FindClose(search);
    return 1;
}
