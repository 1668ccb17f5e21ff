// Plays the bootstrapper's parent. Usage: launcher.exe BOOTSTRAPPER [anything...]
// Its own command line is what the bootstrapper reads its options from. The bootstrapper itself
// is started with the text of WENVAROTH_OWN_ARGS on its own command line (options there must
// have no effect). The launcher waits and exits with the bootstrapper's exit code.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        fwprintf(stderr, L"usage: launcher BOOTSTRAPPER [options]\n");
        return 2;
    }
    std::wstring commandLine = L"\"" + std::wstring(argv[1]) + L"\"";
    const wchar_t* own = _wgetenv(L"WENVAROTH_OWN_ARGS");
    if (own != nullptr && *own != L'\0') commandLine += L" " + std::wstring(own);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        fwprintf(stderr, L"launcher: cannot start %ls (%lu)\n", argv[1], GetLastError());
        return 3;
    }
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}
