#include "download/worker.h"

#include <msi.h>
#include <shlwapi.h>
#include <urlmon.h>

#include <map>
#include <string>
#include <vector>

#include "base/runstate.h"
#include "download/kitlist.h"
#include "download/prerequisites.h"
#include "download/progress.h"
#include "download/safename.h"
#include "download/url.h"
#include "log/log.h"
#include "res/resource.h"
#include "sys/runcommand.h"

namespace {

const wchar_t kFailedFileFormat[] = L"[WENVAROTH] MessageBox(%s, %s) ";
const wchar_t kFailedListFormat[] = L"[WENVAROTH] MessageBox(%s, %s)";

// Every use of the taskbar object is under g_taskbarLock, so it never overlaps the main
// thread's release of it.
void setTaskbarState(TBPFLAG state) {
    EnterCriticalSection(&g_taskbarLock);
    if (g_taskbarList != nullptr && g_osVersion == 4) {
        g_taskbarList->SetProgressState(g_progressWindow.load(), state);
    }
    LeaveCriticalSection(&g_taskbarLock);
}

void reportTransferFailure(const wchar_t* silentFormat) {
    g_runAborted = 1;
    setTaskbarState(TBPF_ERROR);
    const wchar_t* text = getResourceText(IDS_DOWNLOAD_FAILED);
    if (g_silentMode) {
        writeLog(silentFormat, text, g_messageCaption);
    } else {
        MessageBoxW(g_progressWindow.load(), text, g_messageCaption, MB_OK | MB_ICONERROR);
    }
}

// The size of a file on disk, or -1 when it can't be read.
long long fileSize(const wchar_t* path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The installed-product check: false when the run ends here (declined, or silent).
bool askAboutInstalledProduct(const wchar_t* kitProductCode) {
    writeLog(L"[WENVAROTH] The product code is: %s", kitProductCode);
    if (kitProductCode[0] == L'\0') {
        // Windows Installer answers "invalid argument" (-2) for an empty code, which the plain
        // rule would count as installed: the user would be told so when nothing is known.
        writeLog(L"[WENVAROTH] No product code in the kit list; installed check skipped");
        return true;
    }
    int32_t state = queryProductState(kitProductCode);
    writeLog(L"[WENVAROTH] Product %s installstate: %d", kitProductCode, state);
    if (state == -1 || state == 1) return true;
    const wchar_t* text = getResourceText(IDS_ALREADY_INSTALLED);
    if (g_silentMode) {
        writeLog(L"[WENVAROTH] MessageBox(%s, %s). Silent Action taken: NO", text,
                 g_messageCaption);
        return false;
    }
    return MessageBoxW(g_progressWindow.load(), text, g_messageCaption,
                       MB_YESNO | MB_ICONQUESTION) != IDNO;
}

// Queues the kit files the kit list names; false (logged) when a manifest entry could reach outside
// the kit folder or memory for a copy is missing.
bool queueKitFiles(const std::map<WideString, int32_t>& kitSizes, std::vector<QueuedFile>* queue) {
    for (DownloadableFile& entry : g_downloadableFiles) {
        if (!entry.name) continue;
        auto found = kitSizes.find(entry.name.get());
        if (found == kitSizes.end()) continue;
        if (!isSafePathSegment(entry.name.get()) ||
            (entry.relativePath && !isSafeRelativePath(entry.relativePath.get()))) {
            writeLog(L"[WENVAROTH] Refusing file %s in %s", entry.name.get(),
                     entry.relativePath ? entry.relativePath.get() : L"");
            return false;
        }
        entry.size = found->second;
        g_bytesTotal += static_cast<uint32_t>(entry.size);
        QueuedFile copy;
        if (!copyDownloadableFile(entry, &copy.file)) {
            writeLog(L"[WENVAROTH] Out of memory queueing %s", entry.name.get());
            return false;
        }
        copy.sizeKnown = true;
        queue->push_back(std::move(copy));
    }
    return true;
}

enum class TransferOutcome { Done, Failed, Cancelled };

// Transfers one queued file into the kit folder, and runs it when it is marked so.
TransferOutcome transferFile(const QueuedFile& queued) {
    const DownloadableFile& record = queued.file;
    wchar_t url[kPathChars];
    if (!composeFileUrl(record, url)) return TransferOutcome::Failed;

    CBindStatusCallbackImpl callback(g_cancelEvent);
    writeLog(L"[WENVAROTH] Downloading: %s (size %d)", url, record.size);
    wchar_t cacheFile[kPathChars] = {};
    HRESULT result = URLDownloadToCacheFileW(nullptr, url, cacheFile, kPathChars, 0, &callback);
    if (result == S_OK && callback.m_aborted == 0) {
        // The platform reports S_OK for an HTTP error answer and for a body cut short (Wine):
        // such a file must never reach the kit's installer.
        long long received = fileSize(cacheFile);
        if (!callback.httpStatusAcceptable()) {
            writeLog(L"[WENVAROTH] The server answered %lu for %s", callback.m_httpStatus, url);
            result = INET_E_DOWNLOAD_FAILURE;
        } else if (queued.sizeKnown ? received != static_cast<long long>(record.size)
                                    : (received < 0 || (callback.m_lastProgressMax != 0 &&
                                                        received != callback.m_lastProgressMax))) {
            writeLog(L"[WENVAROTH] Received %I64d bytes of %s, expected %I64d", received, url,
                     queued.sizeKnown ? static_cast<long long>(record.size)
                                      : static_cast<long long>(callback.m_lastProgressMax));
            result = INET_E_DOWNLOAD_FAILURE;
        }
    }
    if (result != S_OK && callback.m_aborted) {
        // The user chose to quit, and the platform ended the transfer with the abort the callback
        // asked for: telling them the download had a problem would blame the network for their
        // own choice.
        writeLog(L"[WENVAROTH] Cannot download file %s. Error :%lu", url,
                 static_cast<unsigned long>(result));
        writeLog(L"[WENVAROTH] Download canceled!");
        g_runAborted = 1;
        return TransferOutcome::Cancelled;
    }
    if (result != S_OK) {
        writeLog(L"[WENVAROTH] Cannot download file %s. Error :%lu", url,
                 static_cast<unsigned long>(result));
        reportTransferFailure(kFailedFileFormat);
        return TransferOutcome::Failed;
    }
    if (callback.m_aborted) {
        writeLog(L"[WENVAROTH] Download canceled!");
        g_runAborted = 1;
        return TransferOutcome::Cancelled;
    }

    wchar_t folder[kPathChars];
    wchar_t destination[kPathChars];
    if (!textCopy(folder, g_kitFolder) ||
        (record.relativePath && !pathJoin(folder, record.relativePath.get())) ||
        !textCopy(destination, folder) || !pathJoin(destination, record.name.get())) {
        writeLog(L"[WENVAROTH] Destination path too long for %s", record.name.get());
        reportTransferFailure(kFailedFileFormat);
        return TransferOutcome::Failed;
    }
    if (record.relativePath) CreateDirectoryW(folder, nullptr);
    writeLog(L"[WENVAROTH] Copying %s to %s", cacheFile, destination);
    CopyFileW(cacheFile, destination, FALSE);
    if (record.autorun) {
        wchar_t commandLine[kPathChars];
        textCopy(commandLine, destination);
        RunCommand(destination, commandLine, folder);
        DeleteFileW(destination);
    }
    return TransferOutcome::Done;
}

}  // namespace

void closeProgressWindow() {
    // The request is recorded before the window is looked at, and the dialog publishes its window
    // before it looks at the request: whichever comes second sees the other, so it is never lost.
    g_closeRequested = 1;
    HWND window = g_progressWindow.exchange(nullptr);
    if (window != nullptr) SendMessageW(window, WM_CLOSE, 1, 0);
}

int32_t queryProductState(const wchar_t* productCode) {
    return static_cast<int32_t>(MsiQueryProductStateW(productCode));
}

bool makeKitFolder(const wchar_t* tempOverride) {
    wchar_t temp[kPathChars] = {};
    if (tempOverride != nullptr) {
        if (!textCopy(temp, tempOverride)) temp[0] = L'\0';
    } else {
        DWORD length = ExpandEnvironmentStringsW(L"%temp%", temp, kPathChars);
        if (length == 0 || length > kPathChars) temp[0] = L'\0';
    }
    // An unexpanded or relative "%temp%" would put the kit folder somewhere unknown.
    if (temp[0] == L'\0' || PathIsRelativeW(temp)) {
        writeLog(L"[WENVAROTH] No usable temporary folder (%s)", temp);
        return false;
    }
    for (int n = 1; n <= 99; ++n) {
        // The candidate is built apart from g_kitFolder, which only ever receives a folder
        // made here: the main flow removes g_kitFolder as a whole at the end.
        wchar_t leaf[20];
        wchar_t candidate[kPathChars];
        textFormat(leaf, 20, L"%s%02d", L"talvotempdir", n);
        if (!textCopy(candidate, temp) || !pathJoin(candidate, leaf)) break;
        if (CreateDirectoryW(candidate, nullptr)) {
            textCopy(g_kitFolder, candidate);
            return true;
        }
    }
    writeLog(L"[WENVAROTH] Cannot create a kit folder under %s", temp);
    return false;
}

DWORD WINAPI downloadWorker(LPVOID) {
    g_cancelEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::vector<QueuedFile> downloadQueue;
    std::map<WideString, int32_t> kitSizes;
    wchar_t kitProductCode[kKitProductCodeChars] = {};
    wchar_t localPath[kPathChars] = {};
    HRESULT fetchResult = S_OK;

    bool go = true;
    switch (fetchKitList(localPath, &fetchResult)) {
        case KitListFetch::Fetched:
            break;
        case KitListFetch::NotWritable:
            g_runAborted = 1;
            go = false;
            break;
        case KitListFetch::TransferFailed:
        case KitListFetch::NoAddress:
            reportTransferFailure(kFailedListFormat);
            go = false;
            break;
    }
    // A kit list that can't be parsed is an error page or a cut transfer the checks above could
    // not see (a cache hit, say): the run is given up like a failed transfer.
    if (go && readKitList(localPath, kitProductCode, &kitSizes) == KITLIST_MALFORMED) {
        reportTransferFailure(kFailedListFormat);
        go = false;
    }
    if (go && !askAboutInstalledProduct(kitProductCode)) {
        g_runAborted = 1;
        go = false;
    }
    if (go && (!queueKitFiles(kitSizes, &downloadQueue) || !queuePrerequisites(&downloadQueue))) {
        reportTransferFailure(kFailedFileFormat);
        go = false;
    }
    if (go && !makeKitFolder()) {
        reportTransferFailure(kFailedFileFormat);
        go = false;
    }
    if (go) {
        setTaskbarState(TBPF_NORMAL);
        for (const QueuedFile& queued : downloadQueue) {
            if (transferFile(queued) != TransferOutcome::Done) break;
        }
    }
    closeProgressWindow();
    return 0;
}
