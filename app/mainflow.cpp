#include "app/mainflow.h"

#include <commctrl.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "app/options.h"
#include "app/osversion.h"
#include "base/devicename.h"
#include "base/ownedhandle.h"
#include "base/runstate.h"
#include "download/kitfolder.h"
#include "download/localfile.h"
#include "download/worker.h"
#include "log/log.h"
#include "manifest/manifest.h"
#include "manifest/xmlpatch.h"
#include "res/resource.h"
#include "sys/parentprocess.h"
#include "sys/runcommand.h"
#include "sys/systemlibrary.h"
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
        // writing to a cut-off name. Nor does this elevated process write to a device the
        // parent names in place of a file.
        if (!textCopy(g_logPath, path) || !isPlainFilePath(g_logPath)) g_logEnabled = 0;
        openLogFile(getParentProcessId());
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

// False, with the user told, when the executable's own folder is not known (its path does not
// fit): every file of the run would then be looked up by bare name in whatever folder is current
// or on the library search path, so nothing is read, loaded or written at all.
bool learnModuleFolder() {
    wchar_t path[kPathChars] = {};
    DWORD length = GetModuleFileNameW(nullptr, path, kPathChars);
    if (length != 0 && length < kPathChars && PathRemoveFileSpecW(path) &&
        textCopy(g_moduleFolder, path) && pathJoin(g_moduleFolder, L"")) {
        return true;
    }
    g_moduleFolder[0] = L'\0';
    writeLog(L"[WENVAROTH] The program's own folder is not known (%d)", GetLastError());
    reportMessage(getResourceText(IDS_UNKNOWN_FOLDER), MB_ICONERROR);
    return false;
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

// Moves `*text` past its next conversion ("%s", "%5.2lf", ...) and gives that conversion's
// characters (length 0 for one the text breaks off in); false when none is left. "%%" is a
// literal.
bool nextConversion(const wchar_t** text, const wchar_t** conversion, size_t* length) {
    const wchar_t* at = *text;
    for (;;) {
        at = wcschr(at, L'%');
        if (at == nullptr) return false;
        if (at[1] != L'%') break;
        at += 2;
    }
    const wchar_t* end = at + 1;
    while (*end != L'\0' && wcschr(L"-+ #0123456789.*hlLIwjzt", *end) != nullptr) ++end;
    *conversion = at;
    *length = *end == L'\0' ? 0 : static_cast<size_t>(end + 1 - at);
    *text = *end == L'\0' ? end : end + 1;
    return true;
}

}  // namespace

bool sameConversions(const wchar_t* text, const wchar_t* reference) {
    if (text == nullptr || reference == nullptr) return false;
    for (;;) {
        const wchar_t* textAt = nullptr;
        const wchar_t* referenceAt = nullptr;
        size_t textLength = 0, referenceLength = 0;
        bool more = nextConversion(&text, &textAt, &textLength);
        if (more != nextConversion(&reference, &referenceAt, &referenceLength)) return false;
        if (!more) return true;
        if (textLength == 0 || textLength != referenceLength ||
            wcsncmp(textAt, referenceAt, textLength) != 0) {
            return false;
        }
    }
}

bool loadResourceFormat(UINT id, wchar_t* format, size_t capacity) {
    wchar_t own[kResourceTextChars];
    if (LoadStringW(g_moduleInstance, id, own, static_cast<int>(kResourceTextChars)) <= 0) {
        own[0] = L'\0';
    }
    const wchar_t* text = getResourceText(id);
    if (!sameConversions(text, own)) {
        writeLog(
            L"[WENVAROTH] Text %u of the resource library does not take the program's "
            L"values; the program's own text is used",
            id);
        text = own;
    }
    // A text too long for its place falls back to the executable's own, which fits.
    return textCopy(format, capacity, text) || textCopy(format, capacity, own);
}

void loadUnitTexts() {
    struct {
        UINT id;
        wchar_t* target;
    } const texts[] = {{IDS_HOUR, g_textHour},     {IDS_HOURS, g_textHours},
                       {IDS_MINUTE, g_textMinute}, {IDS_MINUTES, g_textMinutes},
                       {IDS_SECOND, g_textSecond}, {IDS_SECONDS, g_textSeconds}};
    for (const auto& text : texts) {
        // A text too long for its place falls back to the executable's own, which fits.
        if (!textCopy(text.target, kUnitChars, getResourceText(text.id)) &&
            LoadStringW(g_moduleInstance, text.id, text.target, static_cast<int>(kUnitChars)) <=
                0) {
            text.target[0] = L'\0';
        }
    }
    loadResourceFormat(IDS_FORMAT_THREE_UNITS, g_formatThreeUnits, kUnitChars);
    loadResourceFormat(IDS_FORMAT_TWO_UNITS, g_formatTwoUnits, kUnitChars);
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
    wchar_t format[kResourceTextChars];
    wchar_t message[1024];
    loadResourceFormat(IDS_UNSUPPORTED_OS, format, kResourceTextChars);
    textFormat(message, 1024, format, g_productName);
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
    wchar_t format[kResourceTextChars];
    wchar_t message[150];
    loadResourceFormat(IDS_NOT_ENOUGH_SPACE, format, kResourceTextChars);
    if (!textFormat(message, 150, format, root, shortfall)) {
        // The user must still learn why nothing happens: the executable's own text fits.
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
    // Windows XP creates the visual-style progress bar only once its class has been registered
    // this way; later systems would load it on demand.
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
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

// The patched setup.xml, written through the kit folder's own handle: it replaces only the file
// this run wrote there.
bool writeIntoKit(const wchar_t* path, const void* bytes, size_t size) {
    OwnedHandle file(g_kitFolder.createFile(path));
    DWORD written = 0;
    return file.valid() && size <= MAXDWORD &&
           WriteFile(file.get(), bytes, static_cast<DWORD>(size), &written, nullptr) &&
           written == size;
}

// contacts.xml beside the program, opened once as a plain file and copied through that handle
// into the kit folder; a missing or refused one is logged and the hand-over goes on.
void copyContacts() {
    wchar_t source[kPathChars];
    wchar_t target[kPathChars];
    if (!textCopy(source, g_moduleFolder) || !pathJoin(source, L"contacts.xml") ||
        !textCopy(target, g_kitFolder.path()) || !pathJoin(target, L"contacts.xml")) {
        return;
    }
    writeLog(L"[WENVAROTH] Copying file %s to %s", source, target);
    long long bytes = 0;
    OwnedHandle contacts(openPlainFile(source, &bytes));
    if (!contacts.valid()) {
        writeLog(L"[WENVAROTH] Copy file %s to %s error (%d)", source, target, GetLastError());
        return;
    }
    g_kitFolder.copyIn(contacts.get(), bytes, source, target);
}

// The hand-over: patch, copy "contacts.xml", run "setup.exe" and wait for it; g_runEnd then says
// how it went.
void handOver() {
    static wchar_t ended[64];
    g_runEnd = L"failed: setup.exe not started";
    const wchar_t* kitFolder = g_kitFolder.path();
    wchar_t setupProgram[kPathChars];
    wchar_t setupCommandLine[kPathChars];
    wchar_t setupXml[kPathChars];
    if (!textCopy(setupProgram, kitFolder) || !pathJoin(setupProgram, L"setup.exe") ||
        !textCopy(setupCommandLine, setupProgram) || !textCopy(setupXml, kitFolder) ||
        !pathJoin(setupXml, L"setup.xml")) {
        writeLog(L"[WENVAROTH] Kit folder path too long: %s", kitFolder);
        return;
    }
    // Everything below goes by the folder's path: only while it still names the folder held.
    if (!g_kitFolder.stillAtItsPath()) return;
    if (g_hasAffiliateTag) appendAffiliatePatch(g_affiliateTag);
    applyXmlPatches(setupXml, writeIntoKit);
    copyContacts();

    // The whole command line must fit, or setup.exe would get a cut-off parent path.
    bool fits = (!g_silentMode || textAppend(setupCommandLine, L" /silent")) &&
                textAppend(setupCommandLine, L" /parent_process:\"") &&
                textAppend(setupCommandLine, g_parentProcessPath) &&
                textAppend(setupCommandLine, L"\"");
    if (!fits) {
        writeLog(L"[WENVAROTH] setupCommandLine too long, setup not started");
        return;
    }
    if (!g_kitFolder.stillAtItsPath()) return;
    writeLog(L"[WENVAROTH] setupCommandLine(%s)", setupCommandLine);
    DWORD exitCode = 0;
    if (RunCommand(setupProgram, setupCommandLine, kitFolder, &exitCode) != 0 &&
        textFormat(ended, 64, L"handed over; setup.exe exited with code %lu",
                   static_cast<unsigned long>(exitCode))) {
        g_runEnd = ended;
    }
}

}  // namespace

bool isPlainFilePath(const wchar_t* path) {
    auto slash = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    // "\\.\", "\\?\" and "\??\" lead past the path rules straight to devices and raw disks.
    if (slash(path[0]) && (slash(path[1]) || path[1] == L'?') &&
        (path[2] == L'.' || path[2] == L'?') && slash(path[3])) {
        return false;
    }
    const wchar_t* leaf = path[0] != L'\0' && path[1] == L':' ? path + 2 : path;
    for (const wchar_t* at = leaf; *at != L'\0'; ++at) {
        if (slash(*at)) leaf = at + 1;
    }
    return !isDeviceName(leaf, wcslen(leaf));
}

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
    limitLibrarySearch();
    g_moduleInstance = instance;
    g_mainThreadId = GetCurrentThreadId();
    g_resourceModule = instance;
    takeOptions();
    learnParent();
    InitializeCriticalSection(&g_stateLock);
    InitializeCriticalSection(&g_watchLock);
    prepareWow64Helpers();
    if (learnModuleFolder()) {
        learnWow64();
        loadResourceLibrary();
        loadUnitTexts();
        loadManifestBesideExecutable();
        if (!checkOperatingSystem()) {
            g_runEnd = L"refused: the operating system";
        } else if (!checkFreeSpace()) {
            g_runEnd = L"refused: not enough free space";
        } else {
            runDownload();
            // The user's quit wins even when it came after the worker's last step.
            if (g_runAborted == 0 && g_quitConfirmed == 0) {
                handOver();
            } else if (g_runEnd == nullptr) {
                g_runEnd = g_quitConfirmed != 0 ? L"cancelled by the user"
                                                : L"failed: the progress window";
            }
            g_kitFolder.remove();
        }
        // The log's last line says how the run ended.
        if (g_runEnd != nullptr) writeLog(L"[WENVAROTH] Run ended: %s", g_runEnd);
    }
    releaseRunState();
    return 0;
}
