// Stand-in for a kit's installer, served in the kit as "setup.exe" (a copy under another name,
// such as an autorun program, reports to <report>.<its name> instead). It writes what it received
// into the report file named by WENVAROTH_SETUP_REPORT (outside the kit folder), as UTF-8 lines:
//   cmd=<its command line>
//   cwd=<its current folder>
//   kit=<the folder it was started from>
//   file=<each file below that folder, relative>|<its size>
//   contacts=<1 when contacts.xml is there, else 0>
// and a copy of the kit's setup.xml as <report>.setup.xml (when there is one). Then it exits 0.
// With WENVAROTH_SETUP_HOLD=<seconds> it first starts a copy of itself ("setup.exe /hold:N")
// that holds "held.dat" in the kit folder open, without sharing, for that many seconds.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

std::string utf8(const std::wstring& text) {
    int length = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(length > 0 ? length - 1 : 0, '\0');
    if (length > 1)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], length, nullptr, nullptr);
    return out;
}

void listFiles(const std::wstring& root, const std::wstring& relative, FILE* report) {
    WIN32_FIND_DATAW found;
    std::wstring folder = relative.empty() ? root : root + L"\\" + relative;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        std::wstring path = relative.empty() ? name : relative + L"\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            listFiles(root, path, report);
        } else {
            unsigned long long size =
                (static_cast<unsigned long long>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
            fprintf(report, "file=%s|%llu\n", utf8(path).c_str(), size);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

int hold(const std::wstring& kit, int seconds) {
    HANDLE file = CreateFileW((kit + L"\\held.dat").c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    Sleep(static_cast<DWORD>(seconds) * 1000);
    CloseHandle(file);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring kit = self;
    kit = kit.substr(0, kit.find_last_of(L'\\'));
    if (argc > 1 && wcsncmp(argv[1], L"/hold:", 6) == 0) return hold(kit, _wtoi(argv[1] + 6));

    const wchar_t* holdFor = _wgetenv(L"WENVAROTH_SETUP_HOLD");
    if (holdFor != nullptr && *holdFor != L'\0') {
        std::wstring command = L"\"" + std::wstring(self) + L"\" /hold:" + holdFor;
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        if (CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                           &startup, &process)) {
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
            // Until the file exists, so that the bootstrapper meets it held.
            for (int i = 0; i < 100 && GetFileAttributesW((kit + L"\\held.dat").c_str()) ==
                                           INVALID_FILE_ATTRIBUTES;
                 ++i) {
                Sleep(50);
            }
        }
    }

    const wchar_t* reportBase = _wgetenv(L"WENVAROTH_SETUP_REPORT");
    if (reportBase == nullptr) return 0;
    // A copy under another name (an autorun program of the kit) reports beside, not over, it.
    std::wstring reportPath = reportBase;
    std::wstring ownName = std::wstring(self).substr(std::wstring(self).find_last_of(L'\\') + 1);
    if (_wcsicmp(ownName.c_str(), L"setup.exe") != 0) reportPath += L"." + ownName;
    FILE* report = _wfopen(reportPath.c_str(), L"wb");
    if (report == nullptr) return 0;
    wchar_t cwd[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, cwd);
    fprintf(report, "cmd=%s\n", utf8(GetCommandLineW()).c_str());
    fprintf(report, "cwd=%s\n", utf8(cwd).c_str());
    fprintf(report, "kit=%s\n", utf8(kit).c_str());
    listFiles(kit, L"", report);
    bool contacts =
        GetFileAttributesW((kit + L"\\contacts.xml").c_str()) != INVALID_FILE_ATTRIBUTES;
    fprintf(report, "contacts=%d\n", contacts ? 1 : 0);
    fclose(report);
    CopyFileW((kit + L"\\setup.xml").c_str(), (reportPath + L".setup.xml").c_str(), FALSE);
    return 0;
}
