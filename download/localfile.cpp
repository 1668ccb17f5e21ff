#include "download/localfile.h"

#include <cstdlib>
#include <memory>

#include "log/log.h"

HANDLE openCachedFile(const wchar_t* path) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        writeLog(L"[WENVAROTH] Cannot open the cached file %s (%d)", path, GetLastError());
    }
    return file;
}

HANDLE openPlainFile(const wchar_t* path, long long* bytes) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return file;
    BY_HANDLE_FILE_INFORMATION found;
    // A system that follows a link all the same (Wine, a Unix symbolic link) shows it only on
    // the path: both are asked.
    DWORD attributes = GetFileAttributesW(path);
    if (!GetFileInformationByHandle(file, &found) || found.nNumberOfLinks != 1 ||
        ((found.dwFileAttributes | attributes) &
         (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        CloseHandle(file);
        SetLastError(ERROR_CANT_ACCESS_FILE);
        return INVALID_HANDLE_VALUE;
    }
    *bytes = static_cast<long long>(found.nFileSizeHigh) << 32 | found.nFileSizeLow;
    return file;
}

HANDLE createNewFile(const wchar_t* path) {
    return CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

namespace {

// Bytes per read and write. Copying 250 MB under Wine 8 took 0.39 ms per MB in 64 KB steps (the
// step of the platform's own file copy) and 0.34 ms in 256 KB steps; larger steps gained nothing.
constexpr DWORD kCopyStepBytes = 256 * 1024;

struct StepFree {
    void operator()(unsigned char* step) const { free(step); }
};

}  // namespace

bool copyFileBytes(HANDLE from, HANDLE to, long long* copied, Md5* digest) {
    *copied = 0;
    std::unique_ptr<unsigned char, StepFree> step(
        static_cast<unsigned char*>(malloc(kCopyStepBytes)));
    if (!step) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(from, step.get(), kCopyStepBytes, &got, nullptr)) return false;
        if (got == 0) return true;
        DWORD written = 0;
        if (!WriteFile(to, step.get(), got, &written, nullptr) || written != got) return false;
        *copied += got;
        if (digest != nullptr && !digest->add(step.get(), got)) {
            SetLastError(static_cast<DWORD>(NTE_BAD_HASH));
            return false;
        }
    }
}
