// Bounded text helpers. Every copy, join and format into a fixed buffer goes through these: an
// overflow is a reported failure (false), never a write past the end and never a silently cut
// text that could name something else.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstdlib>
#include <memory>

#include "base/widestring.h"

struct HeapTextFree {
    void operator()(wchar_t* text) const { free(text); }
};
// A heap wide text with one owner, allocated with malloc (length + 1 characters).
using HeapText = std::unique_ptr<wchar_t, HeapTextFree>;

// A heap copy of the first `length` characters of `text`, terminated; null when memory cannot be
// obtained or `text` is null.
wchar_t* newTextCopy(const wchar_t* text, size_t length);
// The same for a whole terminated text.
wchar_t* newTextCopy(const wchar_t* text);

// Copies src into dst (capacity in characters, terminator included). On overflow or a null
// argument dst becomes empty and the result is false.
bool textCopy(wchar_t* dst, size_t capacity, const wchar_t* src);
// Appends src to dst. On overflow dst is left as it was and the result is false.
bool textAppend(wchar_t* dst, size_t capacity, const wchar_t* src);
// Formats into dst. On overflow or a format error dst becomes empty and the result is false.
bool textFormat(wchar_t* dst, size_t capacity, const wchar_t* format, ...);
bool textFormatV(wchar_t* dst, size_t capacity, const wchar_t* format, va_list args);
// Joins a path segment: one backslash between dst and leaf (none added to an empty dst, leading
// backslashes of leaf dropped). On overflow dst is left as it was and the result is false.
bool pathJoin(wchar_t* dst, size_t capacity, const wchar_t* leaf);

template <size_t N>
bool textCopy(wchar_t (&dst)[N], const wchar_t* src) {
    return textCopy(dst, N, src);
}
template <size_t N>
bool textAppend(wchar_t (&dst)[N], const wchar_t* src) {
    return textAppend(dst, N, src);
}
template <size_t N>
bool pathJoin(wchar_t (&dst)[N], const wchar_t* leaf) {
    return pathJoin(dst, N, leaf);
}
