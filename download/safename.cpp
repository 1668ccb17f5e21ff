#include "download/safename.h"

#include <cwchar>

namespace {

bool isDigitForDevice(wchar_t c) {
    // Windows reserves COM and LPT with a superscript one, two or three as well.
    return (c >= L'0' && c <= L'9') || c == 0xB9 || c == 0xB2 || c == 0xB3;
}

// CON, PRN, AUX, NUL, COM0-9, LPT0-9 in any letter case, alone or before an extension (the
// name up to its first dot, trailing blanks dropped): Windows opens the device, not a file.
bool isDeviceName(const wchar_t* begin, const wchar_t* end) {
    const wchar_t* stem = begin;
    while (stem != end && *stem != L'.') ++stem;
    while (stem != begin && stem[-1] == L' ') --stem;
    size_t length = static_cast<size_t>(stem - begin);
    if (length != 3 && length != 4) return false;
    wchar_t upper[4];
    for (size_t i = 0; i < length; ++i) {
        wchar_t c = begin[i];
        upper[i] = (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c;
    }
    if (length == 3) {
        return wcsncmp(upper, L"CON", 3) == 0 || wcsncmp(upper, L"PRN", 3) == 0 ||
               wcsncmp(upper, L"AUX", 3) == 0 || wcsncmp(upper, L"NUL", 3) == 0;
    }
    return (wcsncmp(upper, L"COM", 3) == 0 || wcsncmp(upper, L"LPT", 3) == 0) &&
           isDigitForDevice(upper[3]);
}

bool isSafeSegment(const wchar_t* begin, const wchar_t* end) {
    if (begin == end || isDeviceName(begin, end)) return false;
    for (const wchar_t* c = begin; c != end; ++c) {
        if (*c < 32 || *c == 127) return false;
        if (wcschr(L"\\/:*?\"<>|", *c) != nullptr) return false;
    }
    wchar_t last = end[-1];
    // Covers ".", "..", "..." and every name Windows would trim to one of them.
    return last != L'.' && last != L' ';
}

}  // namespace

bool isSafePathSegment(const wchar_t* segment) {
    return segment != nullptr && isSafeSegment(segment, segment + wcslen(segment));
}

bool isSafeRelativePath(const wchar_t* path) {
    if (path == nullptr || *path == L'\0') return false;
    const wchar_t* begin = path;
    for (const wchar_t* c = path;; ++c) {
        if (*c == L'\\' || *c == L'/' || *c == L'\0') {
            if (!isSafeSegment(begin, c)) return false;
            if (*c == L'\0') return true;
            begin = c + 1;
        }
    }
}
