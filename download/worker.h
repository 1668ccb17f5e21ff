// The download worker thread, the steps of a run: kit list, installed-product check, queue, kit
// folder, the queue's transfers (download/transfer.h).
#pragma once

#include <windows.h>

DWORD WINAPI downloadWorker(LPVOID unused);
// Asks the progress dialog to close without a question; remembered when the dialog does not
// exist yet.
void closeProgressWindow();
