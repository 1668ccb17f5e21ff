// Removes a file or a folder tree, depth-first; what can't be deleted now (a file in use, a
// read-only file) is scheduled for deletion at the next system start.
#pragma once

// path: at most 259 characters, no trailing backslash. 0 for a null or empty path or one that
// can't be found; otherwise 1 (deleted or scheduled). Entries below it are removed as their
// folder's listing describes them, without looking each one up again.
//
// Reparse points (junctions, symbolic links to folders or files) are removed as links, with
// RemoveDirectoryW or DeleteFileW on the link itself, and never followed: nothing outside the
// given folder is ever deleted. An entry whose path would exceed 259 characters is left (and
// logged); its folder then can't be removed and is scheduled like a folder in use.
int removeFolderTree(const wchar_t* path);
