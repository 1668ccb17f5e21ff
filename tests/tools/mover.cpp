// Plays another program of the same user renaming a folder or file. Usage: mover.exe FROM TO
// Exits with 0 when the rename worked, else with the system's error (32: in use).
#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        fwprintf(stderr, L"usage: mover FROM TO\n");
        return 2;
    }
    if (MoveFileExW(argv[1], argv[2], 0)) return 0;
    DWORD error = GetLastError();
    fwprintf(stderr, L"mover: %ls -> %ls: error %lu\n", argv[1], argv[2], error);
    return static_cast<int>(error);
}
