// wenvaroth-kit: make KITFOLDER PRODUCTCODE | check APPFOLDER KITFOLDER|BASEURL [--temp-chars N]
#include <windows.h>
#include <wininet.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>

#include "download/digest.h"
#include "kittool/kittool.h"

namespace {

int g_findings = 0;

void sayV(const wchar_t* format, va_list args) {
    va_list counting;
    va_copy(counting, args);
    int needed = _vscwprintf(format, counting);
    va_end(counting);
    if (needed < 0) return;
    WideString line(static_cast<size_t>(needed) + 1, L'\0');
    _vsnwprintf(&line[0], line.size(), format, args);
    line.resize(static_cast<size_t>(needed));
    line += L"\n";
    int bytes = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()),
                                    nullptr, 0, nullptr, nullptr);
    NarrowString text(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0) {
        WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), &text[0],
                            bytes, nullptr, nullptr);
    }
    fwrite(text.data(), 1, text.size(), stdout);
    fflush(stdout);
}

bool isDots(const wchar_t* name) { return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0; }

bool walk(const WideString& root, const WideString& relative, std::vector<KitFile>* files) {
    WIN32_FIND_DATAW found;
    WideString folder = relative.empty() ? root : root + L"\\" + relative;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    do {
        if (isDots(found.cFileName)) continue;
        WideString path = relative.empty() ? found.cFileName : relative + L"\\" + found.cFileName;
        bool top = relative.empty();
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (top && _wcsicmp(found.cFileName, L"dependencies") == 0) continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
            ok = walk(root, path, files) && ok;
        } else if (!(top && _wcsicmp(found.cFileName, L"kitmd5.dat") == 0)) {
            KitFile file;
            file.relative = path;
            file.name = found.cFileName;
            file.size =
                (static_cast<unsigned long long>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
            files->push_back(file);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return ok;
}

WideString withNumber(const wchar_t* format, unsigned long number) {
    wchar_t text[64];
    _snwprintf(text, 63, format, number);
    text[63] = L'\0';
    return text;
}

int usage() {
    say(L"usage: wenvaroth-kit make KITFOLDER PRODUCTCODE");
    say(L"       wenvaroth-kit check APPFOLDER KITFOLDER|BASEURL [--temp-chars N]");
    return kUsageOrReadError;
}

}  // namespace

void say(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    sayV(format, args);
    va_end(args);
}

void finding(const wchar_t* format, ...) {
    ++g_findings;
    va_list args;
    va_start(args, format);
    sayV(format, args);
    va_end(args);
}

int findingCount() { return g_findings; }

bool listKitFiles(const WideString& root, std::vector<KitFile>* files) {
    return walk(root, L"", files);
}

bool digestFile(const WideString& path, unsigned long long* size, WideString* digest) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    Md5 md5;
    std::vector<unsigned char> buffer(256 * 1024);
    unsigned long long total = 0;
    DWORD got = 0;
    bool ok = md5.ready();
    while (ok && ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) &&
           got != 0) {
        ok = md5.add(buffer.data(), got);
        total += got;
    }
    CloseHandle(file);
    wchar_t hex[kDigestChars];
    if (!ok || !md5.finish(hex)) return false;
    *size = total;
    *digest = hex;
    return true;
}

bool readWholeFile(const WideString& path, std::vector<unsigned char>* bytes) {
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (file == nullptr) return false;
    unsigned char buffer[65536];
    size_t got = 0;
    bytes->clear();
    while ((got = fread(buffer, 1, sizeof buffer, file)) != 0) {
        bytes->insert(bytes->end(), buffer, buffer + got);
    }
    bool ok = ferror(file) == 0;
    fclose(file);
    return ok;
}

bool fetchUrl(const WideString& url, std::vector<unsigned char>* bytes, WideString* why) {
    bytes->clear();
    HINTERNET session =
        InternetOpenW(L"wenvaroth-kit", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (session == nullptr) {
        *why = withNumber(L"no connection (error %lu)", GetLastError());
        return false;
    }
    HINTERNET request = InternetOpenUrlW(
        session, url.c_str(), nullptr, 0,
        INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE, 0);
    bool ok = request != nullptr;
    if (!ok) *why = withNumber(L"no answer (error %lu)", GetLastError());
    DWORD status = 0, length = sizeof status;
    if (ok &&
        HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length,
                       nullptr) &&
        (status < 200 || status > 299)) {
        *why = withNumber(L"the server answered %lu", status);
        ok = false;
    }
    unsigned char buffer[65536];
    DWORD got = 0;
    while (ok && InternetReadFile(request, buffer, sizeof buffer, &got) && got != 0) {
        bytes->insert(bytes->end(), buffer, buffer + got);
    }
    if (request != nullptr) InternetCloseHandle(request);
    InternetCloseHandle(session);
    return ok;
}

int wmain(int argc, wchar_t** argv) {
    if (argc == 4 && wcscmp(argv[1], L"make") == 0) return makeKitList(argv[2], argv[3]);
    if ((argc == 4 || argc == 6) && wcscmp(argv[1], L"check") == 0) {
        unsigned tempChars = 80;
        if (argc == 6) {
            wchar_t* end = nullptr;
            unsigned long value = wcstoul(argv[5], &end, 10);
            if (wcscmp(argv[4], L"--temp-chars") != 0 || end == argv[5] || *end != L'\0' ||
                value > 250) {
                return usage();
            }
            tempChars = static_cast<unsigned>(value);
        }
        return checkKit(argv[2], argv[3], tempChars);
    }
    return usage();
}
