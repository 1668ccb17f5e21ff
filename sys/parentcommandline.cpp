#include "sys/parentcommandline.h"

#include <cstdlib>

#include "log/log.h"

namespace {

// The Win32 error a native call's status stands for, as the platform's own wrappers report it. A
// call that succeeded yet copied less than asked is a partial copy.
DWORD errorOf(LONG status) {
    if (status >= 0) return ERROR_PARTIAL_COPY;
    typedef ULONG(NTAPI * ToErrorFn)(LONG);
    ToErrorFn toError = reinterpret_cast<ToErrorFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlNtStatusToDosError")));
    return toError != nullptr ? toError(status) : static_cast<DWORD>(status);
}

// Copies `bytes` bytes at `address`: true only when every one of them was copied.
template <class Layout>
bool readWhole(const RemoteProcess<Layout>& parent, typename Layout::Address address, void* buffer,
               size_t bytes, DWORD* error) {
    typename Layout::Address copied = 0;
    LONG status = parent.read(parent.process, address, buffer,
                              static_cast<typename Layout::Address>(bytes), &copied);
    if (status >= 0 && copied == bytes) return true;
    *error = errorOf(status);
    return false;
}

// The text of `line`. Its lengths are the other process's word: only whole characters count, a
// length beyond the string's own room is no command line, and only a complete copy is used (a
// text cut short could name another file), so the text never runs past what was copied.
template <class Layout>
bool readText(const RemoteProcess<Layout>& parent, const typename Layout::CountedText& line,
              GuardedString* result, DWORD* error) {
    if (line.length > line.maximumLength) {
        *error = ERROR_INVALID_DATA;
        return false;
    }
    size_t chars = line.length / sizeof(wchar_t);
    if (chars == 0) return true;
    wchar_t* text = static_cast<wchar_t*>(calloc(chars + 1, sizeof(wchar_t)));
    if (text == nullptr) {
        *error = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    bool read = readWhole(parent, line.buffer, text, chars * sizeof(wchar_t), error);
    if (read) result->assign(text);
    free(text);
    return read;
}

template <class Layout>
void readCommandLineAs(const RemoteProcess<Layout>& parent, GuardedString* result) {
    const ULONG kBasicInformation = 0;
    typename Layout::BasicInformation basic = {};
    LONG status = parent.query(parent.process, kBasicInformation, &basic, sizeof basic, nullptr);
    // Only logged: after a failed query the PEB address is 0, and reading there fails.
    writeLog(L"[SETUP] GetParrentProcessCmdLine ZwQueryInformationProcess ret<%d>", status);
    DWORD error = 0;
    typename Layout::PebStart peb = {};
    if (!readWhole(parent, basic.pebBaseAddress, &peb, sizeof peb, &error)) {
        writeLog(L"[SETUP] GetParrentProcessCmdLine ReadProcessMemory peb error<%d>", error);
        return;
    }
    typename Layout::ParametersStart parameters = {};
    if (!readWhole(parent, peb.processParameters, &parameters, sizeof parameters, &error)) {
        writeLog(L"[SETUP] GetParrentProcessCmdLine ReadProcessMemory procParams error<%d>", error);
        return;
    }
    if (!readText(parent, parameters.commandLine, result, &error)) {
        writeLog(L"[SETUP] GetParrentProcessCmdLine ReadProcessMemory cmdLine error<%d>", error);
        return;
    }
    writeLog(L"[SETUP] GetParrentProcessCmdLine parent command line<%s>", result->c_str());
}

}  // namespace

void readCommandLine(const RemoteProcess<Layout32>& parent, GuardedString* result) {
    readCommandLineAs(parent, result);
}

void readCommandLine(const RemoteProcess<Layout64>& parent, GuardedString* result) {
    readCommandLineAs(parent, result);
}
