#include "download/kitlist.h"

#include <vector>

#include "base/runstate.h"
#include "base/text.h"
#include "download/localfile.h"
#include "download/url.h"
#include "download/watch.h"
#include "log/log.h"

namespace {

constexpr long kMaxKitListBytes = 1L << 20;

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
    // From the answer itself, into memory: the list decides what is checked, so no byte of it may
    // come from a file another program can write. A list over the cap is read no further.
    ConnectionTarget target;
    target.kept = &list->bytes;
    target.keepLimit = static_cast<size_t>(kMaxKitListBytes);
    HRESULT transfer = readFromConnection(url, -1, target);
    DWORD size = static_cast<DWORD>(list->bytes.size());
    DWORD written = 0;
    if (SUCCEEDED(transfer) && size > 0 &&
        (!WriteFile(list->file.get(), list->bytes.data(), size, &written, nullptr) ||
         written != size)) {
        writeLog(L"[WENVAROTH] Cannot write local file %s (%d)", list->path, GetLastError());
        transfer = INET_E_DOWNLOAD_FAILURE;
    }
    if (transfer == E_ABORT || quitConfirmed()) return quitStep();
    if (FAILED(transfer)) {
        writeLog(L"[WENVAROTH] Cannot download file. Error :%lu",
                 static_cast<unsigned long>(transfer));
        return Step::Failed;
    }
    return Step::Completed;
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
