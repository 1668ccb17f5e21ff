#include "download/url.h"

#include <cwchar>

#include "base/runstate.h"
#include "base/text.h"
#include "download/safename.h"
#include "log/log.h"

bool appendUrlSegment(wchar_t* url, size_t capacity, const wchar_t* segment) {
    if (url == nullptr || segment == nullptr || capacity == 0) return false;
    size_t used = wcsnlen(url, capacity);
    if (used == capacity) return false;
    bool slash = used == 0 || url[used - 1] != L'/';
    // Checked whole first, so that a segment that doesn't fit leaves no lone "/" behind.
    if (used + (slash ? 1 : 0) + wcslen(segment) >= capacity) return false;
    return (!slash || textAppend(url, capacity, L"/")) && textAppend(url, capacity, segment);
}

bool composeFileUrl(const DownloadableFile& file, wchar_t* url) {
    const wchar_t* base = file.baseUrl ? file.baseUrl.get() : g_baseUrl;
    if (base == nullptr || base[0] == L'\0') {
        writeLog(L"[WENVAROTH] No download address for %s", file.name ? file.name.get() : L"");
        return false;
    }
    // The relative path in the form its folder is made from: "./cabs/" asks for ".../cabs/name".
    wchar_t levels[kPathChars] = {};
    if (!textCopy(url, kPathChars, base) ||
        (file.relativePath &&
         !normalizeRelativePath(file.relativePath.get(), L'/', levels, kPathChars)) ||
        (levels[0] != L'\0' && !appendUrlSegment(url, kPathChars, levels)) ||
        !appendUrlSegment(url, kPathChars, file.name.get())) {
        writeLog(L"[WENVAROTH] Download address too long for %s",
                 file.name ? file.name.get() : L"");
        url[0] = L'\0';
        return false;
    }
    return true;
}
