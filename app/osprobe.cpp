// The platform's answers for the operating-system code.
#include "app/osversion.h"
#include "sys/systemlibrary.h"

namespace {

// The shell utility library's operating-system query is exported by ordinal only on older
// systems, so it is looked up by that ordinal.
constexpr WORD kIsOsOrdinal = 437;
constexpr DWORD kOsSelectorServer = 23;
typedef BOOL(WINAPI* IsOsFn)(DWORD);

BOOL askIsServer() {
    HMODULE shlwapi = loadSystemLibrary(L"shlwapi.dll");
    if (shlwapi == nullptr) return FALSE;
    BOOL answer = FALSE;
    IsOsFn isOs = reinterpret_cast<IsOsFn>(
        reinterpret_cast<void*>(GetProcAddress(shlwapi, MAKEINTRESOURCEA(kIsOsOrdinal))));
    if (isOs != nullptr) answer = isOs(kOsSelectorServer);
    FreeLibrary(shlwapi);
    return answer;
}

}  // namespace

void probeOs(OsProbeAnswers* answers) {
    *answers = OsProbeAnswers();
    answers->isServer = askIsServer();
    if (answers->isServer) return;
    answers->version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXW);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    answers->versionOk = GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&answers->version));
#pragma GCC diagnostic pop
}
