// Shared pieces of the progress-window tests: the run state the window reads, the real dialog
// from the linked resources, a log captured in a temporary folder, and message pumping.
#pragma once

#include <gtest/gtest.h>
#include <stdio.h>
#include <wchar.h>

#include <string>

#include "app/runstate.h"
#include "log/log.h"
#include "res/resource.h"
#include "ui/progressdialog.h"
#include "ui/progresstext.h"

namespace ui_test {

// What the main flow prepares before the dialog exists, done once for the whole executable.
inline void prepareRunState() {
    static bool prepared = false;
    if (prepared) return;
    prepared = true;
    InitializeCriticalSection(&g_stateLock);
    InitializeCriticalSection(&g_taskbarLock);
    g_mainThreadId = GetCurrentThreadId();
    g_moduleInstance = GetModuleHandleW(nullptr);
    g_resourceModule = g_moduleInstance;
    struct {
        UINT id;
        wchar_t* target;
    } const texts[] = {{IDS_HOUR, g_textHour},
                       {IDS_HOURS, g_textHours},
                       {IDS_MINUTE, g_textMinute},
                       {IDS_MINUTES, g_textMinutes},
                       {IDS_SECOND, g_textSecond},
                       {IDS_SECONDS, g_textSeconds},
                       {IDS_FORMAT_THREE_UNITS, g_formatThreeUnits},
                       {IDS_FORMAT_TWO_UNITS, g_formatTwoUnits}};
    for (const auto& text : texts) LoadStringW(g_moduleInstance, text.id, text.target, kUnitChars);
    CoInitialize(nullptr);
}

inline void resetProgressState() {
    EnterCriticalSection(&g_stateLock);
    g_bytesReceived = 0;
    LeaveCriticalSection(&g_stateLock);
    g_bytesTotal = 0;
    g_transferRate = 0.0;
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

// A fresh dialog per test, with the globals it reads set as the main flow sets them, a log in a
// temporary folder and a cancel event; everything is gone again after the test.
class DialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        prepareRunState();
        resetProgressState();
        g_silentMode = 0;
        g_osVersion = 1;
        g_closeRequested = 0;
        g_progressWindow = nullptr;
        textCopy(g_productName, L"Example Product");
        textCopy(g_messageCaption, L"Example Maker");
        wchar_t temp[MAX_PATH];
        ASSERT_NE(GetTempPathW(MAX_PATH, temp), 0u);
        static int counter = 0;
        wchar_t name[64];
        swprintf(name, 64, L"wvui_%lu_%d.log", GetCurrentProcessId(), ++counter);
        m_log = std::wstring(temp) + name;
        ASSERT_TRUE(textCopy(g_logPath, m_log.c_str()));
        g_logEnabled = 1;
        openLogFile();
        ASSERT_NE(g_logFile, nullptr);
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
        resetProgressState();
        if (g_logFile != nullptr) fclose(g_logFile);
        g_logFile = nullptr;
        g_logEnabled = 0;
        DeleteFileW(m_log.c_str());
    }

    HWND createDialog() {
        m_dialog = CreateDialogParamW(g_moduleInstance, MAKEINTRESOURCEW(IDD_PROGRESS), nullptr,
                                      ProgressDialogProc, 0);
        return m_dialog;
    }
    bool cancelled() const { return WaitForSingleObject(g_cancelEvent, 0) == WAIT_OBJECT_0; }
    std::string logText() const {
        fflush(g_logFile);
        std::string text;
        FILE* file = _wfopen(m_log.c_str(), L"rb");
        if (file == nullptr) return text;
        char buffer[4096];
        size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
        fclose(file);
        return text;
    }
    static size_t count(const std::string& text, const std::string& part) {
        size_t found = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
            ++found;
        }
        return found;
    }

    HWND m_dialog = nullptr;
    std::wstring m_log;
};

constexpr const char* kQuitLine =
    "[WENVAROTH] MessageBox(Are you sure you want to quit?, Example Maker). Action taken: YES";

}  // namespace ui_test
