#include "app/mainflow.h"

#include <shlobj.h>
#include <shlwapi.h>

#include "app/options.h"
#include "app/osversion.h"
#include "base/runstate.h"
#include "download/worker.h"
#include "log/log.h"
#include "manifest/manifest.h"
#include "manifest/xmlpatch.h"
#include "res/resource.h"
#include "sys/parentprocess.h"
#include "sys/removetree.h"
#include "sys/runcommand.h"
#include "ui/progressdialog.h"

namespace {

constexpr ULONGLONG kRequiredFreeBytes = 838860800ULL;  // 800 MiB
constexpr ULONGLONG kMiB = 1048576ULL;

// A message of the main flow: a message box, or in silent mode its log line.
void reportMessage(const wchar_t* text, UINT icon) {
    if (g_silentMode) {
        writeLog(L"[WENVAROTH] MessageBox(%s, %s)", text, g_messageCaption);
    } else {
        MessageBoxW(nullptr, text, g_messageCaption, MB_OK | icon);
    }
}

void takeOptions() {
    GuardedString commandLine = GetParrentProcessCmdLine();
    OptionMap options = parseOptions(WideString(commandLine.c_str()));
    auto log = options.find(L"log");
    if (log != options.end()) {
        g_logEnabled = 1;
        const wchar_t* path = log->second.empty() ? L"downloaderlog.txt" : log->second.c_str();
        // A path that does not fit cannot be opened as given: logging stays off rather than
        // writing to a cut-off name.
        if (!textCopy(g_logPath, path)) g_logEnabled = 0;
        openLogFile();
    }
    if (options.count(L"silent") != 0) {
        writeLog(L"[WENVAROTH] is Silent Install");
        g_silentMode = 1;
    }
}

void learnParent() {
    DWORD parentId = getParentProcessId();
    writeLog(L"[WENVAROTH] Parent process name: %s with pid %d", g_parentProcessPath, parentId);
    g_hasAffiliateTag = takeAffiliateTag(g_parentProcessPath, g_affiliateTag, kPathChars) ? 1 : 0;
}

void prepareWow64Helpers() {
    HMODULE kernel = GetModuleHandleW(L"kernel32");
    g_pfnWow64DisableFsRedirection = reinterpret_cast<Wow64DisableFsRedirectionFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "Wow64DisableWow64FsRedirection")));
    g_pfnWow64RevertFsRedirection = reinterpret_cast<Wow64RevertFsRedirectionFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "Wow64RevertWow64FsRedirection")));
}

void learnModuleFolder() {
    wchar_t path[kPathChars] = {};
    DWORD length = GetModuleFileNameW(nullptr, path, kPathChars);
    if (length == 0 || length >= kPathChars) {
        g_moduleFolder[0] = L'\0';
        return;
    }
    PathRemoveFileSpecW(path);
    if (!textCopy(g_moduleFolder, path) || !pathJoin(g_moduleFolder, L""))
        g_moduleFolder[0] = L'\0';
}

void learnWow64() {
    g_isWow64 = isWow64Process(GetCurrentProcess());
    g_isWin64 = sizeof(void*) == 8 || g_isWow64;
}

void loadResourceLibrary() {
    wchar_t path[kPathChars];
    g_resourceLibrary = nullptr;
    if (textCopy(path, g_moduleFolder) && pathJoin(path, L"wenvaroth.ui")) {
        // As data only: the library is a string table and no code of it ever runs.
        g_resourceLibrary = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    }
    g_resourceModule = g_resourceLibrary != nullptr ? g_resourceLibrary : g_moduleInstance;
}

}  // namespace

void loadUnitTexts() {
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
    for (const auto& text : texts) {
        // A text too long for its place falls back to the executable's own, which fits.
        if (!textCopy(text.target, kUnitChars, getResourceText(text.id)) &&
            LoadStringW(g_moduleInstance, text.id, text.target, static_cast<int>(kUnitChars)) <=
                0) {
            text.target[0] = L'\0';
        }
    }
}

namespace {

void loadManifestBesideExecutable() {
    wchar_t path[kPathChars];
    if (textCopy(path, g_moduleFolder) && pathJoin(path, L"locations.xml")) loadManifest(path);
}

// The operating-system check: false when the run must stop here.
bool checkOperatingSystem() {
    g_osVersion = detectOsVersion();
    writeLog(
        L"[SETUP] OS Version (0 - unknown, 1 - XP, 2 - VISTA no sp, 3 - VISTA with sp, 4 - Win 7): "
        L"%d",
        g_osVersion);
    if (g_osVersion != 0) return true;
    wchar_t message[1024];
    textFormat(message, 1024, getResourceText(IDS_UNSUPPORTED_OS), g_productName);
    reportMessage(message, MB_ICONERROR);
    return false;
}

// The free-space check on the system drive: false when the run must stop here.
bool checkFreeSpace() {
    wchar_t root[kPathChars] = {};
    if (!SHGetSpecialFolderPathW(nullptr, root, CSIDL_SYSTEM, FALSE)) root[0] = L'\0';
    PathStripToRootW(root);
    ULARGE_INTEGER available = {};
    unsigned shortfall = 0;
    if (!GetDiskFreeSpaceExW(root, &available, nullptr, nullptr)) {
        // Nothing known about the drive: the run goes on, and a real shortage shows up as a
        // failed copy later rather than as a made-up number now.
        writeLog(L"[WENVAROTH] Cannot read the free space of %s (%d)", root, GetLastError());
        return true;
    }
    if (hasEnoughSpace(available.QuadPart, &shortfall)) return true;
    wchar_t message[150];
    if (!textFormat(message, 150, getResourceText(IDS_NOT_ENOUGH_SPACE), root, shortfall)) {
        // The user must still learn why nothing happens: the executable's own text fits.
        wchar_t format[150];
        LoadStringW(g_moduleInstance, IDS_NOT_ENOUGH_SPACE, format, 150);
        textFormat(message, 150, format, root, shortfall);
    }
    reportMessage(message, 0);
    return false;
}

// The download: the worker and the dialog side by side until both have ended.
void runDownload() {
    HANDLE worker = CreateThread(nullptr, 0, downloadWorker, nullptr, 0, nullptr);
    if (worker == nullptr) {
        // Nobody would ever close the dialog: give the run up before showing anything.
        writeLog(L"[WENVAROTH] Cannot start the download (%d)", GetLastError());
        g_runAborted = 1;
        return;
    }
    HRESULT com = CoInitialize(nullptr);
    HWND dialog = CreateDialogParamW(g_moduleInstance, MAKEINTRESOURCEW(IDD_PROGRESS), nullptr,
                                     ProgressDialogProc, 0);
    if (dialog == nullptr) {
        // Without a window nobody could quit and the worker's close request has nowhere to go:
        // cancel the download (the worker makes its cancel event first thing, so keep signalling
        // until it exists) and let the worker end on its own. A silent run shows nothing anyway,
        // and unattended installs are where no window can be made (no desktop): it goes on
        // without one, every wait of the download being bounded.
        writeLog(L"[WENVAROTH] Cannot create the progress window (%d)", GetLastError());
        while (!g_silentMode && WaitForSingleObject(worker, 100) == WAIT_TIMEOUT) {
            if (g_cancelEvent != nullptr) SetEvent(g_cancelEvent);
        }
    } else {
        if (g_silentMode) {
            writeLog(L"[WENVAROTH] HIDE WINDOW");
            ShowWindow(dialog, SW_HIDE);
        } else {
            ShowWindow(dialog, SW_SHOWNORMAL);
        }
        MSG message;
        for (;;) {
            BOOL got = GetMessageW(&message, nullptr, 0, 0);
            if (got == 0) break;
            if (got == -1) {
                writeLog(L"[WENVAROTH] ERROR LOOP");
                break;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        writeLog(L"[WENVAROTH] DESTROY WINDOW DONE");
    }
    releaseTaskbarList();
    if (SUCCEEDED(com)) CoUninitialize();
    WaitForSingleObject(worker, INFINITE);
    CloseHandle(worker);
    if (dialog == nullptr && !g_silentMode) g_runAborted = 1;
}

// The hand-over: patch, copy "contacts.xml", run "setup.exe" and wait for it.
void handOver() {
    wchar_t setupCommandLine[kPathChars];
    wchar_t setupXml[kPathChars];
    if (!textCopy(setupCommandLine, g_kitFolder) || !pathJoin(setupCommandLine, L"setup.exe") ||
        !textCopy(setupXml, g_kitFolder) || !pathJoin(setupXml, L"setup.xml")) {
        writeLog(L"[WENVAROTH] Kit folder path too long: %s", g_kitFolder);
        return;
    }
    if (g_hasAffiliateTag) appendAffiliatePatch(g_affiliateTag);
    applyXmlPatches(setupXml);

    wchar_t contactsSource[kPathChars];
    wchar_t contactsTarget[kPathChars];
    if (textCopy(contactsSource, g_moduleFolder) && pathJoin(contactsSource, L"contacts.xml") &&
        textCopy(contactsTarget, g_kitFolder) && pathJoin(contactsTarget, L"contacts.xml")) {
        writeLog(L"[WENVAROTH] Copying file %s to %s", contactsSource, contactsTarget);
        if (!CopyFileW(contactsSource, contactsTarget, FALSE)) {
            writeLog(L"[WENVAROTH] Copy file %s to %s error (%d)", contactsSource, contactsTarget,
                     GetLastError());
        }
    }

    // The whole command line must fit, or setup.exe would get a cut-off parent path.
    bool fits = (!g_silentMode || textAppend(setupCommandLine, L" /silent")) &&
                textAppend(setupCommandLine, L" /parent_process:\"") &&
                textAppend(setupCommandLine, g_parentProcessPath) &&
                textAppend(setupCommandLine, L"\"");
    if (!fits) {
        writeLog(L"[WENVAROTH] setupCommandLine too long, setup not started");
        return;
    }
    writeLog(L"[WENVAROTH] setupCommandLine(%s)", setupCommandLine);
    RunCommand(setupCommandLine, g_kitFolder);
}

}  // namespace

bool takeAffiliateTag(const wchar_t* parentPath, wchar_t* tag, size_t capacity) {
    if (tag == nullptr || capacity == 0) return false;
    tag[0] = L'\0';
    wchar_t name[kPathChars];
    if (parentPath == nullptr || !textCopy(name, parentPath)) return false;
    PathStripPathW(name);
    wchar_t* open = wcschr(name, L'[');
    if (open == nullptr) return false;
    wchar_t* close = wcschr(open + 1, L']');
    if (close == nullptr) return false;
    *close = L'\0';
    return textCopy(tag, capacity, open + 1);
}

bool hasEnoughSpace(ULONGLONG available, unsigned* shortfallMiB) {
    if (available >= kRequiredFreeBytes) return true;
    // Rounded up: "Please free 0 MB" would ask for nothing while refusing to go on.
    ULONGLONG missing = kRequiredFreeBytes - available;
    if (shortfallMiB != nullptr) *shortfallMiB = static_cast<unsigned>((missing + kMiB - 1) / kMiB);
    return false;
}

int runMain(HINSTANCE instance) {
    g_moduleInstance = instance;
    g_mainThreadId = GetCurrentThreadId();
    g_resourceModule = instance;
    takeOptions();
    learnParent();
    InitializeCriticalSection(&g_stateLock);
    InitializeCriticalSection(&g_watchLock);
    prepareWow64Helpers();
    learnModuleFolder();
    learnWow64();
    loadResourceLibrary();
    loadUnitTexts();
    loadManifestBesideExecutable();
    if (checkOperatingSystem() && checkFreeSpace()) {
        runDownload();
        // The user's quit wins even when it came after the worker's last step.
        if (g_runAborted == 0 && g_quitConfirmed == 0) handOver();
        removeFolderTree(g_kitFolder);
    }
    releaseRunState();
    return 0;
}
