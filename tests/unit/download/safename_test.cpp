#include "download/safename.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <utility>

#include "base/devicename.h"

namespace {

// The one device-name rule of the log path and the kit's names.
TEST(DeviceName, ReservedNamesWithAnyExtensionStreamOrCase) {
    for (const wchar_t* name : {L"CON", L"prn", L"Aux.txt", L"nul.tar.gz", L"NUL .txt", L"com1",
                                L"COM9.cab", L"COM0", L"lpt1", L"LPT9.dat", L"lpt0", L"com\u00b9",
                                L"LPT\u00b3.x", L"lpt9:", L"conin$", L"CONOUT$.log"}) {
        EXPECT_TRUE(isDeviceName(name, wcslen(name))) << name;
    }
    for (const wchar_t* name : {L"console.txt", L"con1", L"COM10", L"LPT", L"nul_", L"xaux",
                                L"com\u00b4", L"conin", L"", L".con"}) {
        EXPECT_FALSE(isDeviceName(name, wcslen(name))) << name;
    }
}

TEST(SafeName, AnythingThatCouldLeaveTheFolderOrNameADeviceIsRefused) {
    for (const wchar_t* name :
         {L"setup.exe", L"data1.cab", L"a", L"name with blank.txt", L".hidden", L"console.txt"}) {
        EXPECT_TRUE(isSafePathSegment(name)) << name;
    }
    for (const wchar_t* name :
         {L"",      L".",   L"..",  L"...", L".. ",      L"a.",    L"a ",
          L"..\\x", L"a/b", L"C:x", L"C:",  L"x:stream", L"*",     L"a?b",
          L"a\"b",  L"a<b", L"a>b", L"a|b", L"a\tb",     L"\\abs", L"Aux.txt"}) {
        EXPECT_FALSE(isSafePathSegment(name)) << name;
    }
    EXPECT_FALSE(isSafePathSegment(nullptr));
}

// Empty and "." segments name no level: the folder made and the address asked for are built
// from the same form. Null: refused.
TEST(SafeRelativePath, DroppedSegmentsGoParentsDrivesAbsoluteAndDevicesAreRefused) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"data", L"data"},        {L"a\\b", L"a/b"},       {L"a/b/c", L"a/b/c"},
        {L"cabs\\", L"cabs"},      {L"cabs/", L"cabs"},     {L"./cabs", L"cabs"},
        {L"a//b", L"a/b"},         {L"a\\.\\b\\.", L"a/b"}, {L".", L""},
        {L"..", nullptr},          {L"a\\..", nullptr},     {L"a/../b", nullptr},
        {L"\\abs", nullptr},       {L"/abs", nullptr},      {L"\\\\server\\share", nullptr},
        {L"C:\\Windows", nullptr}, {L"C:rel", nullptr},     {L"a\\ .", nullptr},
        {L"...", nullptr},         {L"a\\b.", nullptr},     {L"data\\con", nullptr},
        {L"lpt1/data", nullptr}};
    for (const auto& c : cases) {
        wchar_t out[8] = L"x";
        EXPECT_EQ(isSafeRelativePath(c.first), c.second != nullptr) << c.first;
        EXPECT_EQ(normalizeRelativePath(c.first, L'/', out, 8), c.second != nullptr) << c.first;
        EXPECT_STREQ(out, c.second ? c.second : L"") << c.first;
    }
    wchar_t out[4];
    EXPECT_FALSE(normalizeRelativePath(L"ab/cd", L'/', out, 4));  // does not fit: refused whole
    EXPECT_FALSE(isSafeRelativePath(nullptr));
}

}  // namespace
