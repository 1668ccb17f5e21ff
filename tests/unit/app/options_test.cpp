#include "app/options.h"

#include <gtest/gtest.h>

#include "app/mainflow.h"
#include "sys/parentprocess.h"

namespace {

TEST(ParseOptions, NamesAndValues) {
    struct Case {
        const wchar_t* text;
        OptionMap options;
    } const cases[] = {
        {L"", {}},
        {L"    ", {}},
        // Inner colons stay, one trailing colon goes.
        {L"/silent /log:C:\\x\\dl.txt /other:a:b:",
         {{L"silent", L""}, {L"log", L"C:\\x\\dl.txt"}, {L"other", L"a:b"}}},
        {L"/log:", {{L"log", L""}}},
        {L"/log:a:", {{L"log", L"a"}}},
        // Names are case-sensitive and need a slash outside quotes.
        {L"/Silent /SILENT -silent \"/silent\"", {{L"Silent", L""}, {L"SILENT", L""}}},
        {L"/log:a /log:b", {{L"log", L"a"}}},  // the first occurrence wins
        {L"/log:\"C:\\my  logs\\dl.txt\" /silent",
         {{L"log", L"C:\\my  logs\\dl.txt"}, {L"silent", L""}}},
        {L"/log:\"\"", {{L"log", L""}}},
        {L"/log:C:\\my logs\\dl.txt", {{L"log", L"C:\\my"}}},
        {L"/log C:\\x.txt", {{L"log", L""}}},
        // The parent's program path is never an option.
        {L"\"C:\\Program Files\\Vendor App\\run.exe\" /silent", {{L"silent", L""}}},
        // An unterminated quote swallows the rest.
        {L"/log:\"C:\\a.txt /silent", {{L"log", L"C:\\a.txt /silen"}}},
        {L"/silent\t/log", {{L"silent\t/log", L""}}},  // tabs are ordinary characters
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text));
        EXPECT_EQ(parseOptions(c.text), c.options);
    }
}

// The parent's command line is read with the length its own memory states: an odd or overstated
// length must give a defined text, never one that runs past what was copied.
TEST(ParentCommandLine, LengthFromTheOtherProcessIsBoundedByTheCopy) {
    const wchar_t text[] = L"/log /silent";
    // Byte counts: the odd byte of 5 is no whole character.
    const std::pair<size_t, const wchar_t*> cases[] = {
        {0, L""}, {1, L""}, {5, L"/l"}, {10, L"/log "}, {26, L"/log /silent"}};
    for (const auto& c : cases) {
        GuardedString result;
        EXPECT_TRUE(readRemoteText(GetCurrentProcess(), text, c.first, &result));
        EXPECT_STREQ(result.c_str(), c.second) << c.first;
    }
    GuardedString unread;
    EXPECT_FALSE(readRemoteText(GetCurrentProcess(), nullptr, 8, &unread));
    EXPECT_STREQ(unread.c_str(), L"");
}

TEST(LogPath, NamesAFileNeverADevice) {
    for (const wchar_t* path : {L"downloaderlog.txt", L"\\\\server\\share\\dl.txt", L"C:\\COM10",
                                L"C:\\nul\\dl.txt", L"C:\\logs\\console.log"}) {
        EXPECT_TRUE(isPlainFilePath(path)) << testing::PrintToString(path);
    }
    for (const wchar_t* path :
         {L"\\\\.\\PhysicalDrive0", L"//./COM1", L"\\\\?\\C:\\dl.txt", L"\\??\\C:\\dl.txt", L"NUL",
          L"C:\\logs\\nul.txt", L"Con .log", L"C:com1", L"lpt9:", L"C:/x/CONOUT$"}) {
        EXPECT_FALSE(isPlainFilePath(path)) << testing::PrintToString(path);
    }
}

}  // namespace
