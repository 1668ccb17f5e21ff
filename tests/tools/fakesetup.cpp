// Stand-in for a kit's installer, served in the kit as "setup.exe". With WENVAROTH_SETUP_REPORT=R
// it copies the folder it lives in (the kit folder, as the bootstrapper hands it over) into R.kit,
// so that a test can compare every byte that arrived with what the server holds, then writes its
// command line, current folder and its own folder's access list (text form) to R, one a line in
// UTF-8: last, so that R means a whole copy.
// Under any other name (a kit's autorun program, or a program planted where an unquoted path would
// lead) it writes the three lines to R.<its name> and, when WENVAROTH_AUTORUN_RELEASE names a file,
// waits (at most 60 s) until that file exists. Always exits 0.
// As "fakesetup /hold:N PATH" it holds the file PATH open, unshared, for N seconds; as
// "fakesetup /move FROM TO" it renames FROM, exiting with the system's error (32: in use) or 0; as
// "fakesetup /rewrite PATH", another program of the user, it writes over the bytes PATH holds so
// far, exiting 0 when it could.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

void copyTree(const std::wstring& from, const std::wstring& to) {
    CreateDirectoryW(to.c_str(), nullptr);
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((from + L"\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            copyTree(from + L"\\" + name, to + L"\\" + name);
        } else {
            CopyFileW((from + L"\\" + name).c_str(), (to + L"\\" + name).c_str(), FALSE);
        }
    } while (FindNextFileW(search, &entry));
    FindClose(search);
}

void writeReport(const std::wstring& path, const std::wstring& folder) {
    wchar_t current[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, current);
    PSECURITY_DESCRIPTOR security = nullptr;
    wchar_t* acl = nullptr;
    if (GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, nullptr, nullptr, &security) == ERROR_SUCCESS) {
        ConvertSecurityDescriptorToStringSecurityDescriptorW(
            security, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &acl, nullptr);
    }
    std::wstring text = std::wstring(GetCommandLineW()) + L"\n" + current + L"\n" +
                        (acl != nullptr ? acl : L"?") + L"\n";
    LocalFree(acl);
    LocalFree(security);
    int chars = static_cast<int>(text.size());
    std::string utf8(
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), chars, nullptr, 0, nullptr, nullptr), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), chars, &utf8[0], static_cast<int>(utf8.size()),
                        nullptr, nullptr);
    FILE* report = _wfopen(path.c_str(), L"wb");
    if (report == nullptr) return;
    fwrite(utf8.data(), 1, utf8.size(), report);
    fclose(report);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    wchar_t selfPath[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, selfPath, MAX_PATH);
    std::wstring self = selfPath;
    std::wstring kit = self.substr(0, self.find_last_of(L'\\'));
    std::wstring name = self.substr(kit.size() + 1);
    if (argc > 2 && wcsncmp(argv[1], L"/hold:", 6) == 0) {
        HANDLE file = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        Sleep(static_cast<DWORD>(_wtoi(argv[1] + 6)) * 1000);
        CloseHandle(file);
        return 0;
    }
    if (argc > 3 && wcscmp(argv[1], L"/move") == 0) {
        return MoveFileExW(argv[2], argv[3], 0) ? 0 : static_cast<int>(GetLastError());
    }
    if (argc > 2 && wcscmp(argv[1], L"/rewrite") == 0) {
        HANDLE file = CreateFileW(argv[2], GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        DWORD size = GetFileSize(file, nullptr), written = 0;
        std::string planted(size != INVALID_FILE_SIZE ? size : 0, 'P');
        bool done = file != INVALID_HANDLE_VALUE && size != 0 &&
                    WriteFile(file, planted.data(), size, &written, nullptr) && written == size;
        CloseHandle(file);
        return done ? 0 : 1;
    }
    const wchar_t* report = _wgetenv(L"WENVAROTH_SETUP_REPORT");
    if (report == nullptr || *report == L'\0') return 0;
    if (_wcsicmp(name.c_str(), L"setup.exe") != 0) {
        writeReport(std::wstring(report) + L"." + name, kit);
        const wchar_t* release = _wgetenv(L"WENVAROTH_AUTORUN_RELEASE");
        for (int i = 0; release != nullptr && i < 600 &&
                        GetFileAttributesW(release) == INVALID_FILE_ATTRIBUTES;
             ++i) {
            Sleep(100);
        }
        return 0;
    }
    copyTree(kit, std::wstring(report) + L".kit");
    writeReport(report, kit);
    return 0;
}
