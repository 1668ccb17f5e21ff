// The modeless progress dialog (template 104) and its private messages.
#pragma once

#include <windows.h>

constexpr UINT WM_PROGRESS_PERCENT = WM_USER + 1;
constexpr UINT WM_PROGRESS_RATE = WM_USER + 2;
constexpr UINT WM_PROGRESS_TIMELEFT = WM_USER + 3;
// Posted by the worker: wParam is the taskbar progress state (TBPF_NORMAL, TBPF_ERROR) to show.
constexpr UINT WM_PROGRESS_TASKBAR = WM_USER + 4;
constexpr UINT_PTR PROGRESS_TIMER_ID = 1;

INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Moves the window to the centre of its monitor's work area, kept inside it.
void centerOnWorkArea(HWND window);
// The top-left corner that centres `window` (screen rectangle) in `workArea`; a window larger
// than the work area is aligned to its left or top edge.
POINT centeredPosition(const RECT& window, const RECT& workArea);

// Forgets g_taskbarList first, then releases the object it held. Main thread only.
void releaseTaskbarList();
