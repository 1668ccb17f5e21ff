#include "download/remotesize.h"

#include <wininet.h>

DWORD queryRemoteSize(const wchar_t* url, int32_t* size) {
    if (url == nullptr || size == nullptr) return ERROR_BAD_ARGUMENTS;
    *size = 0;
    HINTERNET root =
        InternetOpenW(L"TalvoDownload", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (root == nullptr) return GetLastError();
    HINTERNET request = InternetOpenUrlW(root, url, nullptr, 0, 0, 0);
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
