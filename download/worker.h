// The download worker thread: kit list, installed-product check, queue, kit folder,
// transfers through the URL cache, copies into the kit folder, autorun files.
#pragma once

#include <windows.h>

#include <cstdint>

DWORD WINAPI downloadWorker(LPVOID unused);
// Asks the progress dialog to close without a question; remembered when the dialog does not
// exist yet.
void closeProgressWindow();
// The Windows Installer install state of a product (MsiQueryProductStateW); -1 and 1 count as
// not installed.
int32_t queryProductState(const wchar_t* productCode);

// Makes a new "talvotempdirNN" (01..99) under the folder that "%temp%" expands to. On success
// g_kitFolder names it and the result is true. On failure (no absolute temporary folder, path
// too long, all 99 names taken) g_kitFolder is left untouched and the result is false: it never
// names the temporary folder itself. `tempOverride` replaces "%temp%" (tests).
bool makeKitFolder(const wchar_t* tempOverride = nullptr);

// The file's URL: (baseUrl or g_baseUrl) / relativePath / name, into `url` (260 characters).
// False, after a log line, when there is no base or the URL would exceed 259 characters.
struct DownloadableFile;
bool composeFileUrl(const DownloadableFile& file, wchar_t* url);
