// The stall bound of the shipped program. A minute without a single byte is far beyond the
// pauses of a slow or busy line, yet short enough that an unattended install gives up while
// someone may still be waiting for it. The test variant replaces this file.
#include "download/watch.h"

DWORD stallBoundMs() { return 60000; }
