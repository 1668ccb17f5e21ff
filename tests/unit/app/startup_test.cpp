// Start-up rules at edges that whole runs do not reach: options, the log, the operating-system
// code, the affiliate tag, free space, bounded texts and a resource library's conversions. (The
// runs themselves, and the stop on an unsupported system, are end-to-end cases.)
#include "tests/unit/support.h"

#include "app/mainflow.h"
#include "app/options.h"
#include "app/osversion.h"

namespace unit_test {
namespace {

TEST(ParseOptions, NamesAndValues) {
    struct Case {
        const wchar_t* text;
        OptionMap options;
    } const cases[] = {
        {L"", {}},
        // Inner colons stay, one trailing colon goes.
        {L"/silent /log:C:\\x\\dl.txt /other:a:b:",
         {{L"silent", L""}, {L"log", L"C:\\x\\dl.txt"}, {L"other", L"a:b"}}},
        {L"/log:", {{L"log", L""}}},
        // Names are case-sensitive and need a slash outside quotes.
        {L"/Silent /SILENT -silent \"/silent\"", {{L"Silent", L""}, {L"SILENT", L""}}},
        {L"/log:a /log:b", {{L"log", L"a"}}},  // the first occurrence wins
        {L"/log:\"C:\\my  logs\\dl.txt\" /silent",
         {{L"log", L"C:\\my  logs\\dl.txt"}, {L"silent", L""}}},
        {L"/log:\"\"", {{L"log", L""}}},
        {L"/log:C:\\my logs\\dl.txt", {{L"log", L"C:\\my"}}},
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

TEST(LogPath, NamesAFileNeverADevice) {
    for (const wchar_t* path : {L"downloaderlog.txt", L"\\\\server\\share\\dl.txt", L"C:\\COM10",
                                L"C:\\nul\\dl.txt", L"C:\\logs\\console.log"}) {
        EXPECT_TRUE(isPlainFilePath(path)) << testing::PrintToString(path);
    }
    for (const wchar_t* path :
         {L"\\\\.\\PhysicalDrive0", L"//./COM1", L"\\\\?\\C:\\dl.txt", L"\\??\\C:\\dl.txt", L"NUL",
          L"C:\\logs\\com0.txt", L"C:com1", L"C:/x/CONOUT$"}) {  // devices: base/devicename.h
        EXPECT_FALSE(isPlainFilePath(path)) << testing::PrintToString(path);
    }
}

using Log = TempFolderTest;  // with the log open beside the test's folder

TEST_F(Log, EachCallOneWholeLineFlushedAtOnce) {
    writeLog(L"[WENVAROTH] path %s", L"C:\\100%d\\a.txt");  // a value is never read as a format
    // Flushed per line: another reader sees it before the file is closed.
    EXPECT_NE(readFile(m_logFile).find("] [WENVAROTH] path C:\\100%d\\a.txt\r\n"),
              std::string::npos);
    writeLog(L"a\u00e9b\u4e2dc %s", L"\u0416end");       // unrepresentable characters become "?"
    writeLog(L"%s|", std::wstring(5000, L'x').c_str());  // long messages are not cut
    EXPECT_EQ(logLines(), (std::vector<std::string>{"[WENVAROTH] path C:\\100%d\\a.txt",
                                                    "a\xe9"
                                                    "b?c ?end",
                                                    std::string(5000, 'x') + "|"}));
}

// (Windows 2000 and 8, servers and a server answer are stops of end-to-end cases.)
TEST(OperatingSystemCode, ClassifiesEveryRow) {
    const BYTE ws = VER_NT_WORKSTATION, server = VER_NT_SERVER;
    struct Case {
        DWORD major, minor;
        BYTE type;
        const wchar_t* servicePack;
        int code;
    } const cases[] = {
        {5, 1, ws, L"", 1},
        {5, 2, server, L"", 1},  // product type not looked at on 5.x
        {6, 0, ws, L"", 2},
        {6, 0, ws, L"Service Pack 2", 3},
        {6, 0, server, L"Service Pack 2", 0},
        {6, 1, ws, L"Service Pack 1", 4},
        {10, 0, ws, L"", 2},  // only the minor version counts from 6 on
    };
    for (const Case& c : cases) {
        OsProbeAnswers a = {};
        a.versionOk = TRUE;
        a.version.dwMajorVersion = c.major;
        a.version.dwMinorVersion = c.minor;
        a.version.wProductType = c.type;
        wcsncpy(a.version.szCSDVersion, c.servicePack, 127);
        EXPECT_EQ(classifyOs(a), c.code) << c.major << "." << c.minor << " type " << int(c.type);
        a.versionOk = FALSE;  // a failed query
        EXPECT_EQ(classifyOs(a), 0);
    }
}

TEST(AffiliateTag, TakenFromTheParentsFileNameOnly) {
    struct Case {
        const wchar_t* parent;
        size_t room;
        const wchar_t* tag;  // nullptr: none taken
    } const cases[] = {
        {L"C:\\dl\\setup[].exe", 260, L""},        {L"C:\\a]\\x]y[z]w[v].exe", 260, L"z"},
        {L"C:\\a[b]\\run.exe", 260, nullptr},      {L"C:\\dl\\product[partner7.exe", 260, nullptr},
        {L"C:\\dl\\product]x[.exe", 260, nullptr}, {L"C:\\p[1234567].exe", 8, L"1234567"},
        {L"C:\\p[12345678].exe", 8, nullptr},  // too long for its place: refused, not cut
    };
    for (const Case& c : cases) {
        wchar_t tag[260] = L"old";
        EXPECT_EQ(takeAffiliateTag(c.parent, tag, c.room), c.tag != nullptr) << c.parent;
        EXPECT_STREQ(tag, c.tag != nullptr ? c.tag : L"");
    }
}

TEST(FreeSpace, ShortfallRoundedUpToWholeMegabytes) {
    const unsigned long long need = 838860800ULL;  // 800 MB
    // Free bytes, and the megabytes to free (0: enough).
    const std::pair<unsigned long long, unsigned> cases[] = {
        {need, 0}, {need - 1, 1}, {need - 1048576, 1}, {need - 1048577, 2}, {0, 800}};
    for (const auto& c : cases) {
        unsigned shortfall = 0;
        EXPECT_EQ(hasEnoughSpace(c.first, &shortfall), c.second == 0) << c.first;
        EXPECT_EQ(shortfall, c.second) << c.first;
    }
}

TEST(BoundedText, OverflowIsAReportedFailureNeverAWritePastTheEnd) {
    wchar_t buffer[8];
    EXPECT_TRUE(textCopy(buffer, L"1234567"));
    EXPECT_FALSE(textCopy(buffer, L"12345678"));
    EXPECT_STREQ(buffer, L"");  // no cut-off text that could name something else
    EXPECT_TRUE(textCopy(buffer, L"abc"));
    EXPECT_FALSE(textAppend(buffer, L"defgh"));
    EXPECT_STREQ(buffer, L"abc");
    EXPECT_TRUE(textAppend(buffer, L"defg"));
    EXPECT_FALSE(textFormat(buffer, 8, L"%s-%d", L"long", 12345));
    EXPECT_STREQ(buffer, L"");
    wchar_t path[16] = L"C:\\kit";
    EXPECT_TRUE(pathJoin(path, L"\\a") && pathJoin(path, L"") && pathJoin(path, L"b.txt"));
    EXPECT_STREQ(path, L"C:\\kit\\a\\b.txt");  // one backslash between the parts
    EXPECT_FALSE(pathJoin(path, L"c"));        // 16 characters with the terminator would not fit
    EXPECT_STREQ(path, L"C:\\kit\\a\\b.txt");
}

// A resource library's text becomes a format only with the executable's own conversions: any
// other would make the formatter read (or, with "%n", write) through a wrong argument.
TEST(ResourceFormat, TakesOnlyTheOwnConversionsInTheirOrder) {
    const wchar_t* os = L"%s cannot be installed on your operating system.";
    EXPECT_TRUE(sameConversions(L"100%% sicher: %s %%s", os));  // "%%" is no conversion
    for (const wchar_t* text : {L"%ls", L"%10s", L"%s 100%", L"none", L""}) {
        EXPECT_FALSE(sameConversions(text, os)) << testing::PrintToString(text);
    }
    const wchar_t* space = L"Not enough free space on drive %s. Please free %d MB.";
    EXPECT_TRUE(sameConversions(L"Laufwerk %s: %d MB fehlen.", space));
    EXPECT_FALSE(sameConversions(L"%d MB fehlen auf %s.", space));  // the order counts
    EXPECT_TRUE(sameConversions(L"none", L"nothing either"));
}

}  // namespace
}  // namespace unit_test
