#include "sys/parentprocess.h"

#include <tlhelp32.h>
#include <winternl.h>

#include <cstddef>
#include <cstdlib>

#include "base/runstate.h"
#include "log/log.h"
#include "sys/systemlibrary.h"

#ifndef _WIN64
// No 32-bit process runs on the build machines, so the layouts this 32-bit build reads out of its
// parent are pinned here to the values 32-bit Windows XP, Vista and 7 use.
static_assert(sizeof(PROCESS_BASIC_INFORMATION) == 24, "basic information record");
static_assert(offsetof(PROCESS_BASIC_INFORMATION, PebBaseAddress) == 4, "PEB address");
static_assert(sizeof(PEB) == 472, "PEB bytes read (the smallest real PEB, XP's, has 528)");
static_assert(offsetof(PEB, ProcessParameters) == 0x10, "PEB process parameters");
static_assert(sizeof(RTL_USER_PROCESS_PARAMETERS) == 72, "process parameters bytes read");
static_assert(offsetof(RTL_USER_PROCESS_PARAMETERS, CommandLine) == 0x40, "command line");
static_assert(sizeof(UNICODE_STRING) == 8, "counted string");
static_assert(offsetof(UNICODE_STRING, Length) == 0, "counted string length");
static_assert(offsetof(UNICODE_STRING, Buffer) == 4, "counted string text");
#endif

namespace {

typedef DWORD(WINAPI* GetModuleFileNameExFn)(HANDLE, HMODULE, LPWSTR, DWORD);

// The process status library is not a known system library on Windows XP, so it is loaded from
// the system folder rather than imported.
void readProcessPath(HANDLE process) {
    g_parentProcessPath[0] = L'\0';
    HMODULE psapi = loadSystemLibrary(L"psapi.dll");
    if (psapi == nullptr) return;
    auto getPath = reinterpret_cast<GetModuleFileNameExFn>(
        reinterpret_cast<void*>(GetProcAddress(psapi, "GetModuleFileNameExW")));
    // A path that fills the buffer may have been cut (XP then leaves it unterminated): a cut path
    // would name another file, so it counts as not found.
    DWORD length =
        getPath != nullptr ? getPath(process, nullptr, g_parentProcessPath, kPathChars) : 0;
    if (length == 0 || length >= kPathChars - 1) g_parentProcessPath[0] = L'\0';
    FreeLibrary(psapi);
}

}  // namespace

DWORD getParentProcessId() {
    DWORD parentId = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    DWORD ownId = GetCurrentProcessId();
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID != ownId) continue;
        parentId = entry.th32ParentProcessID;
        if (g_parentProcessPath[0] == L'\0') {
            HANDLE parent =
                OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, parentId);
            if (parent != nullptr) {
                readProcessPath(parent);
                CloseHandle(parent);
            }
        }
        break;
    }
    CloseHandle(snapshot);
    return parentId;
}

namespace {

typedef NTSTATUS(NTAPI* QueryInformationProcessFn)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);

// Reads the command line of an opened parent whose structures have this build's layout.
void readCommandLine(HANDLE parent, GuardedString* result) {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) {
        writeLog(L"[SETUP] GetParrentProcessCmdLine could not load ntdll.dll error<%d>",
                 GetLastError());
        return;
    }
    QueryInformationProcessFn query = reinterpret_cast<QueryInformationProcessFn>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "ZwQueryInformationProcess")));
    if (query == nullptr) {
        writeLog(
            L"[SETUP] GetParrentProcessCmdLine could not get proc address "
            L"ZwQueryInformationProcess<%d>",
            GetLastError());
        return;
    }
    if (isWow64Process(parent) != isWow64Process(GetCurrentProcess())) {
        writeLog(L"[SETUP] GetParrentProcessCmdLine parent process of another bitness");
        return;
    }
    PROCESS_BASIC_INFORMATION basic = {};
    NTSTATUS status = query(parent, ProcessBasicInformation, &basic, sizeof basic, nullptr);
    writeLog(L"[SETUP] GetParrentProcessCmdLine ZwQueryInformationProcess ret<%d>", status);
    PEB peb = {};
    if (!ReadProcessMemory(parent, basic.PebBaseAddress, &peb, sizeof peb, nullptr)) {
        writeLog(L"[SETUP] GetParrentProcessCmdLine ReadProcessMemory peb error<%d>",
                 GetLastError());
        return;
    }
    RTL_USER_PROCESS_PARAMETERS parameters = {};
    if (!ReadProcessMemory(parent, peb.ProcessParameters, &parameters, sizeof parameters,
                           nullptr)) {
        writeLog(L"[SETUP] GetParrentProcessCmdLine ReadProcessMemory procParams error<%d>",
                 GetLastError());
        return;
    }
    if (!readRemoteText(parent, parameters.CommandLine.Buffer, parameters.CommandLine.Length,
                        result)) {
        writeLog(L"[SETUP] GetParrentProcessCmdLine ReadProcessMemory cmdLine error<%d>",
                 GetLastError());
        return;
    }
    writeLog(L"[SETUP] GetParrentProcessCmdLine parent command line<%s>", result->c_str());
}

}  // namespace

bool readRemoteText(HANDLE process, const void* address, size_t bytes, GuardedString* result) {
    // The length is the other process's word: only whole characters count, and only a complete
    // copy is used (a text cut short could name another file), so an odd or overstated length
    // never makes the text run past what was copied.
    size_t chars = bytes / sizeof(wchar_t);
    if (chars == 0) return true;
    wchar_t* text = static_cast<wchar_t*>(calloc(chars + 1, sizeof(wchar_t)));
    if (text == nullptr) return false;
    SIZE_T copied = 0;
    bool read = ReadProcessMemory(process, address, text, chars * sizeof(wchar_t), &copied) &&
                copied == chars * sizeof(wchar_t);
    if (read) result->assign(text);
    free(text);
    return read;
}

BOOL isWow64Process(HANDLE process) {
    typedef BOOL(WINAPI * IsWow64ProcessFn)(HANDLE, PBOOL);
    IsWow64ProcessFn isWow64 = reinterpret_cast<IsWow64ProcessFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "IsWow64Process")));
    BOOL answer = FALSE;
    if (isWow64 != nullptr && !isWow64(process, &answer)) answer = FALSE;
    return answer;
}

GuardedString GetParrentProcessCmdLine() {
    GuardedString result;
    DWORD parentId = getParentProcessId();
    writeLog(L"[SETUP] GetParrentProcessCmdLine parent process id<%d>", parentId);
    HANDLE parent = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, parentId);
    if (parent == nullptr) {
        writeLog(
            L"[SETUP] GetParrentProcessCmdLine could not open parent process handle. error<%d>",
            GetLastError());
        return result;
    }
    readCommandLine(parent, &result);
    CloseHandle(parent);
    return result;
}
