#include "sys/systemlibrary.h"

#include "base/runstate.h"
#include "base/text.h"

HMODULE loadSystemLibrary(const wchar_t* fileName) {
    wchar_t path[kPathChars];
    UINT length = GetSystemDirectoryW(path, static_cast<UINT>(kPathChars));
    if (length == 0 || length >= kPathChars || !pathJoin(path, fileName)) return nullptr;
    return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void limitLibrarySearch() {
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    // LOAD_LIBRARY_SEARCH_SYSTEM32, not declared in XP's headers.
    constexpr DWORD kSearchSystemFolder = 0x800;
    auto limit = reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32"), "SetDefaultDllDirectories")));
    if (limit == nullptr || !limit(kSearchSystemFolder)) SetDllDirectoryW(L"");
}
