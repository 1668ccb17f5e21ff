// What end-to-end runs don't reach: odd arguments and names too long for a path. (A kit folder
// with a file in use, scheduled for the next start, is an end-to-end case. Links can't be tested
// here: Wine 8 makes neither symbolic links nor junctions.)
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

TEST_F(RemoveTree, AFileOrAWholeTreeGoesAndNothingBesideIt) {
    WideString file = write(L"a.txt", "x");
    WideString other = write(L"b.txt", "y");
    EXPECT_EQ(removeFolderTree(file.c_str()), 1);
    EXPECT_FALSE(exists(file));
    EXPECT_TRUE(exists(other));

    WideString root = path(L"kit");
    ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((root + L"\\a").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((root + L"\\a\\b").c_str(), nullptr));
    write(L"kit\\a\\mid.txt", "2");
    SetFileAttributesW(write(L"kit\\a\\b\\deep.txt", "3").c_str(), FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(removeFolderTree(root.c_str()), 1);
    EXPECT_FALSE(exists(root));
    EXPECT_TRUE(exists(other));
}

TEST_F(RemoveTree, EntriesTooLongForAPathAreLeftNotCut) {
    // A folder whose path is near the limit, holding a name that would pass 259 characters.
    WideString root = path(L"kit");
    ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
    WideString inner = root + L"\\" + WideString(259 - root.size() - 6, L'n');
    ASSERT_TRUE(CreateDirectoryW(inner.c_str(), nullptr));
    WideString deep = L"\\\\?\\" + inner + L"\\too-long-name.txt";
    HANDLE file = CreateFileW(deep.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    EXPECT_EQ(removeFolderTree(root.c_str()), 1);
    EXPECT_TRUE(exists(deep));  // left in place, not some cut name deleted instead
    EXPECT_EQ(logLines().back(),
              "[WENVAROTH] Path too long, left: " + narrow(inner) + "\\too-long-name.txt");
    DeleteFileW(deep.c_str());
}

}  // namespace
}  // namespace unit_test
