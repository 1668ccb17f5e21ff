// Placeholder until the command runner lands.
#include "sys/runcommand.h"

int RunCommand(wchar_t*, const wchar_t*) { return 0; }
