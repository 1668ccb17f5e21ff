// The size of a remote resource from its Content-Length header, without reading the body.
// User agent "TalvoDownload"; one WinINet root handle per call.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>

// 0 and the size on success; 160 for a missing argument (nothing written); otherwise the Win32
// error of the failing step, with *size 0. A size is taken only from a success answer (2xx, after
// redirects): any other answer gives ERROR_HTTP_INVALID_SERVER_RESPONSE, a length that is no
// decimal number up to 2147483647 ERROR_HTTP_INVALID_HEADER. The query runs on a thread of its
// own so that it can be given up: ERROR_INTERNET_TIMEOUT when no answer came within the stall
// bound, ERROR_CANCELLED when the user quit meanwhile.
DWORD queryRemoteSize(const wchar_t* url, int32_t* size);

// Opens `url` on `root` with `flags` and the request `headers` (null: none), following redirects
// by hand and at most 20 of them: the platform's own following has no bound, and a server that
// redirects to itself would hold the run for ever. Null, with the last error set, on failure.
// `*status` receives the last answer's status, 0 when it has none (not HTTP), the last error then
// being the failed status query's.
HINTERNET openFollowingRedirects(HINTERNET root, const wchar_t* url, DWORD flags,
                                 const wchar_t* headers, DWORD* status);

// The answer's Content-Length: 0 and the length; the platform's error when there is none;
// ERROR_HTTP_INVALID_HEADER for one that is no decimal number up to 2^53.
DWORD readContentLength(HINTERNET request, long long* length);
