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

TEST_F(KitFolderRun, RelativeOrOverlongTemporaryFolderIsRefused) {
    KitFolder kit;
    EXPECT_FALSE(kit.make(L"%temp%"));
    EXPECT_FALSE(kit.make(L"."));  // the current folder, wherever that is
    WideString deep = L"C:\\" + WideString(250, L'd');
    EXPECT_FALSE(kit.make(deep.c_str()));
    EXPECT_STREQ(kit.path(), L"");
}

// The last of the 99 names is tried and taken; with all 99 taken nothing is made.
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
        if (taken == 99) {
            EXPECT_EQ(logLines().back(),
                      "[WENVAROTH] Cannot create a kit folder under " + narrow(temp));
        }
        kit.remove();
    }
}

// What stands in the kit folder before the run asks for an entry: made by the run itself, or by
// another program.
void runFolder(KitFolder& kit, const wchar_t* relative) {
    wchar_t folder[kPathChars];
    ASSERT_TRUE(kit.makeFolder(relative, folder));
}
void otherFolder(const WideString& root, const wchar_t* relative) {
    ASSERT_TRUE(CreateDirectoryW((root + L"\\" + relative).c_str(), nullptr));
}
void writeBefore(HANDLE made) {
    OwnedHandle file(made);
    DWORD wrote = 0;
    ASSERT_TRUE(WriteFile(file.get(), "before", 6, &wrote, nullptr));
}
void runFile(KitFolder& kit, const WideString& root, const wchar_t* relative) {
    writeBefore(kit.createFile((root + L"\\" + relative).c_str()));
}
void otherFile(const WideString& root, const wchar_t* relative) {
    writeBefore(CreateFileW((root + L"\\" + relative).c_str(), GENERIC_WRITE, 0, nullptr,
                            CREATE_NEW, 0, nullptr));
}

// What this run made in the kit folder is its own; anything else found there is refused, never
// taken over or written through.
TEST_F(KitFolderRun, TakesOnlyWhatThisRunMade) {
    using Before = void (*)(KitFolder&, const WideString&);
    struct Case {
        const char* name;
        Before before;
        bool folder;  // a level is asked for, else a file
        const wchar_t* entry;
        bool taken;
        const char* line;  // the log line's start, the entry's path following
    } const cases[] = {
        {"level of this run", [](KitFolder& k, const WideString&) { runFolder(k, L"a"); }, true,
         L"a", true, nullptr},
        {"level of another", [](KitFolder&, const WideString& r) { otherFolder(r, L"a"); }, true,
         L"a", false, "Refusing folder "},
        {"planted below a level of this run",
         [](KitFolder& k, const WideString& r) { runFolder(k, L"a"), otherFolder(r, L"a\\b"); },
         true, L"a\\b", false, "Refusing folder "},
        {"file where a level goes", [](KitFolder&, const WideString& r) { otherFile(r, L"a"); },
         true, L"a", false, "Cannot create folder "},
        {"file written earlier", [](KitFolder& k, const WideString& r) { runFile(k, r, L"f"); },
         false, L"f", true, nullptr},
        {"file of another", [](KitFolder&, const WideString& r) { otherFile(r, L"f"); }, false,
         L"f", false, nullptr},
        {"level where a file goes", [](KitFolder& k, const WideString&) { runFolder(k, L"f"); },
         false, L"f", false, nullptr},
    };
    int count = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WideString temp = path(std::to_wstring(++count).c_str());
        ASSERT_TRUE(CreateDirectoryW(temp.c_str(), nullptr));
        KitFolder kit;
        ASSERT_TRUE(kit.make(temp.c_str()));
        WideString root = kit.path();
        c.before(kit, root);
        WideString entry = root + L"\\" + c.entry;
        size_t linesBefore = logLines().size();
        if (c.folder) {
            wchar_t folder[kPathChars];
            folder[0] = L'\0';
            EXPECT_EQ(kit.makeFolder(c.entry, folder), c.taken);
            EXPECT_EQ(WideString(folder), entry);
        } else {
            OwnedHandle file(kit.createFile(entry.c_str()));
            DWORD error = GetLastError();
            EXPECT_EQ(file.valid(), c.taken);
            EXPECT_EQ(error, c.taken ? error : static_cast<DWORD>(ERROR_ALREADY_EXISTS));
        }
        // A file found is made anew when it was the run's own, else left as it was.
        if (!(GetFileAttributesW(entry.c_str()) & FILE_ATTRIBUTE_DIRECTORY)) {
            EXPECT_EQ(readFile(entry), c.taken ? "" : "before");
        }
        std::vector<std::string> lines = logLines();
        ASSERT_EQ(lines.size(), linesBefore + (c.line != nullptr ? 1 : 0)) << lines.back();
        if (c.line != nullptr) {
            EXPECT_EQ(lines.back().rfind("[WENVAROTH] " + std::string(c.line) + narrow(entry), 0),
                      0u)
                << lines.back();
        }
        kit.remove();
        EXPECT_EQ(GetFileAttributesW(root.c_str()), INVALID_FILE_ATTRIBUTES) << logLines().back();
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
