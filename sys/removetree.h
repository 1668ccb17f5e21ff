// Removes what a folder holds, depth-first; what can't be deleted now (a file in use, a read-only
// file) is scheduled for deletion at the next system start. The folder itself is its owner's to
// remove (the kit folder goes through the handle it is held by: download/kitfolder.h).
#pragma once

// path: at most 259 characters, no trailing backslash. Entries below it are removed as their
// folder's listing describes them, without looking each one up again. False when a link below
// stays (below); true otherwise, also when the folder can't be listed.
//
// A reparse point (junction, symbolic link, mount point) is never entered and never scheduled:
// it is removed only through a handle opened on the link itself that shows a reparse point, so
// no call can reach what it points to. A link that can't go so is left with the log line
// "Link left"; the folders above it, kept only by it, are left too, never scheduled. An entry
// whose path would exceed 259 characters is left (and logged); its folder then can't be removed
// and is scheduled like a folder in use.
bool removeFolderContents(const wchar_t* path);
