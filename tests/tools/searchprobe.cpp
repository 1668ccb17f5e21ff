// Plays the program's start-up as far as libraries go: limits the library search as the program
// does first thing, then loads each library named on its command line by bare name, as the system
// does on the program's behalf later, and prints the path each came from, one a line.
#include <windows.h>

#include <cstdio>

#include "sys/systemlibrary.h"

int wmain(int argc, wchar_t** argv) {
    limitLibrarySearch();
    for (int i = 1; i < argc; ++i) {
        wchar_t path[MAX_PATH] = L"(not loaded)";
        HMODULE library = LoadLibraryW(argv[i]);
        if (library != nullptr) GetModuleFileNameW(library, path, MAX_PATH);
        wprintf(L"%ls\n", path);
    }
    return 0;
}
