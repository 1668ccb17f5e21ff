#include "download/kitlist.h"

#include <vector>

#include "base/runstate.h"
#include "base/text.h"
#include "download/localfile.h"
#include "download/progress.h"
#include "download/url.h"
#include "download/watch.h"
#include "log/log.h"

namespace {

constexpr long kMaxKitListBytes = 1L << 20;

// Copies the transferred list from the URL cache through the file made beside the executable,
// keeping its first bytes for the reading.
bool copyKitList(const wchar_t* cacheFile, KitListCopy* list) {
    OwnedHandle cached(openCachedFile(cacheFile));
    long long copied = 0;
    if (!cached.valid()) return false;
    if (!copyFileBytes(cached.get(), list->file.get(), &copied, &list->bytes,
                       static_cast<size_t>(kMaxKitListBytes))) {
        writeLog(L"[WENVAROTH] Cannot write local file %s (%d)", list->path, GetLastError());
        return false;
    }
    return true;
}

}  // namespace

Step fetchKitList(KitListCopy* list) {
    wchar_t* localPath = list->path;
    localPath[0] = L'\0';
    if (!textCopy(localPath, kPathChars, g_moduleFolder) ||
        !pathJoin(localPath, kPathChars, L"kitmd5.dat")) {
        writeLog(L"[WENVAROTH] Cannot create local file %skitmd5.dat (path too long)",
                 g_moduleFolder);
        localPath[0] = L'\0';
        return Step::Failed;
    }
    // The copy beside the executable lies in a folder other programs write to. A link planted
    // under its name would make this elevated process overwrite the link's target, so the old
    // name is removed first (that removes a link, never its target) and the file is made anew;
    // it is then written only through the handle made here, which nobody else may write, rename
    // or delete through until the list has been read.
    DeleteFileW(localPath);
    list->file.reset(createNewFile(localPath));
    if (!list->file.valid()) {
        writeLog(L"[WENVAROTH] Cannot create local file %s", localPath);
        return Step::Unwritable;
    }

    if (g_baseUrl == nullptr || g_baseUrl[0] == L'\0') {
        writeLog(L"[WENVAROTH] The manifest names no download address");
        return Step::Failed;
    }
    wchar_t url[kPathChars];
    if (!textCopy(url, g_baseUrl) || !appendUrlSegment(url, L"kitmd5.dat")) {
        writeLog(L"[WENVAROTH] Download address too long: %s", g_baseUrl);
        return Step::Failed;
    }
    writeLog(L"[WENVAROTH] Downloading kitmd5.dat file from: %s; to: %s", url, localPath);
    // The callback counts nothing: it sees the HTTP status and the announced length, so that an
    // error page or a cut body is not read as the kit list, and it lets the user's quit through.
    TransferCallback status(g_cancelEvent, false);
    if (status.get() == nullptr) return Step::Failed;
    WatchEnd ended = WatchEnd::Ended;
    wchar_t cacheFile[kPathChars] = {};
    HRESULT transfer = watchedTransfer(url, cacheFile, status.get(), &ended);
    if (transfer == S_OK && !status->httpStatusAcceptable()) {
        writeLog(L"[WENVAROTH] The server answered %lu for %s", status->m_httpStatus, url);
        transfer = INET_E_DOWNLOAD_FAILURE;
    } else if (transfer == S_OK && status->m_lastProgressMax != 0 &&
               status->m_lastProgress != status->m_lastProgressMax) {
        writeLog(L"[WENVAROTH] Received %lu of %lu bytes from %s", status->m_lastProgress,
                 status->m_lastProgressMax, url);
        transfer = INET_E_DOWNLOAD_FAILURE;
    } else if (transfer == S_OK && !copyKitList(cacheFile, list)) {
        transfer = INET_E_DOWNLOAD_FAILURE;
    }
    if (transfer != S_OK) {
        writeLog(L"[WENVAROTH] Cannot download file. Error :%lu",
                 static_cast<unsigned long>(transfer));
    }
    if (ended == WatchEnd::Quit || status->m_aborted || quitConfirmed()) return quitStep();
    return transfer == S_OK ? Step::Completed : Step::Failed;
}

int readKitList(const KitListCopy& list, wchar_t* productCode,
                std::map<WideString, KitListEntry>* entries) {
    if (productCode == nullptr || entries == nullptr) return ERROR_BAD_ARGUMENTS;
    const std::vector<unsigned char>& content = list.bytes;
    WideString code;
    // Binary: the parser treats carriage returns as white space itself.
    KitListReport report;
    if (content.size() > static_cast<size_t>(kMaxKitListBytes)) report.problem = L"over 1 MiB";
    int status = report.problem != nullptr ? KITLIST_MALFORMED
                                           : parseKitListReporting(content.data(), content.size(),
                                                                   &code, entries, &report);
    const wchar_t* localPath = list.path;
    if (report.byteOrderMark) {
        writeLog(L"[WENVAROTH] The kit list %s starts with a UTF-8 byte order mark, skipped",
                 localPath);
    }
    if (report.problem != nullptr) {
        writeLog(L"[WENVAROTH] The kit list %s, line %u: %s", localPath,
                 static_cast<unsigned>(report.line), report.problem);
    }
    if (status == KITLIST_OK && !isProductCode(code)) {
        writeLog(L"[WENVAROTH] The kit list %s names no product code", localPath);
        status = KITLIST_MALFORMED;
    }
    if (status != KITLIST_OK) {
        entries->clear();
        productCode[0] = L'\0';
        writeLog(L"[WENVAROTH] The kit list %s is malformed", localPath);
        return KITLIST_MALFORMED;
    }
    // At most 39 characters (the parser's limit), so it always fits.
    textCopy(productCode, kKitProductCodeChars, code.c_str());
    return 0;
}
