#include "base/runstate.h"

HINSTANCE g_moduleInstance = nullptr;
int g_silentMode = 0;
int g_logEnabled = 0;
wchar_t g_logPath[kPathChars] = {};
FILE* g_logFile = nullptr;
wchar_t g_parentProcessPath[kPathChars] = {};
wchar_t g_affiliateTag[kPathChars] = {};
int g_hasAffiliateTag = 0;
CRITICAL_SECTION g_stateLock;
Wow64DisableFsRedirectionFn g_pfnWow64DisableFsRedirection = nullptr;
Wow64RevertFsRedirectionFn g_pfnWow64RevertFsRedirection = nullptr;
BOOL g_isWow64 = FALSE;
BOOL g_isWin64 = FALSE;
wchar_t g_moduleFolder[kPathChars] = {};
HMODULE g_resourceLibrary = nullptr;
HMODULE g_resourceModule = nullptr;
wchar_t g_textHour[kUnitChars] = {};
wchar_t g_textHours[kUnitChars] = {};
wchar_t g_textMinute[kUnitChars] = {};
wchar_t g_textMinutes[kUnitChars] = {};
wchar_t g_textSecond[kUnitChars] = {};
wchar_t g_textSeconds[kUnitChars] = {};
wchar_t g_formatThreeUnits[kUnitChars] = {};
wchar_t g_formatTwoUnits[kUnitChars] = {};
int g_osVersion = 0;
wchar_t g_messageCaption[kNameChars] = {};
wchar_t g_productName[kNameChars] = {};
wchar_t* g_baseUrl = nullptr;
int g_runAborted = 0;
const wchar_t* g_runEnd = nullptr;
HANDLE g_cancelEvent = nullptr;
std::atomic<HWND> g_progressWindow{nullptr};
std::atomic<int> g_closeRequested{0};
HWND g_progressBar = nullptr;
HWND g_rateText = nullptr;
HWND g_timeLeftText = nullptr;
ITaskbarList3* g_taskbarList = nullptr;
std::atomic<int> g_quitConfirmed{0};
TransferWatch g_transferWatch = {};
CRITICAL_SECTION g_watchLock;
HANDLE g_lingeringWatchdog = nullptr;

uint32_t g_bytesReceived = 0;
std::atomic<uint32_t> g_bytesTotal{0};
std::atomic<double> g_transferRate{0.0};

DWORD g_mainThreadId = 0;

const wchar_t* getResourceText(UINT id) {
    // Only two threads ever load texts: the main thread and the download worker.
    static wchar_t mainThreadBuffer[kResourceTextChars];
    static wchar_t workerBuffer[kResourceTextChars];
    wchar_t* buffer = GetCurrentThreadId() == g_mainThreadId ? mainThreadBuffer : workerBuffer;
    HMODULE module = g_resourceModule != nullptr ? g_resourceModule : g_moduleInstance;
    if (LoadStringW(module, id, buffer, static_cast<int>(kResourceTextChars)) <= 0) {
        buffer[0] = L'\0';
    }
    return buffer;
}

void releaseRunState() {
    bool watchdogEnded = g_lingeringWatchdog == nullptr ||
                         WaitForSingleObject(g_lingeringWatchdog, 0) == WAIT_OBJECT_0;
    if (g_cancelEvent != nullptr && watchdogEnded) {
        CloseHandle(g_cancelEvent);
        g_cancelEvent = nullptr;
    }
    free(g_baseUrl);
    g_baseUrl = nullptr;
    if (g_resourceLibrary != nullptr) {
        FreeLibrary(g_resourceLibrary);
        g_resourceLibrary = nullptr;
        g_resourceModule = g_moduleInstance;
    }
    g_logEnabled = 0;
    if (g_logFile != nullptr) {
        fclose(g_logFile);
        g_logFile = nullptr;
    }
    DeleteCriticalSection(&g_stateLock);
    if (watchdogEnded) {
        DeleteCriticalSection(&g_watchLock);
        if (g_lingeringWatchdog != nullptr) CloseHandle(g_lingeringWatchdog);
        g_lingeringWatchdog = nullptr;
    }
}

void endProgram() {
    TerminateProcess(GetCurrentProcess(), 0);
    for (;;) ExitProcess(0);
}
