#include "download/kitfolder.h"

#include <sddl.h>
#include <shlwapi.h>

#include <cwchar>

#include "base/ownedhandle.h"
#include "base/runstate.h"
#include "base/text.h"
#include "download/localfile.h"
#include "download/safename.h"
#include "log/log.h"
#include "sys/adminrights.h"

namespace {

// Full control (FA) for SYSTEM and Administrators, read and execute (0x1200a9) for Users; "P"
// keeps out what %temp% would pass down, "OICI" hands the entries down to every file and folder.
const wchar_t kProtectedFolder[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

bool isLink(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool madeHere(const MadeEntries& made, const wchar_t* path) {
    for (const WideString& entry : made) {
        if (_wcsicmp(entry.c_str(), path) == 0) return true;
    }
    return false;
}

// One level below the kit folder: made now, or made earlier by this run and still a folder.
bool makeLevel(const wchar_t* path, MadeEntries* made) {
    if (CreateDirectoryW(path, nullptr)) {
        made->push_back(path);
        return true;
    }
    DWORD error = GetLastError();
    DWORD attributes = GetFileAttributesW(path);
    if (isLink(attributes)) {
        writeLog(L"[WENVAROTH] Refusing link %s", path);
        return false;
    }
    bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    if (error == ERROR_ALREADY_EXISTS && folder) {
        if (madeHere(*made, path)) return true;
        writeLog(L"[WENVAROTH] Refusing folder %s, which this run did not make", path);
        return false;
    }
    writeLog(L"[WENVAROTH] Cannot create folder %s (%d)", path, error);
    return false;
}

}  // namespace

const wchar_t* kitFolderSecurity(bool administratorsMember, bool elevated) {
    return administratorsMember && elevated ? kProtectedFolder : nullptr;
}

bool makeKitFolder(const wchar_t* tempOverride) {
    wchar_t temp[kPathChars] = {};
    if (tempOverride != nullptr) {
        if (!textCopy(temp, tempOverride)) temp[0] = L'\0';
    } else {
        DWORD length = ExpandEnvironmentStringsW(L"%temp%", temp, kPathChars);
        if (length == 0 || length > kPathChars) temp[0] = L'\0';
    }
    // An unexpanded or relative "%temp%" would put the kit folder somewhere unknown.
    if (temp[0] == L'\0' || PathIsRelativeW(temp)) {
        writeLog(L"[WENVAROTH] No usable temporary folder (%s)", temp);
        return false;
    }
    bool member = false, elevated = false;
    queryAdministratorToken(&member, &elevated);
    const wchar_t* security = kitFolderSecurity(member, elevated);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (security != nullptr && !ConvertStringSecurityDescriptorToSecurityDescriptorW(
                                   security, SDDL_REVISION_1, &descriptor, nullptr)) {
        // Failing is safer than a folder every program of the user could change.
        writeLog(L"[WENVAROTH] Cannot build the kit folder's security (%d)", GetLastError());
        return false;
    }
    // Given to the creation itself: set afterwards, it would leave the folder open meanwhile.
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    bool made = false;
    for (int n = 1; n <= 99 && !made; ++n) {
        // The candidate is built apart from g_kitFolder, which only ever receives a folder
        // made here: the main flow removes g_kitFolder as a whole at the end.
        wchar_t leaf[20];
        wchar_t candidate[kPathChars];
        textFormat(leaf, 20, L"%s%02d", L"talvotempdir", n);
        if (!textCopy(candidate, temp) || !pathJoin(candidate, leaf)) break;
        made = CreateDirectoryW(candidate, descriptor != nullptr ? &attributes : nullptr) != FALSE;
        if (made) textCopy(g_kitFolder, candidate);
    }
    if (descriptor != nullptr) LocalFree(descriptor);
    if (!made) {
        writeLog(L"[WENVAROTH] Cannot create a kit folder under %s", temp);
    } else if (security != nullptr) {
        writeLog(L"[WENVAROTH] Kit folder %s: protected, %s", g_kitFolder, security);
    } else {
        writeLog(
            L"[WENVAROTH] Kit folder %s: default security (administrators member %d, "
            L"elevated %d)",
            g_kitFolder, member ? 1 : 0, elevated ? 1 : 0);
    }
    return made;
}

bool makeFolderPath(const wchar_t* root, const wchar_t* relativePath, wchar_t* folder,
                    MadeEntries* made) {
    wchar_t levels[kPathChars] = {};
    if (!textCopy(folder, kPathChars, root) ||
        (relativePath != nullptr &&
         !normalizeRelativePath(relativePath, L'\\', levels, kPathChars)) ||
        (levels[0] != L'\0' && !pathJoin(folder, kPathChars, levels))) {
        writeLog(L"[WENVAROTH] Destination path too long for %s", relativePath);
        return false;
    }
    if (levels[0] == L'\0') return true;
    // Each level in turn, the path cut after it.
    for (size_t at = wcslen(root) + 1;; ++at) {
        if (folder[at] != L'\\' && folder[at] != L'\0') continue;
        wchar_t cut = folder[at];
        folder[at] = L'\0';
        bool taken = makeLevel(folder, made);
        folder[at] = cut;
        if (!taken) return false;
        if (cut == L'\0') return true;
    }
}

HANDLE createKitFile(const wchar_t* destination, MadeEntries* made) {
    HANDLE target = createNewFile(destination);
    if (target == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) {
        if (isLink(GetFileAttributesW(destination))) {
            writeLog(L"[WENVAROTH] Refusing link %s", destination);
            SetLastError(ERROR_FILE_EXISTS);
            return INVALID_HANDLE_VALUE;
        }
        // The file of an earlier entry of the same name: replaced, as a copy over it would be.
        if (madeHere(*made, destination) && DeleteFileW(destination)) {
            target = createNewFile(destination);
        }
    }
    if (target != INVALID_HANDLE_VALUE && !madeHere(*made, destination)) {
        made->push_back(destination);
    }
    return target;
}

bool copyIntoKit(HANDLE cached, long long cachedBytes, const wchar_t* cacheFile,
                 const wchar_t* destination, MadeEntries* made, Md5* digest) {
    OwnedHandle target(createKitFile(destination, made));
    long long copied = 0;
    if (!target.valid() || !copyFileBytes(cached, target.get(), &copied, digest) ||
        copied != cachedBytes) {
        writeLog(L"[WENVAROTH] Copy file %s to %s error (%d)", cacheFile, destination,
                 GetLastError());
        return false;
    }
    return true;
}
