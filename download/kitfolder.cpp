#include "download/kitfolder.h"

#include <sddl.h>
#include <shlwapi.h>

#include <cwchar>

#include "base/ownedhandle.h"
#include "base/text.h"
#include "download/localfile.h"
#include "download/safename.h"
#include "log/log.h"
#include "sys/adminrights.h"
#include "sys/ntfile.h"
#include "sys/removetree.h"

// The run's one kit folder, defined beside its class since base includes nothing above it.
KitFolder g_kitFolder;

namespace {

// Full control (FA) for SYSTEM and Administrators, read and execute (0x1200a9) for Users; "P"
// keeps out what %temp% would pass down, "OICI" hands the entries down to every file and folder.
const wchar_t kProtectedFolder[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

// Sharing that keeps the held folder's name: others may list and read it, never rename or delete.
constexpr ULONG kKeepName = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool isLink(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// What stands at `relative` below `held` (full path `path`). A system that follows a link even when
// asked to open the link itself (Wine, a Unix symbolic link) shows it only on the path, which
// names the same entry while the folder is held: a reparse point on either counts.
DWORD entryAttributes(HANDLE held, const wchar_t* relative, const wchar_t* path) {
    DWORD opened = attributesRelative(held, relative);
    DWORD named = GetFileAttributesW(path);
    if (opened == INVALID_FILE_ATTRIBUTES) return named;
    return named == INVALID_FILE_ATTRIBUTES ? opened
                                            : opened | (named & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool sameFile(HANDLE one, HANDLE other) {
    BY_HANDLE_FILE_INFORMATION a, b;
    return GetFileInformationByHandle(one, &a) && GetFileInformationByHandle(other, &b) &&
           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

}  // namespace

const wchar_t* kitFolderSecurity(bool administratorsMember, bool elevated) {
    return administratorsMember && elevated ? kProtectedFolder : nullptr;
}

void KitFolder::release() {
    m_held.reset();
    m_parent.reset();
    m_path[0] = L'\0';
    m_made.clear();
}

bool KitFolder::make(const wchar_t* tempOverride) {
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
    // Each name is made below the temporary folder's own handle (kept for the removal), and made
    // and opened in one call with its security: no moment passes in which the folder is open to
    // others or not yet held. Held for listing (a reader, whose sharing the system records) and
    // sharing read and write but not deletion, nobody can open it to rename or delete it. Not
    // held with delete access: that would shut out every opener that does not share deletion,
    // the current folder of a program started in it and a listing among them (Wine refuses both).
    release();
    m_parent.reset(CreateFileW(temp, FILE_TRAVERSE | SYNCHRONIZE, kShareAll, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    DWORD error = m_parent.valid() ? ERROR_ALREADY_EXISTS : GetLastError();
    wchar_t candidate[kPathChars] = {};
    for (int n = 1; n <= 99 && m_parent.valid() && error == ERROR_ALREADY_EXISTS; ++n) {
        wchar_t leaf[20];
        textFormat(leaf, 20, L"%s%02d", L"talvotempdir", n);
        if (!textCopy(candidate, temp) || !pathJoin(candidate, leaf)) break;
        m_held.reset(createRelative(m_parent.get(), leaf,
                                    FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                                    kKeepName, FILE_CREATE, FILE_DIRECTORY_FILE, descriptor));
        error = m_held.valid() ? ERROR_SUCCESS : GetLastError();
        if (error == ERROR_SUCCESS) textCopy(m_path, candidate);
    }
    if (error != ERROR_SUCCESS) release();
    if (descriptor != nullptr) LocalFree(descriptor);
    if (error != ERROR_SUCCESS) {
        writeLog(L"[WENVAROTH] Cannot create a kit folder under %s", temp);
    } else if (security != nullptr) {
        writeLog(L"[WENVAROTH] Kit folder %s: protected, %s", m_path, security);
    } else {
        writeLog(
            L"[WENVAROTH] Kit folder %s: default security (administrators member %d, "
            L"elevated %d)",
            m_path, member ? 1 : 0, elevated ? 1 : 0);
    }
    return error == ERROR_SUCCESS;
}

const wchar_t* KitFolder::below(const wchar_t* path) const {
    size_t length = wcslen(m_path);
    if (m_held.valid() && length != 0 && _wcsnicmp(path, m_path, length) == 0 &&
        path[length] == L'\\' && path[length + 1] != L'\0') {
        return path + length + 1;
    }
    writeLog(L"[WENVAROTH] Not inside the kit folder: %s", path);
    SetLastError(ERROR_INVALID_NAME);
    return nullptr;
}

bool KitFolder::madeHere(const wchar_t* relative, bool folder) const {
    WideString name = folder ? WideString(relative) + L"\\" : WideString(relative);
    for (const WideString& entry : m_made) {
        if (_wcsicmp(entry.c_str(), name.c_str()) == 0) return true;
    }
    return false;
}

// One level below the kit folder: made now, or made earlier by this run. Taken again on the
// record alone: after a folder above was renamed, Wine no longer opens an existing entry below the
// held handle (making one still works), and a start is refused then anyway.
bool KitFolder::makeLevel(const wchar_t* path) {
    const wchar_t* relative = below(path);
    if (relative == nullptr) return false;
    HANDLE level = createRelative(m_held.get(), relative, FILE_LIST_DIRECTORY, kShareAll,
                                  FILE_CREATE, FILE_DIRECTORY_FILE);
    if (level != INVALID_HANDLE_VALUE) {
        CloseHandle(level);
        m_made.push_back(WideString(relative) + L"\\");
        return true;
    }
    DWORD error = GetLastError();
    DWORD attributes = entryAttributes(m_held.get(), relative, path);
    if (isLink(attributes)) {
        writeLog(L"[WENVAROTH] Refusing link %s", path);
        return false;
    }
    if (error == ERROR_ALREADY_EXISTS && madeHere(relative, true)) return true;
    if (error == ERROR_ALREADY_EXISTS && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        writeLog(L"[WENVAROTH] Refusing folder %s, which this run did not make", path);
        return false;
    }
    writeLog(L"[WENVAROTH] Cannot create folder %s (%d)", path, error);
    return false;
}

bool KitFolder::makeFolder(const wchar_t* relativePath, wchar_t* folder) {
    wchar_t levels[kPathChars] = {};
    if (!textCopy(folder, kPathChars, m_path) ||
        (relativePath != nullptr &&
         !normalizeRelativePath(relativePath, L'\\', levels, kPathChars)) ||
        (levels[0] != L'\0' && !pathJoin(folder, kPathChars, levels))) {
        const wchar_t* levelsAsGiven = relativePath != nullptr ? relativePath : L"";
        writeLog(
            L"[WENVAROTH] Destination path too long for %s: %s\\%s is %u characters, at "
            L"most %u fit",
            levelsAsGiven, m_path, levelsAsGiven,
            static_cast<unsigned>(wcslen(m_path) + 1 + wcslen(levelsAsGiven)),
            static_cast<unsigned>(kPathChars - 1));
        return false;
    }
    if (levels[0] == L'\0') return true;
    // Each level in turn, the path cut after it.
    for (size_t at = wcslen(m_path) + 1;; ++at) {
        if (folder[at] != L'\\' && folder[at] != L'\0') continue;
        wchar_t cut = folder[at];
        folder[at] = L'\0';
        bool taken = makeLevel(folder);
        folder[at] = cut;
        if (!taken) return false;
        if (cut == L'\0') return true;
    }
}

HANDLE KitFolder::createFile(const wchar_t* file) {
    const wchar_t* relative = below(file);
    if (relative == nullptr) return INVALID_HANDLE_VALUE;
    auto create = [&] {
        return createRelative(m_held.get(), relative, GENERIC_WRITE, FILE_SHARE_READ, FILE_CREATE,
                              FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY);
    };
    HANDLE made = create();
    if (made == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ALREADY_EXISTS) {
        if (isLink(entryAttributes(m_held.get(), relative, file))) {
            writeLog(L"[WENVAROTH] Refusing link %s", file);
            SetLastError(ERROR_ALREADY_EXISTS);
            return INVALID_HANDLE_VALUE;
        }
        // The file of an earlier entry of the same name (removeFile takes no other): replaced, as
        // a copy over it would be.
        if (removeFile(file)) {
            made = create();
        } else {
            SetLastError(ERROR_ALREADY_EXISTS);
        }
    }
    if (made != INVALID_HANDLE_VALUE && !madeHere(relative, false)) m_made.push_back(relative);
    return made;
}

bool KitFolder::copyIn(HANDLE from, long long expectedBytes, const wchar_t* source,
                       const wchar_t* destination, Md5* digest) {
    OwnedHandle target(createFile(destination));
    long long copied = 0;
    if (!target.valid() || !copyFileBytes(from, target.get(), &copied, digest) ||
        copied != expectedBytes) {
        writeLog(L"[WENVAROTH] Copy file %s to %s error (%d)", source, destination, GetLastError());
        return false;
    }
    return true;
}

bool KitFolder::removeFile(const wchar_t* file) {
    const wchar_t* relative = below(file);
    if (relative == nullptr || !madeHere(relative, false)) return false;
    OwnedHandle entry(createRelative(m_held.get(), relative, DELETE, kShareAll, FILE_OPEN,
                                     FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT));
    return entry.valid() && deleteThrough(entry.get());
}

bool KitFolder::stillAtItsPath() const {
    if (!m_held.valid()) return false;
    OwnedHandle byPath(CreateFileW(m_path, FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (byPath.valid() && sameFile(byPath.get(), m_held.get())) return true;
    writeLog(
        L"[WENVAROTH] Kit folder %s: no longer the folder this run made; nothing is started "
        L"from it",
        m_path);
    return false;
}

bool KitFolder::deleteHeld() {
    // Swapped for a handle that may delete, opened below the temporary folder's own handle and
    // taken only when it is the same folder: in between another program could have moved the
    // empty folder and put something of its own in its place.
    OwnedHandle again;
    BY_HANDLE_FILE_INFORMATION held;
    if (GetFileInformationByHandle(m_held.get(), &held)) {
        m_held.reset();
        again.reset(createRelative(m_parent.get(), PathFindFileNameW(m_path),
                                   DELETE | FILE_READ_ATTRIBUTES, kKeepName, FILE_OPEN,
                                   FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT));
    }
    BY_HANDLE_FILE_INFORMATION found;
    if (!again.valid() || !GetFileInformationByHandle(again.get(), &found)) return false;
    if (found.dwVolumeSerialNumber != held.dwVolumeSerialNumber ||
        found.nFileIndexHigh != held.nFileIndexHigh || found.nFileIndexLow != held.nFileIndexLow) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    return deleteThrough(again.get());
}

void KitFolder::remove() {
    if (!m_held.valid()) return;
    // Emptied by path, so only while that path still names the held folder.
    if (stillAtItsPath()) {
        if (!removeFolderContents(m_path)) {
            writeLog(L"[WENVAROTH] Folder left, kept by a link in it: %s", m_path);
        } else if (!deleteHeld()) {
            writeLog(L"[WENVAROTH] Kit folder %s left (%d)", m_path, GetLastError());
        }
    }
    release();
}
