#include "download/safename.h"

#include <cwchar>

#include "base/devicename.h"

namespace {

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool isSafeSegment(const wchar_t* begin, const wchar_t* end) {
    if (begin == end || isDeviceName(begin, static_cast<size_t>(end - begin))) return false;
    for (const wchar_t* c = begin; c != end; ++c) {
        if (*c < 32 || *c == 127) return false;
        if (wcschr(L"\\/:*?\"<>|", *c) != nullptr) return false;
    }
    wchar_t last = end[-1];
    // Covers ".", "..", "..." and every name Windows would trim to one of them.
    return last != L'.' && last != L' ';
}

// Calls `keep(begin, end)` for each segment of `path` that names a level, in order; false as soon
// as a segment is unsafe or `keep` refuses one.
template <typename Keep>
bool eachLevel(const wchar_t* path, Keep keep) {
    if (path == nullptr || isSeparator(path[0])) return false;
    const wchar_t* begin = path;
    for (const wchar_t* c = path;; ++c) {
        if (!isSeparator(*c) && *c != L'\0') continue;
        bool dropped = c == begin || (c - begin == 1 && *begin == L'.');
        if (!dropped && (!isSafeSegment(begin, c) || !keep(begin, c))) return false;
        if (*c == L'\0') return true;
        begin = c + 1;
    }
}

}  // namespace

bool isSafePathSegment(const wchar_t* segment) {
    return segment != nullptr && isSafeSegment(segment, segment + wcslen(segment));
}

bool isSafeRelativePath(const wchar_t* path) {
    return eachLevel(path, [](const wchar_t*, const wchar_t*) { return true; });
}

bool normalizeRelativePath(const wchar_t* path, wchar_t separator, wchar_t* out, size_t capacity) {
    if (out == nullptr || capacity == 0) return false;
    size_t used = 0;
    bool whole = eachLevel(path, [&](const wchar_t* begin, const wchar_t* end) {
        size_t length = static_cast<size_t>(end - begin) + (used != 0 ? 1 : 0);
        if (length >= capacity - used) return false;
        if (used != 0) out[used++] = separator;
        wmemcpy(out + used, begin, static_cast<size_t>(end - begin));
        used += static_cast<size_t>(end - begin);
        return true;
    });
    out[whole ? used : 0] = L'\0';
    return whole;
}
