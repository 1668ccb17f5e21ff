// Minimal dialog until the progress window lands: it only knows how to close.
#include "ui/progressdialog.h"

#include "app/runstate.h"

void centerOnWorkArea(HWND) {}

void releaseTaskbarList() {}

INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            g_progressWindow = window;
            if (g_closeRequested != 0) PostMessageW(window, WM_CLOSE, 1, 0);
            return 1;
        case WM_CLOSE:
            if (g_cancelEvent != nullptr) SetEvent(g_cancelEvent);
            DestroyWindow(window);
            g_progressWindow = nullptr;
            return 1;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return 0;
    }
}
