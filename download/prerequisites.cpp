#include "download/prerequisites.h"

#include <msi.h>
#include <wininet.h>

#include "base/runstate.h"
#include "download/remotesize.h"
#include "download/safename.h"
#include "download/url.h"
#include "download/watch.h"
#include "sys/systemlibrary.h"
#include "log/log.h"
#include "manifest/manifest.h"

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

Step queuePrerequisites(std::vector<QueuedFile>* queue) {
    for (const Dependency& dependency : g_dependencies) {
        const wchar_t* fileName = dependency.fileName.get();
        if (dependency.osFilter != OS_FILTER_ALL && dependency.osFilter != g_osVersion) {
            writeLog(L"[WENVAROTH] Prerequisite %s skipped: it is for os %s, this system is %d",
                     fileName, osFilterName(dependency.osFilter), g_osVersion);
            continue;
        }
        const wchar_t* productCode = dependency.productCode ? dependency.productCode.get() : L"";
        int32_t state = queryProductState(productCode);
        writeLog(L"[WENVAROTH] Product %s installstate: %d", productCode, state);
        if (!productMissing(state)) {
            writeLog(L"[WENVAROTH] Prerequisite %s skipped: install state %d, %s", fileName, state,
                     installStateMeaning(state));
            continue;
        }

        if (!isSafePathSegment(fileName)) {
            writeLog(L"[WENVAROTH] Refusing prerequisite file name %s", fileName ? fileName : L"");
            return Step::Failed;
        }
        if (g_baseUrl == nullptr || g_baseUrl[0] == L'\0') {
            writeLog(L"[WENVAROTH] The manifest names no download address");
            return Step::Failed;
        }
        wchar_t url[kPathChars];
        if (!textCopy(url, g_baseUrl) || !appendUrlSegment(url, L"dependencies") ||
            !appendUrlSegment(url, fileName)) {
            writeLog(L"[WENVAROTH] Download address too long for %s", fileName);
            return Step::Failed;
        }
        // Any failure, an answer that did not come within the stall bound included, only leaves
        // the size unknown: the transfer has a bound of its own and checks its own length.
        int32_t size = 0;
        DWORD sizeStatus = queryRemoteSize(url, &size);
        if (sizeStatus == ERROR_CANCELLED) return quitStep();
        if (sizeStatus == ERROR_INTERNET_TIMEOUT) {
            writeLog(L"[WENVAROTH] Nothing received for %lu s from %s", stallBoundMs() / 1000, url);
        }

        QueuedFile entry;
        entry.file.name.reset(newTextCopy(fileName));
        entry.file.relativePath.reset(newTextCopy(L"dependencies"));
        entry.file.autorun = false;
        entry.file.size = size;
        entry.expectedBytes = promisedLength(size);
        if (!entry.file.name || !entry.file.relativePath) {
            writeLog(L"[WENVAROTH] Out of memory queueing %s", fileName);
            return Step::Failed;
        }
        if (entry.expectedBytes > 0) g_bytesTotal += static_cast<uint32_t>(entry.expectedBytes);
        queue->push_back(std::move(entry));
    }
    return Step::Completed;
}
