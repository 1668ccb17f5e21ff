// Placeholder until the download worker lands: it ends the run at once.
#include "download/worker.h"

#include "app/runstate.h"

void closeProgressWindow() {
    // The request is recorded before the window is looked at, and the dialog publishes its window
    // before it looks at the request: whichever comes second sees the other, so it is never lost.
    g_closeRequested = 1;
    HWND window = g_progressWindow.exchange(nullptr);
    if (window != nullptr) SendMessageW(window, WM_CLOSE, 1, 0);
}

int32_t queryProductState(const wchar_t*) { return -1; }

DWORD WINAPI downloadWorker(LPVOID) {
    g_runAborted = 1;
    closeProgressWindow();
    return 0;
}
