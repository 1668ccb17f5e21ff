#include "download/worker.h"

#include <shlwapi.h>

#include <map>
#include <string>
#include <vector>

#include "base/ownedhandle.h"
#include "base/runstate.h"
#include "download/kitfolder.h"
#include "download/kitlist.h"
#include "download/prerequisites.h"
#include "download/safename.h"
#include "download/transfer.h"
#include "log/log.h"
#include "res/resource.h"
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
        if (isFileDigest(found->second.checksum)) {
            copy.digest = found->second.checksum;
        } else {
            // Nothing could tell another program's bytes from the server's in a cache file.
            writeLog(L"[WENVAROTH] No checksum for %s: taken from the connection",
                     entry.name.get());
        }
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

}  // namespace

void closeProgressWindow() {
    // The request is recorded before the window is looked at, and the dialog publishes its window
    // before it looks at the request: whichever comes second sees the other, so it is never lost.
    g_closeRequested = 1;
    HWND window = g_progressWindow.exchange(nullptr);
    if (window != nullptr) SendMessageW(window, WM_CLOSE, 1, 0);
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
