#include "download/remotesize.h"

#include <wininet.h>

#include "base/runstate.h"

namespace {

constexpr int kMaxRedirects = 20;

bool isRedirect(DWORD status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Opens `url`, following redirects by hand and at most kMaxRedirects of them: the platform's
// own following has no bound here, and a server that redirects to itself would hold the run for
// ever. Null, with the last error set, on failure.
HINTERNET openFollowingRedirects(HINTERNET root, const wchar_t* url) {
    wchar_t current[kPathChars];
    if (!textCopy(current, url)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nullptr;
    }
    for (int redirects = 0;; ++redirects) {
        HINTERNET request =
            InternetOpenUrlW(root, current, nullptr, 0, INTERNET_FLAG_NO_AUTO_REDIRECT, 0);
        if (request == nullptr) return nullptr;
        DWORD status = 0;
        DWORD statusLength = sizeof status;
        if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                            &statusLength, nullptr) ||
            !isRedirect(status)) {
            return request;
        }
        wchar_t location[kPathChars];
        DWORD locationLength = sizeof location;
        wchar_t next[kPathChars];
        DWORD nextLength = kPathChars;
        bool follow =
            redirects < kMaxRedirects &&
            HttpQueryInfoW(request, HTTP_QUERY_LOCATION, location, &locationLength, nullptr) &&
            InternetCombineUrlW(current, location, next, &nextLength, 0) && textCopy(current, next);
        InternetCloseHandle(request);
        if (!follow) {
            SetLastError(ERROR_HTTP_REDIRECT_FAILED);
            return nullptr;
        }
    }
}

}  // namespace

DWORD queryRemoteSize(const wchar_t* url, int32_t* size) {
    if (url == nullptr || size == nullptr) return ERROR_BAD_ARGUMENTS;
    *size = 0;
    HINTERNET root =
        InternetOpenW(L"TalvoDownload", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (root == nullptr) return GetLastError();
    HINTERNET request = openFollowingRedirects(root, url);
    if (request == nullptr) {
        DWORD error = GetLastError();
        InternetCloseHandle(root);
        return error;
    }
    DWORD length = 0;
    DWORD bufferLength = sizeof length;
    DWORD status = 0;
    if (HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length,
                       &bufferLength, nullptr) == TRUE) {
        *size = static_cast<int32_t>(length);
    } else {
        status = GetLastError();
    }
    InternetCloseHandle(request);
    InternetCloseHandle(root);
    return status;
}
