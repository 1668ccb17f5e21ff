// Download addresses: every URL the program requests is joined here, one "/" between segments,
// and refused whole when it would not fit its 260-character buffer.
#pragma once

#include <cstddef>

#include "manifest/model.h"

// Appends "/" unless `url` already ends with one (an empty text does not), then `segment`.
// `url` holds `capacity` characters, terminator included. False, with `url` unchanged, when
// the result would not fit or an argument is null.
bool appendUrlSegment(wchar_t* url, size_t capacity, const wchar_t* segment);
template <size_t N>
bool appendUrlSegment(wchar_t (&url)[N], const wchar_t* segment) {
    return appendUrlSegment(url, N, segment);
}

// The file's URL: (baseUrl or g_baseUrl) / relativePath (without its empty and "." segments) /
// name, into `url` (260 characters).
// False, after a log line, when there is no base or the URL would exceed 259 characters.
bool composeFileUrl(const DownloadableFile& file, wchar_t* url);
