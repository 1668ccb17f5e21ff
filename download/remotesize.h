// The size of a remote resource from its Content-Length header, without reading the body.
// User agent "TalvoDownload"; one WinINet root handle per call.
#pragma once

#include <windows.h>

#include <cstdint>

// 0 and the size on success; 160 for a missing argument (nothing written); otherwise the Win32
// error of the failing step, with *size 0.
DWORD queryRemoteSize(const wchar_t* url, int32_t* size);
