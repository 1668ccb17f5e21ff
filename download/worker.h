// The download worker thread: kit list, installed-product check, queue, kit folder, transfers.
#pragma once

#include <windows.h>

#include <cstdint>

DWORD WINAPI downloadWorker(LPVOID unused);
// Asks the progress dialog to close without a question; remembered when the dialog does not
// exist yet.
void closeProgressWindow();
// The Windows Installer install state of a product; -1 and 1 count as not installed.
int32_t queryProductState(const wchar_t* productCode);
