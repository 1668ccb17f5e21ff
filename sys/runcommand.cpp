#include "sys/runcommand.h"

#include "base/runstate.h"
#include "log/log.h"

int RunCommand(const wchar_t* program, wchar_t* commandLine, const wchar_t* workingFolder,
               DWORD* exitCode) {
    // Without the program's own path the system would search for it along the command line,
    // trying the words before a blank as programs of their own.
    if (program == nullptr || commandLine == nullptr) return 0;
    writeLog(L"[WENVAROTH] RunCommand(cmd=%s, wait=%d, dir=%s)", commandLine, -1,
             workingFolder != nullptr ? workingFolder : L"(null)");
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;  // 68 in the 32-bit product, the platform's size in the test build
    PROCESS_INFORMATION process = {};
    if (workingFolder == nullptr) {
        writeLog(L"[WENVAROTH] Running: %s", commandLine);
    } else {
        writeLog(L"[WENVAROTH] Running: %s in %s", commandLine, workingFolder);
    }
    // Redirection is switched only for a 32-bit process on 64-bit Windows, and only for this
    // thread, so that a kit program in the system folder is the native one.
    PVOID redirection = nullptr;
    bool switched = g_isWow64 && g_pfnWow64DisableFsRedirection != nullptr &&
                    g_pfnWow64DisableFsRedirection(&redirection);
    writeLog(L"[WENVAROTH] Starting %s (%s)", program,
             switched ? L"file-system redirection off"
                      : (g_isWow64 ? L"file-system redirection on" : L"no redirection"));
    BOOL started = CreateProcessW(program, commandLine, nullptr, nullptr, FALSE, 0, nullptr,
                                  workingFolder, &startup, &process);
    if (started) {
        writeLog(L"[WENVAROTH] Started %s with pid %d", commandLine, process.dwProcessId);
        CloseHandle(process.hThread);
        WaitForSingleObject(process.hProcess, INFINITE);
        if (exitCode != nullptr && !GetExitCodeProcess(process.hProcess, exitCode)) {
            *exitCode = GetLastError();
        }
        CloseHandle(process.hProcess);
    } else {
        writeLog(L"[WENVAROTH] Failed to run: %s", commandLine);
    }
    if (switched && g_pfnWow64RevertFsRedirection != nullptr)
        g_pfnWow64RevertFsRedirection(redirection);
    return started ? 1 : 0;
}
