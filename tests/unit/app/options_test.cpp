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
    struct Case {
        size_t bytes;
        const wchar_t* result;
    } const cases[] = {
        {0, L""},       {1, L""},
        {5, L"/l"},  // the odd byte is no whole character
        {10, L"/log "}, {26, L"/log /silent"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        GuardedString result;
        EXPECT_TRUE(readRemoteText(GetCurrentProcess(), text, c.bytes, &result));
        EXPECT_STREQ(result.c_str(), c.result);
    }
    GuardedString unread;
    EXPECT_FALSE(readRemoteText(GetCurrentProcess(), nullptr, 8, &unread));
    EXPECT_STREQ(unread.c_str(), L"");
}

TEST(LogPath, NamesAFileNeverADevice) {
    struct Case {
        const wchar_t* path;
        bool plain;
    } const cases[] = {
        {L"downloaderlog.txt", true},
        {L"C:\\logs\\dl.txt", true},
        {L"\\\\server\\share\\dl.txt", true},
        {L"C:\\logs\\console.log", true},
        {L"C:\\logs\\COM10", true},
        {L"C:\\nul\\dl.txt", true},  // only the last part names the file
        {L"\\\\.\\PhysicalDrive0", false},
        {L"//./COM1", false},
        {L"\\\\?\\C:\\dl.txt", false},
        {L"\\??\\C:\\dl.txt", false},
        {L"NUL", false},
        {L"C:\\logs\\nul.txt", false},
        {L"C:\\logs\\Con .log", false},
        {L"C:com1", false},
        {L"lpt9:", false},
        {L"C:/x/CONOUT$", false},
        {L"prn.log", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.path));
        EXPECT_EQ(isPlainFilePath(c.path), c.plain);
    }
}

}  // namespace
