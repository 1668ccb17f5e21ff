// Pieces of the progress-window tests alone: the run state the window reads, the real dialog
// from the linked resources, and message pumping.
#pragma once

#include "app/mainflow.h"
#include "res/resource.h"
#include "tests/unit/support.h"
#include "ui/progressdialog.h"
#include "ui/progresstext.h"

namespace unit_test {

// What the main flow prepares before the dialog exists, done once for the whole executable.
inline void prepareRunState() {
    static bool prepared = false;
    if (prepared) return;
    prepared = true;
    prepareLocks();
    g_mainThreadId = GetCurrentThreadId();
    g_moduleInstance = GetModuleHandleW(nullptr);
    g_resourceModule = g_moduleInstance;
    loadUnitTexts();
    CoInitialize(nullptr);
}

inline void setProgress(uint32_t received, uint32_t total, double rate) {
    EnterCriticalSection(&g_stateLock);
    g_bytesReceived = received;
    LeaveCriticalSection(&g_stateLock);
    g_bytesTotal = total;
    g_transferRate = rate;
}

inline std::wstring windowText(HWND window) {
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

inline std::wstring controlText(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    return control == nullptr ? L"<missing>" : windowText(control);
}

// Dispatches what is queued for this thread, for about `milliseconds`; true when WM_QUIT came.
inline bool pump(DWORD milliseconds) {
    bool quit = false;
    DWORD start = GetTickCount();
    do {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                quit = true;
                continue;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (milliseconds > 0) MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    } while (GetTickCount() - start < milliseconds);
    return quit;
}

// A fresh dialog per test, with the globals it reads set as the main flow sets them, the log
// captured and a cancel event; everything is gone again after the test.
class DialogTest : public TempFolderTest {
  protected:
    void SetUp() override {
        prepareRunState();
        setProgress(0, 0, 0.0);
        g_silentMode = 0;
        g_osVersion = 1;
        g_closeRequested = 0;
        g_progressWindow = nullptr;
        textCopy(g_productName, L"Example Product");
        textCopy(g_messageCaption, L"Example Maker");
        TempFolderTest::SetUp();
        g_cancelEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ASSERT_NE(g_cancelEvent, nullptr);
    }
    void TearDown() override {
        if (m_dialog != nullptr && IsWindow(m_dialog)) DestroyWindow(m_dialog);
        pump(0);
        releaseTaskbarList();
        CloseHandle(g_cancelEvent);
        g_cancelEvent = nullptr;
        g_progressWindow = nullptr;
        g_closeRequested = 0;
        g_silentMode = 0;
        g_osVersion = 0;
        setProgress(0, 0, 0.0);
        TempFolderTest::TearDown();
    }

    HWND createDialog() {
        m_dialog = CreateDialogParamW(g_moduleInstance, MAKEINTRESOURCEW(IDD_PROGRESS), nullptr,
                                      ProgressDialogProc, 0);
        return m_dialog;
    }
    bool cancelled() const { return WaitForSingleObject(g_cancelEvent, 0) == WAIT_OBJECT_0; }
    // How many log lines hold `part`.
    size_t logCount(const std::string& part) const {
        size_t found = 0;
        for (const std::string& line : logLines()) found += line.find(part) != std::string::npos;
        return found;
    }

    HWND m_dialog = nullptr;
};

constexpr const char* kQuitLine =
    "[WENVAROTH] MessageBox(Are you sure you want to quit?, Example Maker). Action taken: YES";

}  // namespace unit_test
