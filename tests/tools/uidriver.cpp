// Plays the user in front of the progress window, from outside the program under test.
//
//   uidriver find TITLE MS          waits for a dialog titled TITLE; prints "visible=0|1",
//                                   "rect=L,T,R,B" (screen) and "control ID=TEXT" for each
//                                   control
//   uidriver close TITLE            asks the dialog to close as its title-bar button does
//   uidriver answer CAPTION BUTTON MS
//                                   waits for a visible message box titled CAPTION that has BUTTON
//                                   (yes, no or ok), prints "text=..." and presses the button
//   uidriver watch MS               waits for any visible top-level window; prints
//                                   "window=TITLE|TEXT" (TEXT: a message box's)
//
// Every wait is bounded by MS milliseconds. Exit code 0 on success, 1 on a time-out or a missing
// window, 2 on a usage error.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

struct Search {
    const wchar_t* title;
    int button;  // 0: any dialog with the title; else a visible one holding this button
    HWND found;
};

BOOL CALLBACK matchWindow(HWND window, LPARAM data) {
    Search* search = reinterpret_cast<Search*>(data);
    wchar_t className[64] = {};
    wchar_t title[512] = {};
    GetClassNameW(window, className, 64);
    GetWindowTextW(window, title, 512);
    if (search->title == nullptr) {
        if (!IsWindowVisible(window)) return TRUE;
    } else if (wcscmp(className, L"#32770") != 0 || wcscmp(title, search->title) != 0) {
        return TRUE;
    }
    if (search->button != 0 &&
        (!IsWindowVisible(window) || GetDlgItem(window, search->button) == nullptr)) {
        return TRUE;
    }
    search->found = window;
    return FALSE;
}

HWND findDialog(const wchar_t* title, int button) {
    Search search = {title, button, nullptr};
    EnumWindows(matchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND waitForDialog(const wchar_t* title, int button, DWORD milliseconds) {
    DWORD start = GetTickCount();
    for (;;) {
        HWND found = findDialog(title, button);
        if (found != nullptr || GetTickCount() - start >= milliseconds) return found;
        Sleep(50);
    }
}

// Text of another process's window: WM_GETTEXT with a time-out, so a hung program cannot hang
// the driver.
std::wstring textOf(HWND window) {
    wchar_t text[512] = {};
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                        2000, &result);
    text[511] = L'\0';
    return text;
}

BOOL CALLBACK printControl(HWND control, LPARAM) {
    wprintf(L"control %d=%ls\n", static_cast<int>(GetDlgCtrlID(control)), textOf(control).c_str());
    return TRUE;
}

int find(const wchar_t* title, DWORD milliseconds) {
    HWND dialog = waitForDialog(title, 0, milliseconds);
    if (dialog == nullptr) return 1;
    RECT rect = {};
    GetWindowRect(dialog, &rect);
    wprintf(L"visible=%d\nrect=%ld,%ld,%ld,%ld\n", IsWindowVisible(dialog) ? 1 : 0, rect.left,
            rect.top, rect.right, rect.bottom);
    EnumChildWindows(dialog, printControl, 0);
    return 0;
}

int close(const wchar_t* title) {
    HWND dialog = findDialog(title, 0);
    if (dialog == nullptr || !PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0)) return 1;
    return 0;
}

int answer(const wchar_t* caption, const wchar_t* buttonName, DWORD milliseconds) {
    int button = _wcsicmp(buttonName, L"yes") == 0  ? IDYES
                 : _wcsicmp(buttonName, L"no") == 0 ? IDNO
                 : _wcsicmp(buttonName, L"ok") == 0 ? IDOK
                                                    : 0;
    if (button == 0) return 2;
    HWND box = waitForDialog(caption, button, milliseconds);
    if (box == nullptr) return 1;
    // The message text is the static control with id 0xFFFF.
    HWND text = GetDlgItem(box, 0xFFFF);
    wprintf(L"text=%ls\n", text != nullptr ? textOf(text).c_str() : L"");
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
    return 0;
}

int watch(DWORD milliseconds) {
    HWND window = waitForDialog(nullptr, 0, milliseconds);
    if (window == nullptr) return 1;
    HWND text = GetDlgItem(window, 0xFFFF);
    wprintf(L"window=%ls|%ls\n", textOf(window).c_str(), text ? textOf(text).c_str() : L"");
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    int code = 2;
    if (argc == 4 && wcscmp(argv[1], L"find") == 0) {
        code = find(argv[2], wcstoul(argv[3], nullptr, 10));
    } else if (argc == 3 && wcscmp(argv[1], L"close") == 0) {
        code = close(argv[2]);
    } else if (argc == 5 && wcscmp(argv[1], L"answer") == 0) {
        code = answer(argv[2], argv[3], wcstoul(argv[4], nullptr, 10));
    } else if (argc == 3 && wcscmp(argv[1], L"watch") == 0) {
        code = watch(wcstoul(argv[2], nullptr, 10));
    }
    if (code == 2) fwprintf(stderr, L"usage: see the top of uidriver.cpp\n");
    fflush(stdout);
    return code;
}
