#include "download/safename.h"

#include <gtest/gtest.h>

namespace {

TEST(SafeName, AnythingThatCouldLeaveTheFolderOrNameADeviceIsRefused) {
    for (const wchar_t* name :
         {L"setup.exe", L"data1.cab", L"a", L"name with blank.txt", L".hidden", L"console.txt",
          L"con1", L"COM10", L"LPT", L"nul_", L"xaux"}) {
        EXPECT_TRUE(isSafePathSegment(name)) << name;
    }
    for (const wchar_t* name :
         {L"", L".", L"..", L"...", L".. ", L"a.", L"a ", L"..\\x", L"a/b", L"C:x", L"C:",
          L"x:stream", L"*", L"a?b", L"a\"b", L"a<b", L"a>b", L"a|b", L"a\tb", L"\\abs",
          // Devices, with or without an extension, in any letter case.
          L"CON", L"prn", L"Aux.txt", L"nul.tar.gz", L"NUL .txt", L"com1", L"COM9.cab", L"lpt1",
          L"LPT9.dat", L"com\u00b9", L"COM0"}) {
        EXPECT_FALSE(isSafePathSegment(name)) << name;
    }
    EXPECT_FALSE(isSafePathSegment(nullptr));
}

TEST(SafeRelativePath, ParentsDrivesAbsoluteAndEmptySegmentsAreRefused) {
    for (const wchar_t* path : {L"data", L"a\\b", L"a/b/c"})
        EXPECT_TRUE(isSafeRelativePath(path)) << path;
    for (const wchar_t* path : {L"", L"..", L"a\\..", L"a\\..\\..", L"a/../b", L"\\abs", L"/abs",
                                L"\\\\server\\share", L"C:\\Windows", L"C:rel", L"a\\", L"a\\\\b",
                                L"a\\ .", L"...", L"data\\con", L"lpt1/data"}) {
        EXPECT_FALSE(isSafeRelativePath(path)) << path;
    }
    EXPECT_FALSE(isSafeRelativePath(nullptr));
}

}  // namespace
