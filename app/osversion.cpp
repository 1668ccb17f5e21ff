#include "app/osversion.h"

int classifyOs(const OsProbeAnswers& answers) {
    if (answers.isServer || !answers.versionOk) return 0;
    const OSVERSIONINFOEXW& v = answers.version;
    if (v.dwMajorVersion < 5) return 0;
    if (v.dwMajorVersion == 5) return v.dwMinorVersion >= 1 ? 1 : 0;
    bool workstation = v.wProductType == VER_NT_WORKSTATION;
    if (v.dwMinorVersion == 0) {
        if (!workstation) return 0;
        return v.szCSDVersion[0] == L'\0' ? 2 : 3;
    }
    if (v.dwMinorVersion == 1) return workstation ? 4 : 0;
    return 0;
}

int detectOsVersion() {
    OsProbeAnswers answers;
    probeOs(&answers);
    return classifyOs(answers);
}
