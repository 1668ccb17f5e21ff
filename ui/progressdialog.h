// The modeless progress dialog (template 104) and its private messages.
#pragma once

#include <windows.h>

constexpr UINT WM_PROGRESS_PERCENT = WM_USER + 1;
constexpr UINT WM_PROGRESS_RATE = WM_USER + 2;
constexpr UINT WM_PROGRESS_TIMELEFT = WM_USER + 3;
constexpr UINT_PTR PROGRESS_TIMER_ID = 1;

INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void centerOnWorkArea(HWND window);
void releaseTaskbarList();
