// Stand-in kit installer of the end-to-end suites. Started as the kit's setup.exe, it copies the
// whole folder it was started in (the kit folder, as the bootstrapper hands it over) into
// %WENVAROTH_SNAPSHOT%\kit and writes its command line and current folder to
// %WENVAROTH_SNAPSHOT%\started.txt (UTF-16LE), so the test can compare every byte that arrived
// with what the server holds. Under any other name it plays a kit's autorun program: it writes
// the same two lines to %WENVAROTH_SNAPSHOT%\<its name>.txt and, when WENVAROTH_AUTORUN_RELEASE
// names a file, waits (at most 60 s) until that file exists. Without WENVAROTH_SNAPSHOT it does
// nothing. Always exits 0.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

bool copyTree(const std::wstring& from, const std::wstring& to) {
    if (!CreateDirectoryW(to.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        return false;
    }
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((from + L"\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    do {
        std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        std::wstring source = from + L"\\" + name;
        std::wstring target = to + L"\\" + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            ok = copyTree(source, target) && ok;
        } else {
            ok = CopyFileW(source.c_str(), target.c_str(), FALSE) && ok;
        }
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return ok;
}

void writeReport(const std::wstring& path, const wchar_t* current) {
    FILE* report = _wfopen(path.c_str(), L"wb");
    if (report == nullptr) return;
    std::wstring text = std::wstring(GetCommandLineW()) + L"\n" + current + L"\n";
    fwrite(text.data(), sizeof(wchar_t), text.size(), report);
    fclose(report);
}

}  // namespace

int wmain() {
    const wchar_t* snapshot = _wgetenv(L"WENVAROTH_SNAPSHOT");
    if (snapshot == nullptr || *snapshot == L'\0') return 0;
    wchar_t current[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, current);
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring name = self;
    name = name.substr(name.find_last_of(L'\\') + 1);
    std::wstring root = snapshot;
    CreateDirectoryW(root.c_str(), nullptr);
    if (_wcsicmp(name.c_str(), L"setup.exe") != 0) {
        writeReport(root + L"\\" + name + L".txt", current);
        const wchar_t* release = _wgetenv(L"WENVAROTH_AUTORUN_RELEASE");
        for (int i = 0; release != nullptr && *release != L'\0' && i < 600 &&
                        GetFileAttributesW(release) == INVALID_FILE_ATTRIBUTES;
             ++i) {
            Sleep(100);
        }
        return 0;
    }
    copyTree(current, root + L"\\kit");
    // Written last, so that its presence means the copy is complete.
    writeReport(root + L"\\started.txt", current);
    return 0;
}
