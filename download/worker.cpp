#include "download/worker.h"

#include <msi.h>
#include <shlwapi.h>
#include <urlmon.h>
#include <wininet.h>

#include <map>
#include <string>
#include <vector>

#include "base/ownedhandle.h"
#include "base/runstate.h"
#include "download/kitfolder.h"
#include "download/kitlist.h"
#include "download/localfile.h"
#include "download/prerequisites.h"
#include "download/progress.h"
#include "download/safename.h"
#include "download/url.h"
#include "log/log.h"
#include "res/resource.h"
#include "sys/runcommand.h"
#include "sys/systemlibrary.h"
#include "ui/progressdialog.h"

namespace {

const wchar_t kFailedFileFormat[] = L"[WENVAROTH] MessageBox(%s, %s) ";
const wchar_t kFailedListFormat[] = L"[WENVAROTH] MessageBox(%s, %s)";

// The dialog makes the taskbar call on its own thread; without a window there is nothing to show.
void postTaskbarState(TBPFLAG state) {
    HWND window = g_progressWindow.load();
    if (window != nullptr) PostMessageW(window, WM_PROGRESS_TASKBAR, state, 0);
}

// The one place where the end of the worker's steps becomes what the user learns. A failure that
// follows the user's own quit is not reported to them: the window is gone, and the failure is
// most likely the quit's own doing.
void finishRun(Step result, const wchar_t* silentFormat) {
    if (result == Step::Completed) return;
    g_runAborted = 1;
    if (result == Step::Cancelled) return;
    if (quitConfirmed()) {
        quitStep();
        return;
    }
    postTaskbarState(TBPF_ERROR);
    const wchar_t* text =
        getResourceText(result == Step::Unwritable ? IDS_FOLDER_NOT_WRITABLE : IDS_DOWNLOAD_FAILED);
    if (g_silentMode) {
        writeLog(silentFormat, text, g_messageCaption);
    } else {
        MessageBoxW(g_progressWindow.load(), text, g_messageCaption, MB_OK | MB_ICONERROR);
    }
}

// Whether the kit folder holds setup.exe as a file.
bool kitHoldsSetup() {
    wchar_t path[kPathChars];
    if (!textCopy(path, g_kitFolder.path()) || !pathJoin(path, L"setup.exe")) return false;
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Fetches and reads the kit list. A list that can't be read or parsed, or whose first token is
// no product code, is an error page or a cut transfer the fetch could not see (a cache hit, a
// log-in page answered with 200): the run is given up like a failed transfer.
Step takeKitList(wchar_t* kitProductCode, std::map<WideString, KitListEntry>* kitEntries) {
    KitListCopy list;
    Step fetched = fetchKitList(&list);
    if (fetched != Step::Completed) return fetched;
    return readKitList(list, kitProductCode, kitEntries) == 0 ? Step::Completed : Step::Failed;
}

// The installed-product check: Cancelled when the run ends here (declined, or silent).
Step askAboutInstalledProduct(const wchar_t* kitProductCode) {
    writeLog(L"[WENVAROTH] The product code is: %s", kitProductCode);
    int32_t state = queryProductState(kitProductCode);
    writeLog(L"[WENVAROTH] Product %s installstate: %d", kitProductCode, state);
    if (productMissing(state)) return Step::Completed;
    const wchar_t* text = getResourceText(IDS_ALREADY_INSTALLED);
    g_runEnd = L"declined: the product is installed";
    if (g_silentMode) {
        writeLog(L"[WENVAROTH] MessageBox(%s, %s). Silent Action taken: NO", text,
                 g_messageCaption);
        return Step::Cancelled;
    }
    int answer =
        MessageBoxW(g_progressWindow.load(), text, g_messageCaption, MB_YESNO | MB_ICONQUESTION);
    if (quitConfirmed()) return quitStep();
    if (answer == IDNO) return Step::Cancelled;
    g_runEnd = nullptr;
    return Step::Completed;
}

// Queues the kit files the kit list names; Failed (logged) when a manifest entry could reach
// outside the kit folder or memory for a copy is missing.
Step queueKitFiles(const std::map<WideString, KitListEntry>& kitEntries,
                   std::vector<QueuedFile>* queue) {
    for (DownloadableFile& entry : g_downloadableFiles) {
        if (!entry.name) continue;
        auto found = kitEntries.find(entry.name.get());
        if (found == kitEntries.end()) {
            writeLog(L"[WENVAROTH] Not in the kit list, not downloaded: %s", entry.name.get());
            continue;
        }
        if (!isSafePathSegment(entry.name.get()) ||
            (entry.relativePath && !isSafeRelativePath(entry.relativePath.get()))) {
            writeLog(L"[WENVAROTH] Refusing file %s in %s", entry.name.get(),
                     entry.relativePath ? entry.relativePath.get() : L"");
            return Step::Failed;
        }
        entry.size = found->second.size;
        QueuedFile copy;
        copy.expectedBytes = promisedLength(entry.size);
        // A size that can't be real adds nothing: a negative one would lower the total.
        if (copy.expectedBytes > 0) g_bytesTotal += static_cast<uint32_t>(copy.expectedBytes);
        if (!copyDownloadableFile(entry, &copy.file)) {
            writeLog(L"[WENVAROTH] Out of memory queueing %s", entry.name.get());
            return Step::Failed;
        }
        queue->push_back(std::move(copy));
    }
    return Step::Completed;
}

// The platform reports S_OK for an HTTP error answer and for a body cut short (Wine): such a
// file must never reach the kit's installer. False (logged) when the cached file is not whole.
bool arrivedWhole(const QueuedFile& queued, const CBindStatusCallbackImpl& callback,
                  const wchar_t* url, long long received) {
    if (!callback.httpStatusAcceptable()) {
        writeLog(L"[WENVAROTH] The server answered %lu for %s", callback.m_httpStatus, url);
        return false;
    }
    if (!receivedWhole(received, queued.expectedBytes, callback.m_lastProgressMax)) {
        long long expected = queued.expectedBytes >= 0
                                 ? queued.expectedBytes
                                 : static_cast<long long>(callback.m_lastProgressMax);
        writeLog(L"[WENVAROTH] Received %I64d bytes of %s, expected %I64d", received, url,
                 expected);
        return false;
    }
    return true;
}

// Transfers one queued file into the kit folder, and runs it when it is marked so.
Step transferFile(const QueuedFile& queued) {
    const DownloadableFile& record = queued.file;
    if (quitConfirmed()) return quitStep();
    wchar_t url[kPathChars];
    if (!composeFileUrl(record, url)) return Step::Failed;

    TransferCallback callback(g_cancelEvent);
    if (callback.get() == nullptr) return Step::Failed;
    writeLog(L"[WENVAROTH] Downloading: %s (size %d)", url, record.size);
    wchar_t cacheFile[kPathChars] = {};
    WatchEnd ended = WatchEnd::Ended;
    HRESULT result = watchedTransfer(url, cacheFile, callback.get(), &ended);
    bool quit = ended == WatchEnd::Quit || callback->m_aborted != 0 || quitConfirmed();
    // Opened before its size is checked, and kept from writers until it is copied: the cache
    // folder is the user's, so only then are the bytes checked the bytes copied.
    OwnedHandle cached;
    LARGE_INTEGER cachedBytes = {};
    if (result == S_OK && !quit) {
        cached.reset(openCachedFile(cacheFile));
        if (!cached.valid() || !GetFileSizeEx(cached.get(), &cachedBytes)) {
            result = INET_E_DOWNLOAD_FAILURE;
        }
    }
    if (result == S_OK && !quit &&
        !arrivedWhole(queued, *callback.get(), url, cachedBytes.QuadPart)) {
        cached.reset();
        // Gone from the URL cache, so that a second run fetches it again rather than reusing it.
        DeleteUrlCacheEntryW(url);
        result = INET_E_DOWNLOAD_FAILURE;
    }
    if (result != S_OK) {
        writeLog(L"[WENVAROTH] Cannot download file %s. Error :%lu", url,
                 static_cast<unsigned long>(result));
    }
    // The user chose to quit: telling them the download had a problem would blame the network
    // for their own choice.
    if (quit) return quitStep();
    if (result != S_OK) return Step::Failed;

    wchar_t folder[kPathChars];
    wchar_t destination[kPathChars];
    if (!g_kitFolder.makeFolder(record.relativePath.get(), folder)) return Step::Failed;
    if (!textCopy(destination, folder) || !pathJoin(destination, record.name.get())) {
        writeLog(
            L"[WENVAROTH] Destination path too long for %s: %s\\%s is %u characters, at "
            L"most %u fit",
            record.name.get(), folder, record.name.get(),
            static_cast<unsigned>(wcslen(folder) + 1 + wcslen(record.name.get())),
            static_cast<unsigned>(kPathChars - 1));
        return Step::Failed;
    }
    writeLog(L"[WENVAROTH] Copying %s to %s", cacheFile, destination);
    if (!g_kitFolder.copyIn(cached.get(), cachedBytes.QuadPart, cacheFile, destination)) {
        return Step::Failed;
    }
    cached.reset();
    if (record.autorun) {
        // Started by path: only while that path still leads into the folder held.
        if (!g_kitFolder.stillAtItsPath()) return Step::Failed;
        wchar_t commandLine[kPathChars];
        textCopy(commandLine, destination);
        RunCommand(destination, commandLine, folder);
        g_kitFolder.removeFile(destination);
    }
    // A quit during the copy or the autorun program stops the run before anything else happens.
    return quitConfirmed() ? quitStep() : Step::Completed;
}

}  // namespace

Step quitStep() {
    writeLog(L"[WENVAROTH] Download canceled!");
    g_runEnd = L"cancelled by the user";
    return Step::Cancelled;
}

long long promisedLength(int32_t size) { return size > 0 && size != INT32_MAX ? size : -1; }

bool receivedWhole(long long received, long long expected, unsigned long long announced) {
    if (received < 0) return false;
    if (expected >= 0) return received == expected;
    return announced == 0 || static_cast<unsigned long long>(received) == announced;
}

bool productMissing(int32_t state) { return state == -1 || state == 1 || state == -2; }

const wchar_t* installStateMeaning(int32_t state) {
    switch (state) {
        case -2:
            return L"not a product code";
        case -1:
            return L"not installed";
        case 1:
            return L"advertised, not installed";
        case 2:
            return L"installed for another user";
        case 5:
            return L"installed";
        default:
            return L"a broken or unreadable installation, taken as installed";
    }
}

HRESULT watchedTransfer(const wchar_t* url, wchar_t* cacheFile, CBindStatusCallbackImpl* callback,
                        WatchEnd* ended) {
    watchBegin();
    HRESULT result = URLDownloadToCacheFileW(nullptr, url, cacheFile, kPathChars, 0, callback);
    *ended = watchEnd();
    // A transfer that completed as the watchdog gave up on it is kept: its bytes are checked.
    if (*ended == WatchEnd::Stalled && result != S_OK) {
        writeLog(L"[WENVAROTH] Nothing received for %lu s from %s", stallBoundMs() / 1000, url);
        result = INET_E_CONNECTION_TIMEOUT;
    }
    return result;
}

void closeProgressWindow() {
    // The request is recorded before the window is looked at, and the dialog publishes its window
    // before it looks at the request: whichever comes second sees the other, so it is never lost.
    g_closeRequested = 1;
    HWND window = g_progressWindow.exchange(nullptr);
    if (window != nullptr) SendMessageW(window, WM_CLOSE, 1, 0);
}

int32_t queryProductState(const wchar_t* productCode) {
    // Windows Installer's library is no known system library: imported, a planted copy beside the
    // executable would be loaded into this elevated process at start-up.
    typedef INSTALLSTATE(WINAPI * QueryProductStateFn)(LPCWSTR);
    HMODULE msi = loadSystemLibrary(L"msi.dll");
    if (msi == nullptr) return INSTALLSTATE_UNKNOWN;
    auto query = reinterpret_cast<QueryProductStateFn>(
        reinterpret_cast<void*>(GetProcAddress(msi, "MsiQueryProductStateW")));
    int32_t state =
        query != nullptr ? static_cast<int32_t>(query(productCode)) : INSTALLSTATE_UNKNOWN;
    FreeLibrary(msi);
    return state;
}

DWORD WINAPI downloadWorker(LPVOID) {
    g_cancelEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // The watchdog uses the transfer's binding from its own thread: both live in the
    // multithreaded apartment, where an interface pointer is valid on every thread.
    HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    Watchdog watchdog;
    std::vector<QueuedFile> downloadQueue;
    std::map<WideString, KitListEntry> kitEntries;
    wchar_t kitProductCode[kKitProductCodeChars] = {};
    const wchar_t* failureFormat = kFailedListFormat;
    // The step under way, for the run's last log line when it fails.
    const wchar_t* step = L"failed: the kit list";

    Step result =
        startWatchdog(&watchdog) ? takeKitList(kitProductCode, &kitEntries) : Step::Failed;
    if (result == Step::Completed) {
        failureFormat = kFailedFileFormat;
        step = L"failed: the manifest's kit files";
        result = askAboutInstalledProduct(kitProductCode);
    }
    if (result == Step::Completed) result = queueKitFiles(kitEntries, &downloadQueue);
    if (result == Step::Completed) {
        step = L"failed: the prerequisites";
        result = queuePrerequisites(&downloadQueue);
    }
    if (result == Step::Completed) {
        step = L"failed: the kit folder";
        result = g_kitFolder.make() ? Step::Completed : Step::Failed;
    }
    if (result == Step::Completed) {
        step = L"failed: a transfer";
        postTaskbarState(TBPF_NORMAL);
        // Outlives the queue: the main thread writes it as the run's last line.
        static wchar_t failedTransfer[kPathChars];
        for (const QueuedFile& queued : downloadQueue) {
            result = transferFile(queued);
            if (result == Step::Completed) continue;
            if (textFormat(failedTransfer, kPathChars, L"failed: the transfer of %s",
                           queued.file.name.get())) {
                step = failedTransfer;
            }
            break;
        }
    }
    // Autorun programs may have made it, so only now: a kit without setup.exe cannot be handed
    // over, and without this check the window would reach 100 % and vanish without a word.
    if (result == Step::Completed && !quitConfirmed() && !kitHoldsSetup()) {
        step = L"failed: no setup.exe in the kit";
        writeLog(L"[WENVAROTH] The kit folder %s holds no setup.exe", g_kitFolder.path());
        result = Step::Failed;
    }
    // A quit with nothing (left) to transfer still means no hand-over.
    if (result == Step::Completed && quitConfirmed()) result = quitStep();
    if ((result == Step::Failed || result == Step::Unwritable) && g_runEnd == nullptr) {
        g_runEnd = step;
    }
    stopWatchdog(&watchdog);
    finishRun(result, failureFormat);
    if (SUCCEEDED(com)) CoUninitialize();
    closeProgressWindow();
    return 0;
}
