#include "download/localfile.h"

#include "log/log.h"

HANDLE openCachedFile(const wchar_t* path) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        writeLog(L"[WENVAROTH] Cannot open the cached file %s (%d)", path, GetLastError());
    }
    return file;
}

HANDLE createNewFile(const wchar_t* path) {
    return CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool copyFileBytes(HANDLE from, HANDLE to, long long* copied, std::vector<unsigned char>* kept,
                   size_t keepLimit) {
    *copied = 0;
    std::vector<unsigned char> chunk(64 * 1024);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(from, chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr)) {
            return false;
        }
        if (got == 0) return true;
        DWORD written = 0;
        if (!WriteFile(to, chunk.data(), got, &written, nullptr) || written != got) return false;
        *copied += got;
        if (kept != nullptr && kept->size() <= keepLimit) {
            size_t room = keepLimit + 1 - kept->size();
            kept->insert(kept->end(), chunk.data(), chunk.data() + (got < room ? got : room));
        }
    }
}
