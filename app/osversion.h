// The operating-system code: 0 unsupported, 1 XP, 2 Vista without a service pack, 3 Vista with
// a service pack, 4 Windows 7.
#pragma once

#include <windows.h>

// The platform's two answers that decide the code.
struct OsProbeAnswers {
    BOOL isServer = FALSE;   // the shell's operating-system query, selector 23
    BOOL versionOk = FALSE;  // GetVersionExW succeeded
    OSVERSIONINFOEXW version = {};
};

// Asks the platform. The shipped program asks Windows; a test variant of the executable built
// from another source file takes its answers from the test.
void probeOs(OsProbeAnswers* answers);
int classifyOs(const OsProbeAnswers& answers);
int detectOsVersion();
