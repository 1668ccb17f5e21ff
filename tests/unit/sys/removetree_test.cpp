// Symbolic links came with Vista; the build declares Windows XP's functions only, and this test
// program runs under Wine alone.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#undef NTDDI_VERSION
#define NTDDI_VERSION 0x06000000

#include "sys/removetree.h"

#include "tests/unit/support.h"

namespace unit_test {
namespace {

using RemoveTree = TempFolderTest;

TEST_F(RemoveTree, NullEmptyAndMissingPaths) {
    EXPECT_EQ(removeFolderTree(nullptr), 0);
    EXPECT_EQ(removeFolderTree(L""), 0);
    EXPECT_TRUE(logLines().empty());
    WideString missing = path(L"missing");
    EXPECT_EQ(removeFolderTree(missing.c_str()), 0);
    EXPECT_EQ(logLines().back(), "[WENVAROTH] Error finding path " + narrow(missing) + " (2)");
}

TEST_F(RemoveTree, APlainFileAndAnEmptyFolder) {
    WideString file = write(L"a.txt", "x");
    WideString other = write(L"b.txt", "y");
    EXPECT_EQ(removeFolderTree(file.c_str()), 1);
    EXPECT_FALSE(exists(file));
    EXPECT_TRUE(exists(other));
    ASSERT_TRUE(CreateDirectoryW(path(L"empty").c_str(), nullptr));
    EXPECT_EQ(removeFolderTree(path(L"empty").c_str()), 1);
    EXPECT_FALSE(exists(path(L"empty")));
}

TEST_F(RemoveTree, NestedFoldersWithHiddenFilesAreEmptiedBottomUp) {
    WideString root = path(L"kit");
    ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((root + L"\\a").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((root + L"\\a\\b").c_str(), nullptr));
    write(L"kit\\top.txt", "1");
    write(L"kit\\a\\mid.txt", "2");
    WideString hidden = write(L"kit\\a\\b\\deep.txt", "3");
    SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(removeFolderTree(root.c_str()), 1);
    EXPECT_FALSE(exists(root));
    EXPECT_TRUE(exists(m_folder));
}

TEST_F(RemoveTree, AFileHeldOpenIsScheduledWithItsFolders) {
    WideString root = path(L"kit");
    ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((root + L"\\sub").c_str(), nullptr));
    WideString held = write(L"kit\\sub\\held.dat", "held");
    write(L"kit\\free.txt", "free");
    HANDLE handle = CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(removeFolderTree(root.c_str()), 1);
    EXPECT_TRUE(exists(held));
    EXPECT_FALSE(exists(path(L"kit\\free.txt")));
    CloseHandle(handle);
    // Scheduled for the next start: the held file, its folder and the root, in that order.
    HKEY key;
    ASSERT_EQ(
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_READ, &key),
        ERROR_SUCCESS);
    std::vector<wchar_t> value(65536);
    DWORD bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    LONG read = RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr,
                                 reinterpret_cast<BYTE*>(value.data()), &bytes);
    RegCloseKey(key);
    ASSERT_EQ(read, ERROR_SUCCESS);
    WideString all(value.data(), bytes / sizeof(wchar_t));
    size_t file = all.find(held);
    size_t sub = all.find(root + L"\\sub" + WideString(1, L'\0'));
    size_t top = all.find(root + WideString(1, L'\0'));
    EXPECT_NE(file, WideString::npos);
    EXPECT_NE(sub, WideString::npos);
    EXPECT_NE(top, WideString::npos);
    EXPECT_LT(file, sub);
    EXPECT_LT(sub, top);
}

TEST_F(RemoveTree, LinksAreRemovedAsLinksAndNeverFollowed) {
    WideString outside = path(L"outside");
    ASSERT_TRUE(CreateDirectoryW(outside.c_str(), nullptr));
    WideString precious = write(L"outside\\precious.txt", "keep");
    WideString root = path(L"kit");
    ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
    WideString folderLink = root + L"\\folderlink";
    WideString fileLink = root + L"\\filelink.txt";
    if (!CreateSymbolicLinkW(folderLink.c_str(), outside.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) ||
        !CreateSymbolicLinkW(fileLink.c_str(), precious.c_str(), 0)) {
        GTEST_SKIP() << "symbolic links cannot be made here (" << GetLastError() << ")";
    }
    DWORD attributes = GetFileAttributesW(folderLink.c_str());
    ASSERT_NE(attributes & FILE_ATTRIBUTE_REPARSE_POINT, 0u)
        << "the platform does not report the link";
    EXPECT_EQ(removeFolderTree(root.c_str()), 1);
    EXPECT_FALSE(exists(root));
    EXPECT_TRUE(exists(precious));
    EXPECT_TRUE(exists(outside));
}

TEST_F(RemoveTree, AGivenLinkIsRemovedWithoutItsTarget) {
    WideString outside = path(L"outside");
    ASSERT_TRUE(CreateDirectoryW(outside.c_str(), nullptr));
    WideString precious = write(L"outside\\precious.txt", "keep");
    ASSERT_TRUE(CreateDirectoryW(path(L"holder").c_str(), nullptr));
    WideString link = path(L"holder\\link");
    if (!CreateSymbolicLinkW(link.c_str(), outside.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY)) {
        GTEST_SKIP() << "symbolic links cannot be made here (" << GetLastError() << ")";
    }
    if (!exists(link)) {
        // Seen under Wine 8.0 for this link made alone (success reported, nothing there after),
        // while the two links of the test above are made and seen.
        GTEST_SKIP() << "the platform reported a link it did not make";
    }
    EXPECT_EQ(removeFolderTree(link.c_str()), 1) << ::testing::PrintToString(logLines());
    EXPECT_FALSE(exists(link));
    EXPECT_TRUE(exists(precious));
}

TEST_F(RemoveTree, EntriesTooLongForAPathAreLeftNotCut) {
    // A folder whose path is near the limit, holding a name that would pass 259 characters.
    WideString root = path(L"kit");
    ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
    size_t room = 259 - root.size() - 1;
    WideString longName(room - 5, L'n');
    WideString inner = root + L"\\" + longName;
    ASSERT_TRUE(CreateDirectoryW(inner.c_str(), nullptr));
    WideString deep = L"\\\\?\\" + inner + L"\\too-long-name.txt";
    HANDLE file = CreateFileW(deep.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    EXPECT_EQ(removeFolderTree(root.c_str()), 1);
    EXPECT_TRUE(exists(deep));  // left in place, not some cut name deleted instead
    auto lines = logLines();
    EXPECT_NE(
        std::find(lines.begin(), lines.end(),
                  "[WENVAROTH] Path too long, left: " + narrow(inner) + "\\too-long-name.txt"),
        lines.end());
    DeleteFileW(deep.c_str());
}

}  // namespace
}  // namespace unit_test
