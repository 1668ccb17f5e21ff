// Plays the bootstrapper's parent for the benchmark, like launcher.exe, and reports what the
// child cost. Usage: benchparent.exe BOOTSTRAPPER [options...]
// Its own command line carries the options the bootstrapper reads; the child's own command line is
// its path plus the text of WENVAROTH_OWN_ARGS, as with launcher.exe. After the child ends it
// prints one line: exit=N wall=S user=S kernel=S peak_private=BYTES peak_working_set=BYTES
// (peak_private is the peak commit charge, PROCESS_MEMORY_COUNTERS_EX.PeakPagefileUsage).
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

double seconds(const FILETIME& time) {
    ULARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    return static_cast<double>(value.QuadPart) / 1e7;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        fwprintf(stderr, L"usage: benchparent BOOTSTRAPPER [options]\n");
        return 2;
    }
    std::wstring commandLine = L"\"" + std::wstring(argv[1]) + L"\"";
    const wchar_t* own = _wgetenv(L"WENVAROTH_OWN_ARGS");
    if (own != nullptr && *own != L'\0') commandLine += L" " + std::wstring(own);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        fwprintf(stderr, L"benchparent: cannot start %s (%lu)\n", argv[1], GetLastError());
        return 3;
    }
    CloseHandle(process.hThread);
    // Sample the memory counters while the child runs too: some platforms forget them once the
    // process has ended.
    SIZE_T peakPrivate = 0, peakWorkingSet = 0;
    for (;;) {
        PROCESS_MEMORY_COUNTERS_EX counters = {};
        counters.cb = sizeof counters;
        if (GetProcessMemoryInfo(process.hProcess,
                                 reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                                 sizeof counters)) {
            if (counters.PeakPagefileUsage > peakPrivate) peakPrivate = counters.PeakPagefileUsage;
            if (counters.PrivateUsage > peakPrivate) peakPrivate = counters.PrivateUsage;
            if (counters.PeakWorkingSetSize > peakWorkingSet) {
                peakWorkingSet = counters.PeakWorkingSetSize;
            }
        }
        if (WaitForSingleObject(process.hProcess, 20) != WAIT_TIMEOUT) break;
    }
    QueryPerformanceCounter(&end);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    FILETIME created, exited, kernel = {}, user = {};
    GetProcessTimes(process.hProcess, &created, &exited, &kernel, &user);
    CloseHandle(process.hProcess);
    wprintf(L"exit=%lu wall=%.3f user=%.3f kernel=%.3f peak_private=%llu peak_working_set=%llu\n",
            code, static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart,
            seconds(user), seconds(kernel), static_cast<unsigned long long>(peakPrivate),
            static_cast<unsigned long long>(peakWorkingSet));
    return static_cast<int>(code);
}
