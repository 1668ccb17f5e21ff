#include "sys/ntfile.h"

#include <winternl.h>

#include <cwchar>

namespace {

typedef NTSTATUS(NTAPI* CreateFileFn)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                      PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
typedef NTSTATUS(NTAPI* SetInformationFn)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG,
                                          FILE_INFORMATION_CLASS);
typedef ULONG(NTAPI* StatusToErrorFn)(NTSTATUS);

void* ntdllCall(const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name));
}

// Sets the system's error for `status`; true for a success.
bool succeeded(NTSTATUS status) {
    if (status >= 0) return true;
    auto toError = reinterpret_cast<StatusToErrorFn>(ntdllCall("RtlNtStatusToDosError"));
    SetLastError(toError != nullptr ? toError(status) : ERROR_GEN_FAILURE);
    return false;
}

// The name and the object attributes that carry it; `name` must outlive both.
struct RelativeName {
    UNICODE_STRING text;
    OBJECT_ATTRIBUTES attributes;
    RelativeName(HANDLE folder, const wchar_t* name, PSECURITY_DESCRIPTOR descriptor) {
        size_t bytes = wcslen(name) * sizeof(wchar_t);
        text.Length = text.MaximumLength = static_cast<USHORT>(bytes < 0xFFFE ? bytes : 0xFFFE);
        text.Buffer = const_cast<wchar_t*>(name);
        InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, folder, descriptor);
    }
};

}  // namespace

HANDLE createRelative(HANDLE folder, const wchar_t* name, ACCESS_MASK access, ULONG share,
                      ULONG disposition, ULONG options, PSECURITY_DESCRIPTOR descriptor) {
    auto create = reinterpret_cast<CreateFileFn>(ntdllCall("NtCreateFile"));
    if (create == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    RelativeName relative(folder, name, descriptor);
    IO_STATUS_BLOCK io = {};
    HANDLE handle = nullptr;
    NTSTATUS status = create(&handle, access | SYNCHRONIZE, &relative.attributes, &io, nullptr,
                             FILE_ATTRIBUTE_NORMAL, share, disposition,
                             options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    return succeeded(status) ? handle : INVALID_HANDLE_VALUE;
}

DWORD attributesRelative(HANDLE folder, const wchar_t* name) {
    // Opened on the entry itself rather than asked by name: Wine's NtQueryAttributesFile does not
    // find a name below a folder handle.
    HANDLE entry = createRelative(folder, name, FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                                  FILE_OPEN_REPARSE_POINT);
    BY_HANDLE_FILE_INFORMATION found;
    bool known = entry != INVALID_HANDLE_VALUE && GetFileInformationByHandle(entry, &found);
    if (entry != INVALID_HANDLE_VALUE) CloseHandle(entry);
    return known ? found.dwFileAttributes : INVALID_FILE_ATTRIBUTES;
}

bool deleteThrough(HANDLE handle) {
    // FileDispositionInformation: SetFileInformationByHandle, which does the same, came with Vista.
    auto setInformation = reinterpret_cast<SetInformationFn>(ntdllCall("NtSetInformationFile"));
    if (setInformation == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return false;
    }
    IO_STATUS_BLOCK io = {};
    BOOLEAN deleteIt = TRUE;
    return succeeded(
        setInformation(handle, &io, &deleteIt, sizeof deleteIt, FileDispositionInformation));
}
