#include "download/safename.h"

#include <cwchar>

namespace {

bool isSafeSegment(const wchar_t* begin, const wchar_t* end) {
    if (begin == end) return false;
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
