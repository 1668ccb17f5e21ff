#include "download/kitfolder.h"

#include "base/ownedhandle.h"
#include "tests/unit/support.h"

namespace unit_test {
namespace {

// Only a process with administrator rights has anyone below it to keep out of the kit folder; a
// limited user's own process could not write into the protected folder.
TEST(KitFolderSecurity, ProtectedOnlyWithAdministratorRights) {
    EXPECT_STREQ(kitFolderSecurity(true, true),
                 L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)");
    EXPECT_EQ(kitFolderSecurity(false, true), nullptr);  // a limited user on XP: no elevation there
    EXPECT_EQ(kitFolderSecurity(true, false), nullptr);  // an administrator's token not elevated
}

using KitFolderRun = TempFolderTest;

// "%temp%" is taken when absolute and whole: up to 259 characters, and up to 244 when the kit
// folder's name ("\talvotempdirNN") is to fit after it.
TEST_F(KitFolderRun, TemporaryFolderTakenUpToTheLongestThatFits) {
    wchar_t saved[kPathChars];
    ASSERT_NE(GetEnvironmentVariableW(L"TEMP", saved, kPathChars), 0u);
    struct Row {
        const wchar_t* temp;  // else a folder path of `length` characters
        size_t length;
        bool made;
        std::string line;  // the last log line's start, "@" standing for %temp%
    } const rows[] = {
        {L"%temp%", 0, false, "No usable temporary folder (%temp%)"},  // not expanded
        {L".", 0, false, "No usable temporary folder (.)"},  // the current folder, wherever it is
        {nullptr, 244, true, "Kit folder @\\talvotempdir01: "},
        {nullptr, 245, false, "Cannot create a kit folder under @"},
        {nullptr, 259, false, "Cannot create a kit folder under @"},
        {nullptr, 260, false, "No usable temporary folder ()"},
    };
    for (const Row& row : rows) {
        WideString temp = row.temp != nullptr ? row.temp : path(L"t");
        if (row.temp == nullptr) {
            CreateDirectoryW(temp.c_str(), nullptr);
            temp += L"\\" + WideString(row.length - temp.size() - 1, L'p');
            CreateDirectoryW(temp.c_str(), nullptr);
        }
        SCOPED_TRACE(narrow(temp));
        ASSERT_TRUE(SetEnvironmentVariableW(L"TEMP", temp.c_str()));
        KitFolder kit;
        EXPECT_EQ(kit.make(), row.made);
        SetEnvironmentVariableW(L"TEMP", saved);
        std::string line = row.line;
        if (line.find('@') != std::string::npos) line.replace(line.find('@'), 1, narrow(temp));
        EXPECT_EQ(logLines().back().rfind("[WENVAROTH] " + line, 0), 0u) << logLines().back();
        kit.remove();
    }
}

// The last of the 99 names is tried and taken; with all 99 taken nothing is made. Another's folder
// of that name is left alone.
TEST_F(KitFolderRun, TakesTheFirstFreeOfNinetyNineNames) {
    for (int taken : {98, 99}) {
        SCOPED_TRACE(taken);
        WideString temp = path(std::to_wstring(taken).c_str());
        ASSERT_TRUE(CreateDirectoryW(temp.c_str(), nullptr));
        for (int n = 1; n <= taken; ++n) {
            wchar_t leaf[20];
            swprintf(leaf, 20, L"\\talvotempdir%02d", n);
            ASSERT_TRUE(CreateDirectoryW((temp + leaf).c_str(), nullptr));
        }
        KitFolder kit;
        EXPECT_EQ(kit.make(temp.c_str()), taken == 98);
        EXPECT_EQ(WideString(kit.path()), taken == 98 ? temp + L"\\talvotempdir99" : L"");
        EXPECT_EQ(
            logLines().back() == "[WENVAROTH] Cannot create a kit folder under " + narrow(temp),
            taken == 99);
        kit.remove();
        EXPECT_NE(GetFileAttributesW((temp + L"\\talvotempdir98").c_str()),
                  INVALID_FILE_ATTRIBUTES);
    }
}

// Makes `entry` below `root` (a folder when it ends with a backslash, else a file holding
// `content`) through `kit`, or as another program when `kit` is null.
bool makeEntry(KitFolder* kit, const WideString& root, WideString entry, const char* content) {
    bool folder = entry.back() == L'\\';
    if (folder) entry.pop_back();
    WideString path = root + L"\\" + entry;
    wchar_t made[kPathChars];
    if (folder) {
        return kit != nullptr ? kit->makeFolder(entry.c_str(), made)
                              : CreateDirectoryW(path.c_str(), nullptr);
    }
    OwnedHandle file(kit != nullptr ? kit->createFile(path.c_str())
                                    : CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                                  CREATE_NEW, 0, nullptr));
    DWORD wrote = 0;
    return file.valid() && WriteFile(file.get(), content, 5, &wrote, nullptr);
}

// What this run made in the kit folder is its own; anything else found there is refused, never
// taken over or written through.
TEST_F(KitFolderRun, TakesOnlyWhatThisRunMade) {
    struct Case {
        const wchar_t* byRun;    // made by the run first (a folder ends with a backslash)
        const wchar_t* byOther;  // then by another program
        const wchar_t* asked;    // what the run then makes
        bool taken;
        const char* line;  // the log line's start, the entry's path following
    } const cases[] = {
        {L"a\\", nullptr, L"a\\", true, nullptr},  // a level of this run
        {nullptr, L"a\\", L"a\\", false, "Refusing folder "},
        {L"a\\", L"a\\b\\", L"a\\b\\", false, "Refusing folder "},  // planted below a level
        {nullptr, L"a", L"a\\", false, "Cannot create folder "},
        {L"f", nullptr, L"f", true, nullptr},  // a file this run wrote earlier: replaced
        {nullptr, L"f", L"f", false, nullptr},
        {L"f\\", nullptr, L"f", false, nullptr},  // a level of this run where a file goes
    };
    int count = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(narrow(c.asked) + " #" + std::to_string(++count));
        WideString temp = path(std::to_wstring(count).c_str());
        ASSERT_TRUE(CreateDirectoryW(temp.c_str(), nullptr));
        KitFolder kit;
        ASSERT_TRUE(kit.make(temp.c_str()));
        WideString root = kit.path();
        ASSERT_TRUE(c.byRun == nullptr || makeEntry(&kit, root, c.byRun, "first"));
        ASSERT_TRUE(c.byOther == nullptr || makeEntry(nullptr, root, c.byOther, "other"));
        size_t linesBefore = logLines().size();
        EXPECT_EQ(makeEntry(&kit, root, c.asked, "taken"), c.taken);
        WideString entry = root + L"\\" + c.asked;
        if (entry.back() == L'\\') entry.pop_back();
        // A file found is made anew when it was the run's own, else left as it was.
        if (!(GetFileAttributesW(entry.c_str()) & FILE_ATTRIBUTE_DIRECTORY)) {
            EXPECT_EQ(readFile(entry), c.taken ? "taken" : c.byOther ? "other" : "first");
        }
        std::vector<std::string> lines = logLines();
        ASSERT_EQ(lines.size(), linesBefore + (c.line != nullptr ? 1 : 0)) << lines.back();
        if (c.line != nullptr) {
            EXPECT_EQ(lines.back(),
                      "[WENVAROTH] " + std::string(c.line) + narrow(entry) +
                          (c.line[0] == 'R' ? ", which this run did not make" : " (183)"));
        }
        kit.remove();
        EXPECT_EQ(GetFileAttributesW(root.c_str()), INVALID_FILE_ATTRIBUTES) << lines.back();
    }
}

// Held open, the kit folder keeps its name, and is open to every other use. A folder above it can
// still be renamed under Wine (not on NTFS), and something else put at its path: the check before a
// start sees that, and the removal leaves both folders alone rather than empty the newcomer by
// path.
TEST_F(KitFolderRun, HeldUnderItsNameAndCheckedBeforeAStart) {
    WideString temp = path(L"temp");
    ASSERT_TRUE(CreateDirectoryW(temp.c_str(), nullptr));
    KitFolder kit;
    ASSERT_TRUE(kit.make(temp.c_str()));
    WideString held = kit.path();
    EXPECT_FALSE(MoveFileExW(held.c_str(), (temp + L"\\aside").c_str(), 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(RemoveDirectoryW(held.c_str()));
    // Yet it can be listed and be a started program's current folder.
    WIN32_FIND_DATAW found;
    HANDLE listing = FindFirstFileW((held + L"\\*").c_str(), &found);
    EXPECT_NE(listing, INVALID_HANDLE_VALUE);
    FindClose(listing);
    wchar_t current[kPathChars];
    GetCurrentDirectoryW(kPathChars, current);
    EXPECT_TRUE(SetCurrentDirectoryW(held.c_str()));
    SetCurrentDirectoryW(current);
    EXPECT_TRUE(kit.stillAtItsPath());

    ASSERT_TRUE(MoveFileExW(temp.c_str(), path(L"moved").c_str(), 0));
    EXPECT_FALSE(kit.stillAtItsPath());  // nothing at the path
    ASSERT_TRUE(CreateDirectoryW(temp.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(held.c_str(), nullptr));
    write(L"temp\\talvotempdir01\\setup.exe", "planted");
    EXPECT_FALSE(kit.stillAtItsPath());  // a lookalike
    EXPECT_EQ(logLines().back(), "[WENVAROTH] Kit folder " + narrow(held) +
                                     ": no longer the folder this run made; nothing is started "
                                     "from it");
    kit.remove();
    EXPECT_EQ(readFile(held + L"\\setup.exe"), "planted");
    EXPECT_NE(GetFileAttributesW(path(L"moved\\talvotempdir01").c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
}  // namespace unit_test
