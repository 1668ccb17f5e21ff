// The kit list "kitmd5.dat": its URL, its fetch beside the executable and its reading
// into the kit's product code and the map of kit files (size and checksum). The token parsing
// itself is download/kitlistparse.h.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/ownedhandle.h"
#include "base/runstate.h"
#include "download/kitlistparse.h"
#include "download/transfer.h"

constexpr size_t kKitProductCodeChars = 100;

// The kit list's copy beside the executable, open from its creation to the end of reading, and
// the list's bytes as they came from the server (the first 1 MiB + 1 of them): the list is read
// from these, never from a file.
struct KitListCopy {
    OwnedHandle file;
    wchar_t path[kPathChars] = {};
    std::vector<unsigned char> bytes;
};

// Reads g_baseUrl/kitmd5.dat from the connection (readFromConnection: never a cached copy) into
// `list->bytes`, at most its first 1 MiB + 1, and writes them through `list->file`, made new as
// g_moduleFolder\kitmd5.dat before the transfer (an old file or a link under that name is removed
// first, as a name: never its target). Unwritable (logged) when that file can't be made; Failed
// (logged) when its path is too long, there is no base address or the URL would exceed 259
// characters, or the read failed, stalled, met an HTTP error answer or a body cut short, or the
// write failed; Cancelled after a quit.
Step fetchKitList(KitListCopy* list);

// Reads the kit list from `list.bytes`. 0 after a complete read; 160 without a product-code buffer;
// KITLIST_MALFORMED (13, logged) for an overlong token, a list that ends inside a record, a list
// over 1 MiB, or a first token that is no product code (an error or log-in page served as the
// list); the outputs are then empty. The product code buffer holds kKitProductCodeChars
// characters.
int readKitList(const KitListCopy& list, wchar_t* productCode,
                std::map<WideString, KitListEntry>* entries);
