// Removes a file or a folder tree; what is in use is deleted at the next system start.
#pragma once

int removeFolderTree(const wchar_t* path);
