#include "sys/systemlibrary.h"

#include "base/runstate.h"
#include "base/text.h"

HMODULE loadSystemLibrary(const wchar_t* fileName) {
    wchar_t path[kPathChars];
    UINT length = GetSystemDirectoryW(path, static_cast<UINT>(kPathChars));
    if (length == 0 || length >= kPathChars || !pathJoin(path, fileName)) return nullptr;
    return LoadLibraryW(path);
}
