#include "download/remotesize.h"

#include <wininet.h>

#include "base/runstate.h"
#include "download/watch.h"

namespace {

constexpr int kMaxRedirects = 20;
constexpr DWORD kPollMs = 250;

bool isRedirect(DWORD status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

}  // namespace

HINTERNET openFollowingRedirects(HINTERNET root, const wchar_t* url, DWORD flags,
                                 const wchar_t* headers, DWORD* status) {
    wchar_t current[kPathChars];
    if (!textCopy(current, url)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nullptr;
    }
    for (int redirects = 0;; ++redirects) {
        HINTERNET request = InternetOpenUrlW(root, current, headers,
                                             headers != nullptr ? static_cast<DWORD>(-1) : 0,
                                             flags | INTERNET_FLAG_NO_AUTO_REDIRECT, 0);
        if (request == nullptr) return nullptr;
        *status = 0;
        DWORD statusLength = sizeof *status;
        if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, status,
                            &statusLength, nullptr)) {
            *status = 0;
            return request;
        }
        if (!isRedirect(*status)) return request;
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

DWORD readContentLength(HINTERNET request, long long* length) {
    wchar_t text[24];
    DWORD textLength = sizeof text;
    if (!HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, text, &textLength, nullptr)) {
        return GetLastError();
    }
    // Read as text: a length beyond the 32-bit range would come back from the numeric query cut
    // to its low bits, a wrong size taken for a real one.
    const long long kLimit = 1LL << 53;
    long long value = 0;
    const wchar_t* at = text;
    for (; *at >= L'0' && *at <= L'9' && value <= kLimit; ++at) value = value * 10 + (*at - L'0');
    if (at == text || *at != L'\0' || value > kLimit) return ERROR_HTTP_INVALID_HEADER;
    *length = value;
    return 0;
}

namespace {

// One size query, shared by the caller and the thread that makes it: the caller may stop waiting
// (a stall, a quit) while the thread is still blocked in the platform, so the last of the two to
// let go frees it. Whoever takes `root` first closes it.
struct SizeQuery {
    LONG owners;
    HANDLE answered;
    HINTERNET root;
    DWORD status;
    int32_t size;
    wchar_t url[kPathChars];
};

void letGo(SizeQuery* query) {
    if (InterlockedDecrement(&query->owners) != 0) return;
    CloseHandle(query->answered);
    free(query);
}

void closeRoot(SizeQuery* query) {
    HINTERNET root = static_cast<HINTERNET>(InterlockedExchangePointer(&query->root, nullptr));
    if (root != nullptr) InternetCloseHandle(root);
}

DWORD WINAPI sizeQueryThread(LPVOID parameter) {
    SizeQuery* query = static_cast<SizeQuery*>(parameter);
    DWORD status = 0;
    HINTERNET request = openFollowingRedirects(query->root, query->url, 0, nullptr, &status);
    if (request == nullptr || status == 0) {
        query->status = GetLastError();
    } else if (status < 200 || status > 299) {
        // An error answer's length is its error page's: the resource's size stays unknown.
        query->status = ERROR_HTTP_INVALID_SERVER_RESPONSE;
    } else {
        long long length = 0;
        query->status = readContentLength(request, &length);
        if (query->status == 0 && length > INT32_MAX) query->status = ERROR_HTTP_INVALID_HEADER;
        if (query->status == 0) query->size = static_cast<int32_t>(length);
    }
    // The answer is known once the headers are: the caller goes on at once. Closing the request
    // may take as long as the whole body (Wine reads it to the end first), which must neither
    // delay the run nor count against the stall bound while the body keeps coming.
    SetEvent(query->answered);
    if (request != nullptr) InternetCloseHandle(request);
    closeRoot(query);
    letGo(query);
    return 0;
}

}  // namespace

DWORD queryRemoteSize(const wchar_t* url, int32_t* size) {
    if (url == nullptr || size == nullptr) return ERROR_BAD_ARGUMENTS;
    *size = 0;
    SizeQuery* query = static_cast<SizeQuery*>(calloc(1, sizeof(SizeQuery)));
    if (query == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    if (!textCopy(query->url, url)) {
        free(query);
        return ERROR_INSUFFICIENT_BUFFER;
    }
    query->owners = 2;
    query->answered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    query->root =
        InternetOpenW(L"TalvoDownload", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    DWORD status = query->answered == nullptr || query->root == nullptr ? GetLastError() : 0;
    HANDLE thread = nullptr;
    if (status == 0) {
        thread = CreateThread(nullptr, 0, sizeQueryThread, query, 0, nullptr);
        if (thread == nullptr) status = GetLastError();
    }
    if (thread == nullptr) {
        closeRoot(query);
        if (query->answered != nullptr) CloseHandle(query->answered);
        free(query);
        return status;
    }
    CloseHandle(thread);
    // The query reads no body, so the whole exchange counts as one wait for bytes.
    status = awaitWithinStallBound(query->answered);
    if (status == 0) {
        status = query->status;
        *size = query->size;
    } else {
        // Closing the root handle ends the blocked request on Windows; where the platform does
        // not (Wine), the thread is left to its wait and frees the query if it ever returns.
        closeRoot(query);
        WaitForSingleObject(query->answered, kPollMs);
    }
    letGo(query);
    return status;
}
