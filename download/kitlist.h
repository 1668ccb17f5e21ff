// The kit list "kitmd5.dat": its URL, its fetch beside the executable and its reading
// into the kit's product code and the map of kit file sizes. The token parsing itself is
// download/kitlistparse.h.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>

#include "download/kitlistparse.h"

constexpr size_t kKitProductCodeChars = 100;

enum class KitListFetch {
    Fetched,
    NotWritable,     // the local file can't be created (no message to the user)
    TransferFailed,  // transfer error, an HTTP error answer or a body cut short
    NoAddress,       // no base address in the manifest, or the URL would exceed 259 characters
};

// Fetches g_baseUrl/kitmd5.dat into g_moduleFolder\kitmd5.dat. `localPath` (260 characters)
// receives the local path; `result` the transfer's result (INET_E_DOWNLOAD_FAILURE when the
// platform reported S_OK for an HTTP error answer or a short body).
KitListFetch fetchKitList(wchar_t* localPath, HRESULT* result);

// Reads the local kit list. 0 after a complete read; 110 when the file can't be opened (logged);
// 160 without a product-code buffer; KITLIST_MALFORMED (13, logged) for an overlong token, a
// file that ends inside a record, or a file over 1 MiB; the outputs are then empty. The product
// code buffer holds kKitProductCodeChars characters.
int readKitList(const wchar_t* localPath, wchar_t* productCode,
                std::map<WideString, int32_t>* sizes);
