// Parsing of the kit list "kitmd5.dat", kept free of Windows headers so that a native
// Linux fuzz build can compile it alone (kitlistparse.cpp needs only the C++ standard library).
//
// Fuzz entry point:
//   int parseKitList(const unsigned char* data, size_t size, WideString* productCode,
//                    std::map<WideString, KitListEntry>* entries);
// `data` may be null when `size` is 0; both outputs must be non-null (160 otherwise). Every
// input, of any length and content, yields a defined result; nothing is read past data + size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "base/widestring.h"

// Results of parseKitList (Win32 error numbers, so the worker can log them as such).
constexpr int KITLIST_OK = 0;
constexpr int KITLIST_MALFORMED = 13;       // ERROR_INVALID_DATA
constexpr int KITLIST_BAD_ARGUMENTS = 160;  // ERROR_BAD_ARGUMENTS

// Longest accepted tokens, in characters (the fixed buffers less their terminator).
constexpr size_t KITLIST_MAX_PRODUCT_CODE = 39;
constexpr size_t KITLIST_MAX_NAME = 255;
constexpr size_t KITLIST_MAX_SIZE_TOKEN = 19;
constexpr size_t KITLIST_MAX_CHECKSUM = 32;

// One record of the kit list: the file's size column as read and its checksum token as written.
struct KitListEntry {
    int32_t size = 0;
    WideString checksum;
    bool operator==(const KitListEntry& other) const {
        return size == other.size && checksum == other.checksum;
    }
};

// Parses the bytes of a kit list. Each byte becomes the wide character of the same number.
// Tokens are separated by blank, tab, line feed, carriage return, vertical tab and form feed;
// every other byte (NUL and 0x1A included) belongs to a token.
//
// KITLIST_OK: *productCode is the first token (empty for a file of white space only) and *entries
// maps every record's name to its size and checksum; of two records with one name the first wins.
//
// KITLIST_MALFORMED, with *productCode empty and *entries empty: a token longer than its limit
// above, or a file that ends inside a record (a name without size, or a size without checksum).
// Such a list is rejected whole rather than cut or partly kept: a cut name could match another
// file, and a list that ends early is most likely a transfer cut short.
int parseKitList(const unsigned char* data, size_t size, WideString* productCode,
                 std::map<WideString, KitListEntry>* entries);

// What the reading of a kit list found worth telling: the line (from 1) and what was wrong for a
// malformed list, and whether a UTF-8 byte order mark opened it.
struct KitListReport {
    size_t line = 0;
    const wchar_t* problem = nullptr;  // null for a list that is not malformed
    bool byteOrderMark = false;
};

// parseKitList that fills `report` (may be null). A UTF-8 byte order mark at the very start (a
// list saved by Notepad) is skipped: it is no part of the product code.
int parseKitListReporting(const unsigned char* data, size_t size, WideString* productCode,
                          std::map<WideString, KitListEntry>* entries, KitListReport* report);

// A Windows Installer product code as a kit list names it: a GUID in braces,
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" with hexadecimal digits of either case.
bool isProductCode(const WideString& token);

// The size column: optional blanks are not part of a token, so: an optional sign, then decimal
// digits up to the first non-digit; no leading digit gives 0; values beyond the signed 32-bit
// range are clamped to 2147483647 or -2147483648.
int32_t parseKitSize(const WideString& token);

// Whether a checksum token is a file's MD5 digest to check: exactly 32 hexadecimal digits of either
// case, not all zeros. Any other token ("0", "-", 31 digits) and 32 zeros, the placeholder lists
// carry where no digest was made, mean "no checksum given".
bool isFileDigest(const WideString& token);
