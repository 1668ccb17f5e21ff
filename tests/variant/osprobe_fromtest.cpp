// Test variant only: the operating-system answers come from the variable WENVAROTH_TEST_OS,
// "server,major,minor,productType,servicePack" (for example "0,6,1,1,Service Pack 1"). Without
// it the answers are those of Windows 7, so that a run under Wine passes the check.
#include <cstdlib>
#include <cwchar>

#include "app/osversion.h"

void probeOs(OsProbeAnswers* answers) {
    *answers = OsProbeAnswers();
    answers->versionOk = TRUE;
    answers->version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXW);
    answers->version.dwMajorVersion = 6;
    answers->version.dwMinorVersion = 1;
    answers->version.wProductType = VER_NT_WORKSTATION;
    const wchar_t* answersText = _wgetenv(L"WENVAROTH_TEST_OS");
    if (answersText == nullptr) return;
    int server = 0, major = 0, minor = 0, type = 0;
    wchar_t servicePack[128] = {};
    int fields = swscanf(answersText, L"%d,%d,%d,%d,%127l[^\n]", &server, &major, &minor, &type,
                         servicePack);
    if (fields < 4) {
        answers->versionOk = FALSE;
        return;
    }
    answers->isServer = server != 0;
    answers->version.dwMajorVersion = static_cast<DWORD>(major);
    answers->version.dwMinorVersion = static_cast<DWORD>(minor);
    answers->version.wProductType = static_cast<BYTE>(type);
    wcsncpy(answers->version.szCSDVersion, servicePack, 127);
}
