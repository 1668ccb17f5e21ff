#include "sys/parentprocess.h"

#include <tlhelp32.h>
#include <winternl.h>

#include <cstddef>

#include "base/runstate.h"
#include "log/log.h"
#include "sys/parentcommandline.h"
#include "sys/systemlibrary.h"

// The native calls of this build fill the records of its own width: those records must lie where
// the system's own declarations put them.
#ifdef _WIN64
typedef Layout64 OwnLayout;
#else
typedef Layout32 OwnLayout;
#endif
static_assert(sizeof(OwnLayout::BasicInformation) == sizeof(PROCESS_BASIC_INFORMATION), "record");
static_assert(offsetof(OwnLayout::BasicInformation, pebBaseAddress) ==
                  offsetof(PROCESS_BASIC_INFORMATION, PebBaseAddress),
              "PEB address");
static_assert(offsetof(OwnLayout::PebStart, processParameters) == offsetof(PEB, ProcessParameters),
              "PEB process parameters");
static_assert(offsetof(OwnLayout::ParametersStart, commandLine) ==
                  offsetof(RTL_USER_PROCESS_PARAMETERS, CommandLine),
              "command line");
static_assert(sizeof(OwnLayout::CountedText) == sizeof(UNICODE_STRING), "counted string");
static_assert(offsetof(OwnLayout::CountedText, maximumLength) ==
                  offsetof(UNICODE_STRING, MaximumLength),
              "counted string room");
static_assert(offsetof(OwnLayout::CountedText, buffer) == offsetof(UNICODE_STRING, Buffer),
              "counted string text");

namespace {

typedef DWORD(WINAPI* GetModuleFileNameExFn)(HANDLE, HMODULE, LPWSTR, DWORD);
typedef BOOL(WINAPI* QueryFullProcessImageNameFn)(HANDLE, DWORD, LPWSTR, PDWORD);
// Not declared for XP, which does not know it.
const DWORD kQueryLimitedInformation = 0x1000;

// Vista and later name the executable of a process of either width, asking only for the limited
// query right, which an elevated process is granted even by parents that refuse it their memory.
// XP lacks the call.
bool queryImagePath(DWORD processId) {
    QueryFullProcessImageNameFn query =
        reinterpret_cast<QueryFullProcessImageNameFn>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleW(L"kernel32"), "QueryFullProcessImageNameW")));
    if (query == nullptr) return false;
    HANDLE process = OpenProcess(kQueryLimitedInformation, FALSE, processId);
    if (process == nullptr) return false;
    DWORD length = kPathChars;
    bool named =
        query(process, 0, g_parentProcessPath, &length) && length > 0 && length < kPathChars;
    if (!named) g_parentProcessPath[0] = L'\0';
    CloseHandle(process);
    return named;
}

// The main module's path, for XP. The process status library is not a known system library on
// Windows XP, so it is loaded from the system folder rather than imported. This cannot name a
// process of another width.
void readModulePath(HANDLE process) {
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

void readProcessPath(DWORD processId) {
    if (queryImagePath(processId)) return;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    if (process == nullptr) return;
    readModulePath(process);
    CloseHandle(process);
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
        if (g_parentProcessPath[0] == L'\0') readProcessPath(parentId);
        break;
    }
    CloseHandle(snapshot);
    return parentId;
}

namespace {

// Looks up `name` in ntdll as a function of type `Fn`.
template <class Fn>
bool lookUp(HMODULE ntdll, const char* name, Fn* function) {
    *function = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(ntdll, name)));
    return *function != nullptr;
}

// Reads the command line of an opened parent: in this build's own layout through the native
// calls, or, for a 64-bit parent of this 32-bit process on 64-bit Windows, in the 64-bit layout
// through the calls WOW64 provides for that. A 32-bit parent there has this build's layout.
void readParentCommandLine(HANDLE parent, GuardedString* result) {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) {
        writeLog(L"[SETUP] GetParrentProcessCmdLine could not load ntdll.dll error<%d>",
                 GetLastError());
        return;
    }
    RemoteProcess<OwnLayout> own = {parent, nullptr, nullptr};
    const char* missing = !lookUp(ntdll, "ZwQueryInformationProcess", &own.query)
                              ? "ZwQueryInformationProcess"
                          : !lookUp(ntdll, "NtReadVirtualMemory", &own.read) ? "NtReadVirtualMemory"
                                                                             : nullptr;
    if (missing != nullptr) {
        writeLog(L"[SETUP] GetParrentProcessCmdLine could not get proc address %hs<%d>", missing,
                 GetLastError());
        return;
    }
    BOOL ownWow64 = isWow64Process(GetCurrentProcess());
    if (isWow64Process(parent) == ownWow64) {
        readCommandLine(own, result);
        return;
    }
#ifndef _WIN64
    RemoteProcess<Layout64> wide = {parent, nullptr, nullptr};
    if (ownWow64 && lookUp(ntdll, "NtWow64QueryInformationProcess64", &wide.query) &&
        lookUp(ntdll, "NtWow64ReadVirtualMemory64", &wide.read)) {
        readCommandLine(wide, result);
        return;
    }
#endif
    writeLog(L"[SETUP] GetParrentProcessCmdLine parent process of another bitness");
}

}  // namespace

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
    readParentCommandLine(parent, &result);
    CloseHandle(parent);
    return result;
}
