// The size of a remote resource from its Content-Length header, without reading the body.
// User agent "TalvoDownload"; one WinINet root handle per call.
#pragma once

#include <windows.h>

#include <cstdint>

// 0 and the size on success; 160 for a missing argument (nothing written); otherwise the Win32
// error of the failing step, with *size 0. A size is taken only from a success answer (2xx, after
// redirects): any other answer gives ERROR_HTTP_INVALID_SERVER_RESPONSE, a length that is no
// decimal number up to 2147483647 ERROR_HTTP_INVALID_HEADER. The query runs on a thread of its
// own so that it can be given up: ERROR_INTERNET_TIMEOUT when no answer came within the stall
// bound, ERROR_CANCELLED when the user quit meanwhile.
DWORD queryRemoteSize(const wchar_t* url, int32_t* size);
