#include "sys/callerrights.h"

#include <shlwapi.h>
#include <winternl.h>

#include "base/ownedhandle.h"
#include "base/runstate.h"
#include "base/text.h"

namespace {

// Declared from Vista on; XP's GetTokenInformation refuses both classes, and its
// GetKernelObjectSecurity the label.
constexpr int kTokenElevationType = 18;
constexpr int kTokenLinkedToken = 19;
constexpr DWORD kElevationTypeFull = 2;
constexpr DWORD kQueryLimitedInformation = 0x1000;
constexpr DWORD kLabelSecurityInformation = 0x10;
constexpr LONG kStatusNameNotFound = static_cast<LONG>(0xC0000034);

typedef LONG(NTAPI* CreateFileFn)(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*, IO_STATUS_BLOCK*,
                                  LARGE_INTEGER*, ULONG, ULONG, ULONG, ULONG, void*, ULONG);

HANDLE openParentToken(DWORD parentId) {
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, parentId);
    if (process == nullptr) process = OpenProcess(kQueryLimitedInformation, FALSE, parentId);
    if (process == nullptr) return nullptr;
    OwnedHandle parent(process);
    FILETIME parentStart, ownStart, unused[3];
    HANDLE token = nullptr;
    HANDLE impersonation = nullptr;
    if (!GetProcessTimes(parent.get(), &parentStart, &unused[0], &unused[1], &unused[2]) ||
        !GetProcessTimes(GetCurrentProcess(), &ownStart, &unused[0], &unused[1], &unused[2]) ||
        CompareFileTime(&parentStart, &ownStart) > 0 ||
        !OpenProcessToken(parent.get(), TOKEN_QUERY | TOKEN_DUPLICATE, &token)) {
        return nullptr;
    }
    OwnedHandle owned(token);
    return DuplicateToken(token, SecurityImpersonation, &impersonation) ? impersonation : nullptr;
}

// The security of the object of `handle` (opened with READ_CONTROL), its integrity label
// included where the system has one; null when unreadable. The caller frees it.
PSECURITY_DESCRIPTOR readSecurity(HANDLE handle) {
    const SECURITY_INFORMATION base =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    for (SECURITY_INFORMATION wanted : {base | kLabelSecurityInformation, base}) {
        DWORD needed = 0;
        GetKernelObjectSecurity(handle, wanted, nullptr, 0, &needed);
        PSECURITY_DESCRIPTOR security = needed != 0 ? malloc(needed) : nullptr;
        if (security != nullptr &&
            GetKernelObjectSecurity(handle, wanted, security, needed, &needed)) {
            return security;
        }
        free(security);
    }
    return nullptr;
}

bool handleMay(HANDLE token, HANDLE object, DWORD access) {
    PSECURITY_DESCRIPTOR security = readSecurity(object);
    bool granted = security != nullptr && tokenMay(token, security, access);
    free(security);
    return granted;
}

// Whether the object of `handle`, opened as a reparse point, is one. Wine opens a Unix symbolic
// link's target even so and shows the link only to a look-up by path, so the path is asked too.
bool isLink(HANDLE handle, const wchar_t* path, BY_HANDLE_FILE_INFORMATION* info) {
    return !GetFileInformationByHandle(handle, info) ||
           ((info->dwFileAttributes | GetFileAttributesW(path)) & FILE_ATTRIBUTE_REPARSE_POINT) !=
               0;
}

// Opens (FILE_OPEN) or creates (FILE_CREATE) the file `name` in the folder of `folder`, through
// that handle, for appending, as the reparse point where it is one. The native call's status;
// every system from XP on has the call.
LONG openInFolder(HANDLE folder, wchar_t* name, ULONG disposition, HANDLE* file) {
    auto create = reinterpret_cast<CreateFileFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtCreateFile")));
    if (create == nullptr) return -1;
    UNICODE_STRING leaf = {static_cast<USHORT>(wcslen(name) * sizeof(wchar_t)),
                           static_cast<USHORT>(kPathChars * sizeof(wchar_t)), name};
    OBJECT_ATTRIBUTES attributes = {};
    attributes.Length = sizeof attributes;
    attributes.RootDirectory = folder;
    attributes.ObjectName = &leaf;
    attributes.Attributes = OBJ_CASE_INSENSITIVE;
    IO_STATUS_BLOCK io = {};
    return create(file, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE,
                  &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, disposition,
                  FILE_NON_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT,
                  nullptr, 0);
}

}  // namespace

HANDLE openCallerToken(DWORD parentId, HANDLE ownToken, CallerToken* source) {
    *source = CallerToken::kParent;
    HANDLE token = openParentToken(parentId);
    if (token != nullptr) return token;
    *source = CallerToken::kNone;
    DWORD type = 0;
    DWORD length = 0;
    if (!GetTokenInformation(ownToken, static_cast<TOKEN_INFORMATION_CLASS>(kTokenElevationType),
                             &type, sizeof type, &length) ||
        type != kElevationTypeFull ||
        !GetTokenInformation(ownToken, static_cast<TOKEN_INFORMATION_CLASS>(kTokenLinkedToken),
                             &token, sizeof token, &length)) {
        return nullptr;
    }
    *source = token != nullptr ? CallerToken::kLinked : CallerToken::kNone;
    return token;
}

bool tokenMay(HANDLE token, PSECURITY_DESCRIPTOR security, DWORD access) {
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                               FILE_ALL_ACCESS};
    PRIVILEGE_SET privileges[4];
    DWORD privilegesLength = sizeof privileges;
    DWORD granted = 0;
    BOOL status = FALSE;
    return AccessCheck(security, token, access, &mapping, privileges, &privilegesLength, &granted,
                       &status) &&
           status && (granted & access) == access;
}

HANDLE openFileForCaller(const wchar_t* path, DWORD parentId, const wchar_t** reason) {
    *reason = L"its folder cannot be opened";
    wchar_t folderPath[kPathChars];
    wchar_t* leaf = nullptr;
    DWORD length = GetFullPathNameW(path, kPathChars, folderPath, &leaf);
    if (length == 0 || length >= kPathChars || leaf == nullptr || *leaf == L'\0') {
        return INVALID_HANDLE_VALUE;
    }
    wchar_t name[kPathChars];
    textCopy(name, leaf);
    // The folder itself, not what a trailing separator would resolve it to (a Unix link's target
    // under Wine); a root keeps its separator.
    *leaf = L'\0';
    if (!PathIsRootW(folderPath)) leaf[-1] = L'\0';
    OwnedHandle folder(
        CreateFileW(folderPath, READ_CONTROL | FILE_TRAVERSE | SYNCHRONIZE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!folder.valid()) return INVALID_HANDLE_VALUE;
    *reason = L"its folder is a link";
    if (isLink(folder.get(), folderPath, &info)) return INVALID_HANDLE_VALUE;
    // A stream of a file ("name:stream") would be written into a file, not added to the folder.
    *reason = L"it names a stream";
    if (wcschr(name, L':') != nullptr) return INVALID_HANDLE_VALUE;

    HANDLE ownToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &ownToken)) ownToken = nullptr;
    OwnedHandle own(ownToken);
    CallerToken source;
    OwnedHandle caller(openCallerToken(parentId, ownToken, &source));

    *reason = L"it cannot be opened";
    HANDLE opened = nullptr;
    LONG status = openInFolder(folder.get(), name, FILE_OPEN, &opened);
    bool created = status == kStatusNameNotFound;
    if (created) {
        *reason = L"the program that asked for it cannot create files in its folder";
        if (caller.valid() && !handleMay(caller.get(), folder.get(), FILE_ADD_FILE)) {
            return INVALID_HANDLE_VALUE;
        }
        *reason = L"it cannot be created";
        status = openInFolder(folder.get(), name, FILE_CREATE, &opened);
    }
    if (status < 0) return INVALID_HANDLE_VALUE;
    OwnedHandle file(opened);
    *reason = L"it is a link";
    if (isLink(file.get(), path, &info)) return INVALID_HANDLE_VALUE;
    *reason = L"it has another name (a hard link)";
    if (info.nNumberOfLinks != 1) return INVALID_HANDLE_VALUE;
    *reason = L"the program that asked for it cannot append to it";
    // A file this process has just made was checked as a file added to its folder.
    if (!created && caller.valid() && !handleMay(caller.get(), file.get(), FILE_APPEND_DATA)) {
        return INVALID_HANDLE_VALUE;
    }
    *reason = nullptr;
    return file.release();
}
