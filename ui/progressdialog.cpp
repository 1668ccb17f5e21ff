#include "ui/progressdialog.h"

#include <commctrl.h>
#include <shobjidl.h>

#include "base/runstate.h"
#include "base/text.h"
#include "log/log.h"
#include "res/resource.h"
#include "ui/progresstext.h"

namespace {

// The dialog's close state lives in its DWLP_USER word: 0 while open, kClosing once a close has
// begun, and while the quit question is on screen the address of the asking call's flag, which a
// close that overtakes the question sets.
constexpr LONG_PTR kClosing = 1;

LONG_PTR closeState(HWND window) { return GetWindowLongPtrW(window, DWLP_USER); }

// Marks the window as closing; an open question learns that its answer no longer counts.
void markClosing(HWND window) {
    LONG_PTR state = closeState(window);
    if (state != 0 && state != kClosing) *reinterpret_cast<bool*>(state) = true;
    SetWindowLongPtrW(window, DWLP_USER, kClosing);
}

void setControlText(HWND window, int id, const wchar_t* text) {
    HWND control = GetDlgItem(window, id);
    if (control != nullptr) SetWindowTextW(control, text);
}

void createTaskbarList(HWND window) {
    releaseTaskbarList();
    ITaskbarList3* taskbar = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_ALL, IID_ITaskbarList3,
                                  reinterpret_cast<void**>(&taskbar));
    if (FAILED(hr) || taskbar == nullptr) return;
    g_taskbarList = taskbar;
    g_taskbarList->SetProgressState(window, TBPF_INDETERMINATE);
}

// The worker's taskbar state (normal, error) comes as a message: the object is used only on the
// thread that made it, and no thread ever waits for another to use it.
INT_PTR onTaskbarState(HWND window, WPARAM state) {
    if (g_taskbarList != nullptr && g_osVersion == 4) {
        g_taskbarList->SetProgressState(window, static_cast<TBPFLAG>(state));
    }
    return 0;
}

INT_PTR onInitDialog(HWND window) {
    // Published before the close request is read: the worker records its request before it
    // reads the window, so whichever comes second sees the other.
    g_progressWindow = window;
    if (g_closeRequested != 0) PostMessageW(window, WM_CLOSE, 1, 0);
    g_progressBar = GetDlgItem(window, IDC_PROGRESS_BAR);
    g_rateText = GetDlgItem(window, IDC_SPEED_TEXT);
    g_timeLeftText = GetDlgItem(window, IDC_TIMELEFT_TEXT);

    HICON icon = LoadIconW(g_moduleInstance, MAKEINTRESOURCEW(IDI_APP));
    if (icon != nullptr) {
        SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
        SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    }
    SetWindowTextW(window, g_productName);
    setControlText(window, IDC_DOWNLOADING_CAPTION, getResourceText(IDS_DOWNLOADING));
    setControlText(window, IDC_SPEED_CAPTION, getResourceText(IDS_SPEED));
    setControlText(window, IDC_TIMELEFT_CAPTION, getResourceText(IDS_TIME_LEFT));
    const wchar_t* estimating = getResourceText(IDS_ESTIMATING);
    if (g_rateText != nullptr) SetWindowTextW(g_rateText, estimating);
    if (g_timeLeftText != nullptr) SetWindowTextW(g_timeLeftText, estimating);
    centerOnWorkArea(window);
    SetTimer(window, PROGRESS_TIMER_ID, 1000, nullptr);
    if (g_osVersion == 4) createTaskbarList(window);
    return 1;
}

INT_PTR onPercent(HWND window, WPARAM percent) {
    if (g_progressBar == nullptr) return 1;
    SendMessageW(g_progressBar, PBM_SETPOS, percent, 0);
    if (g_taskbarList != nullptr && g_osVersion == 4) {
        // The bar clamps a percent above 100 itself; the taskbar is given a full one.
        ULONGLONG completed = percent > 100 ? 100 : percent;
        g_taskbarList->SetProgressValue(window, completed, 100);
    }
    return 0;
}

// The text belongs to this message whatever happens to it.
INT_PTR onText(HWND control, LPARAM lParam) {
    HeapText text(reinterpret_cast<wchar_t*>(lParam));
    if (control == nullptr) return 1;
    if (text) SetWindowTextW(control, text.get());
    return 0;
}

// `quit`: the close ends the run early (the user's Yes, or any close in silent mode that the
// worker did not ask for), so nothing may be handed over afterwards.
void closeWindow(HWND window, bool quit) {
    markClosing(window);
    if (quit) g_quitConfirmed = 1;
    if (g_cancelEvent != nullptr) SetEvent(g_cancelEvent);
    KillTimer(window, PROGRESS_TIMER_ID);
    DestroyWindow(window);  // WM_DESTROY forgets the window and ends the message loop
}

INT_PTR onClose(HWND window, WPARAM wParam) {
    LONG_PTR state = closeState(window);
    if (state == kClosing) return 1;
    if (g_silentMode != 0 || wParam != 0) {
        writeLog(L"[WENVAROTH] MessageBox(%s, %s). Action taken: YES",
                 getResourceText(IDS_QUIT_QUESTION), g_messageCaption);
        closeWindow(window, wParam == 0);
        return 1;
    }
    // A second ordinary close while the question is on screen adds no second question.
    if (state != 0) return 1;
    bool closedMeanwhile = false;
    SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(&closedMeanwhile));
    // The question box keeps dispatching messages: the timer goes on (and reuses the text
    // buffer, hence the copy), and the worker's own close may come in and end the window before
    // the user answers.
    wchar_t question[kResourceTextChars];
    textCopy(question, getResourceText(IDS_QUIT_QUESTION));
    int answer = MessageBoxW(window, question, g_messageCaption, MB_YESNO | MB_ICONQUESTION);
    if (closedMeanwhile) return 1;
    SetWindowLongPtrW(window, DWLP_USER, 0);
    if (answer == IDYES) closeWindow(window, true);
    return 1;
}

// Texts posted but not yet dispatched would be dropped with the window's queue entries and
// never freed.
void freePendingTexts(HWND window) {
    MSG message;
    while (PeekMessageW(&message, window, WM_PROGRESS_RATE, WM_PROGRESS_TIMELEFT,
                        PM_REMOVE | PM_NOYIELD)) {
        free(reinterpret_cast<wchar_t*>(message.lParam));
    }
}

INT_PTR onDestroy(HWND window) {
    markClosing(window);
    KillTimer(window, PROGRESS_TIMER_ID);
    HWND expected = window;
    g_progressWindow.compare_exchange_strong(expected, nullptr);
    freePendingTexts(window);
    PostQuitMessage(0);
    return 0;
}

}  // namespace

POINT centeredPosition(const RECT& window, const RECT& workArea) {
    int width = window.right - window.left;
    int height = window.bottom - window.top;
    POINT at;
    at.x = (workArea.left + workArea.right) / 2 - width / 2;
    if (at.x + width > workArea.right) at.x = workArea.right - width;
    if (at.x < workArea.left) at.x = workArea.left;
    at.y = (workArea.top + workArea.bottom) / 2 - height / 2;
    if (at.y + height > workArea.bottom) at.y = workArea.bottom - height;
    if (at.y < workArea.top) at.y = workArea.top;
    return at;
}

void centerOnWorkArea(HWND window) {
    RECT rect;
    if (!GetWindowRect(window, &rect)) return;
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    if (!GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor)) return;
    POINT at = centeredPosition(rect, monitor.rcWork);
    SetWindowPos(window, nullptr, at.x, at.y, -1, -1, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void releaseTaskbarList() {
    ITaskbarList3* taskbar = g_taskbarList;
    g_taskbarList = nullptr;
    if (taskbar != nullptr) taskbar->Release();
}

namespace {

// The private messages share their numbers with the dialog manager's DM_SETDEFID (WM_USER+1) and
// DM_REPOSITION (WM_USER+2). Reported as handled, with the result in DWLP_MSGRESULT, they never
// reach its default processing, which would take the percent for a default-button id and may
// move the window back on screen every second.
INT_PTR handled(HWND window, LRESULT result) {
    SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
    return TRUE;
}

}  // namespace

INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return onInitDialog(window);
        case WM_TIMER:
            updateProgressDisplay(window, wParam);
            return 0;
        case WM_PROGRESS_PERCENT:
            return handled(window, onPercent(window, wParam));
        case WM_PROGRESS_RATE:
            return handled(window, onText(g_rateText, lParam));
        case WM_PROGRESS_TIMELEFT:
            return handled(window, onText(g_timeLeftText, lParam));
        case WM_PROGRESS_TASKBAR:
            return handled(window, onTaskbarState(window, wParam));
        case WM_CLOSE:
            return onClose(window, wParam);
        case WM_DESTROY:
            return onDestroy(window);
        default:
            return 0;
    }
}
