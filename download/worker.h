// The download worker thread: kit list, installed-product check, queue, kit folder,
// transfers through the URL cache, copies into the kit folder, autorun files.
#pragma once

#include <windows.h>

#include <cstdint>

#include "manifest/model.h"

// One file of the worker's queue: a deep copy of its record, and whether `size` is a known
// expected length that the received file must have (kit files: the kit list's size;
// prerequisites: the queried Content-Length when the query gave one).
struct QueuedFile {
    DownloadableFile file;
    bool sizeKnown = false;
};

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
