// The kit list "kitmd5.dat": its URL, its fetch beside the executable and its reading
// into the kit's product code and the map of kit file sizes. The token parsing itself is
// download/kitlistparse.h.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>

#include "download/kitlistparse.h"
#include "download/worker.h"

constexpr size_t kKitProductCodeChars = 100;

// Fetches g_baseUrl/kitmd5.dat into g_moduleFolder\kitmd5.dat under the transfer watch; `localPath`
// (260 characters) receives the local path. Failed (logged) when the local file can't be
// created, there is no base address or the URL would exceed 259 characters, or the transfer
// failed, stalled, met an HTTP error answer or a body cut short; Cancelled after a quit.
Step fetchKitList(wchar_t* localPath);

// Reads the local kit list. 0 after a complete read; 110 when the file can't be opened (logged);
// 160 without a product-code buffer; KITLIST_MALFORMED (13, logged) for an overlong token, a
// file that ends inside a record, a file over 1 MiB, or a first token that is no product code
// (an error or log-in page served as the list); the outputs are then empty. The product code
// buffer holds kKitProductCodeChars characters.
int readKitList(const wchar_t* localPath, wchar_t* productCode,
                std::map<WideString, int32_t>* sizes);
