// Test variant only: the stall bound comes from WENVAROTH_TEST_STALL_MS (milliseconds), so that
// the stall cases of the end-to-end suites take seconds; without it, the shipped 60 s.
#include <cstdlib>

#include "download/watch.h"

DWORD stallBoundMs() {
    const wchar_t* text = _wgetenv(L"WENVAROTH_TEST_STALL_MS");
    DWORD bound = text != nullptr ? wcstoul(text, nullptr, 10) : 0;
    return bound != 0 ? bound : 60000;
}
