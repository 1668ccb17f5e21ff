#include "base/text.h"

#include <strsafe.h>
#include <wchar.h>

wchar_t* newTextCopy(const wchar_t* text, size_t length) {
    if (text == nullptr || length >= (SIZE_MAX / sizeof(wchar_t)) - 1) return nullptr;
    wchar_t* copy = static_cast<wchar_t*>(malloc((length + 1) * sizeof(wchar_t)));
    if (copy == nullptr) return nullptr;
    wmemcpy(copy, text, length);
    copy[length] = L'\0';
    return copy;
}

wchar_t* newTextCopy(const wchar_t* text) {
    return text == nullptr ? nullptr : newTextCopy(text, wcslen(text));
}

bool textCopy(wchar_t* dst, size_t capacity, const wchar_t* src) {
    if (dst == nullptr || capacity == 0) return false;
    if (src == nullptr || FAILED(StringCchCopyW(dst, capacity, src))) {
        dst[0] = L'\0';
        return false;
    }
    return true;
}

bool textAppend(wchar_t* dst, size_t capacity, const wchar_t* src) {
    if (dst == nullptr || capacity == 0 || src == nullptr) return false;
    size_t used = 0;
    if (FAILED(StringCchLengthW(dst, capacity, &used))) return false;
    if (FAILED(StringCchCatW(dst, capacity, src))) {
        dst[used] = L'\0';
        return false;
    }
    return true;
}

bool textFormatV(wchar_t* dst, size_t capacity, const wchar_t* format, va_list args) {
    if (dst == nullptr || capacity == 0) return false;
    if (format == nullptr || FAILED(StringCchVPrintfW(dst, capacity, format, args))) {
        dst[0] = L'\0';
        return false;
    }
    return true;
}

bool textFormat(wchar_t* dst, size_t capacity, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    bool ok = textFormatV(dst, capacity, format, args);
    va_end(args);
    return ok;
}

bool pathJoin(wchar_t* dst, size_t capacity, const wchar_t* leaf) {
    if (dst == nullptr || capacity == 0 || leaf == nullptr) return false;
    size_t used = 0;
    if (FAILED(StringCchLengthW(dst, capacity, &used))) return false;
    while (*leaf == L'\\') ++leaf;
    if (used > 0 && dst[used - 1] != L'\\' && !textAppend(dst, capacity, L"\\")) return false;
    if (!textAppend(dst, capacity, leaf)) {
        dst[used] = L'\0';
        return false;
    }
    return true;
}
