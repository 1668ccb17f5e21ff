// Placeholder until the download worker lands: it ends the run at once.
#include "download/worker.h"

#include "app/runstate.h"

void closeProgressWindow() {
    HWND window = g_progressWindow.exchange(nullptr);
    if (window != nullptr) {
        SendMessageW(window, WM_CLOSE, 1, 0);
    } else {
        g_closeRequested = 1;
    }
}

int32_t queryProductState(const wchar_t*) { return -1; }

DWORD WINAPI downloadWorker(LPVOID) {
    g_runAborted = 1;
    closeProgressWindow();
    return 0;
}
