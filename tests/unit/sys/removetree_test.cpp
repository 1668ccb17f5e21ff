// What end-to-end runs don't reach: names too long for a path. (A whole kit folder emptied, and one
// with a file in use, scheduled for the next start, are end-to-end cases. Links can't be tested
// here: Wine 8 makes neither symbolic links nor junctions.)
#include "sys/removetree.h"

#include "tests/unit/support.h"

namespace unit_test {
namespace {

using RemoveTree = TempFolderTest;

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
    EXPECT_TRUE(removeFolderContents(root.c_str()));
    // Left in place, not some cut name deleted instead.
    EXPECT_NE(GetFileAttributesW(deep.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(logLines().back(),
              "[WENVAROTH] Path too long, left: " + narrow(inner) + "\\too-long-name.txt");
    DeleteFileW(deep.c_str());
}

}  // namespace
}  // namespace unit_test
