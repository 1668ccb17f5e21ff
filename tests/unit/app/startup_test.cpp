// Start-up decisions: operating-system code, affiliate tag, free space, bounded texts, the
// per-thread text buffers.
#include <gtest/gtest.h>

#include "app/mainflow.h"
#include "app/osversion.h"
#include "base/runstate.h"
#include "res/resource.h"

namespace {

TEST(OperatingSystemCode, ClassifiesEveryRow) {
    const BYTE ws = VER_NT_WORKSTATION, server = VER_NT_SERVER;
    struct Case {
        DWORD major, minor;
        BYTE type;
        const wchar_t* servicePack;
        BOOL isServer, versionOk;
        int code;
    } const cases[] = {
        {5, 0, ws, L"", FALSE, TRUE, 0},
        {5, 1, ws, L"", FALSE, TRUE, 1},
        {5, 2, server, L"", FALSE, TRUE, 1},  // product type not looked at on 5.x
        {4, 9, ws, L"", FALSE, TRUE, 0},
        {6, 0, ws, L"", FALSE, TRUE, 2},
        {6, 0, ws, L"Service Pack 2", FALSE, TRUE, 3},
        {6, 0, server, L"Service Pack 2", FALSE, TRUE, 0},
        {6, 1, ws, L"", FALSE, TRUE, 4},
        {6, 1, ws, L"Service Pack 1", FALSE, TRUE, 4},
        {6, 1, VER_NT_DOMAIN_CONTROLLER, L"", FALSE, TRUE, 0},
        {6, 2, ws, L"", FALSE, TRUE, 0},
        {10, 0, ws, L"", FALSE, TRUE, 2},  // only the minor version counts from 6 on
        {6, 1, ws, L"", TRUE, TRUE, 0},    // the server answer wins
        {6, 1, ws, L"", FALSE, FALSE, 0},  // a failed query
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.major << "." << c.minor << " type " << int(c.type)
                                        << " server " << c.isServer << " ok " << c.versionOk);
        OsProbeAnswers a = {};
        a.isServer = c.isServer;
        a.versionOk = c.versionOk;
        a.version.dwMajorVersion = c.major;
        a.version.dwMinorVersion = c.minor;
        a.version.wProductType = c.type;
        wcsncpy(a.version.szCSDVersion, c.servicePack, 127);
        EXPECT_EQ(classifyOs(a), c.code);
    }
}

TEST(AffiliateTag, TakenFromTheParentsFileNameOnly) {
    struct Case {
        const wchar_t* parent;
        size_t room;
        bool taken;
        const wchar_t* tag;
    } const cases[] = {
        {L"C:\\dl\\product[partner7].exe", 260, true, L"partner7"},
        {L"C:\\dl\\setup[].exe", 260, true, L""},
        {L"C:\\a]\\x]y[z]w[v].exe", 260, true, L"z"},
        {L"C:\\a[b]\\run.exe", 260, false, L""},
        {L"C:\\dl\\product[partner7.exe", 260, false, L""},
        {L"C:\\dl\\product]x[.exe", 260, false, L""},
        {L"", 260, false, L""},
        {L"C:\\p[1234567].exe", 8, true, L"1234567"},
        {L"C:\\p[12345678].exe", 8, false, L""},  // too long for its place: refused, not cut
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.parent));
        wchar_t tag[260];
        wcscpy(tag, L"old");
        EXPECT_EQ(takeAffiliateTag(c.parent, tag, c.room), c.taken);
        EXPECT_STREQ(tag, c.tag);
    }
}

TEST(FreeSpace, ThresholdAndShortfallRoundedUp) {
    struct Case {
        unsigned long long freeBytes;
        bool enough;
        unsigned shortfall;  // left as it was when there is enough
    } const cases[] = {
        {838860800ULL, true, 12345},
        {~0ULL, true, 12345},
        {838860799ULL, false, 1},  // one byte short still asks for a whole MB, never for 0 MB
        {838860800ULL - 1048576ULL, false, 1},
        {838860800ULL - 1048577ULL, false, 2},
        {0, false, 800},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.freeBytes);
        unsigned shortfall = 12345;
        EXPECT_EQ(hasEnoughSpace(c.freeBytes, &shortfall), c.enough);
        EXPECT_EQ(shortfall, c.shortfall);
    }
}

TEST(BoundedText, OverflowIsAReportedFailureNeverAWritePastTheEnd) {
    wchar_t buffer[8];
    buffer[7] = L'#';
    EXPECT_TRUE(textCopy(buffer, L"1234567"));
    EXPECT_STREQ(buffer, L"1234567");
    EXPECT_FALSE(textCopy(buffer, L"12345678"));
    EXPECT_STREQ(buffer, L"");  // no cut-off text that could name something else
    EXPECT_TRUE(textCopy(buffer, L"abc"));
    EXPECT_FALSE(textAppend(buffer, L"defgh"));
    EXPECT_STREQ(buffer, L"abc");
    EXPECT_TRUE(textAppend(buffer, L"defg"));
    EXPECT_STREQ(buffer, L"abcdefg");
    EXPECT_FALSE(textFormat(buffer, 8, L"%s-%d", L"long", 12345));
    EXPECT_STREQ(buffer, L"");
    EXPECT_TRUE(textFormat(buffer, 8, L"%s %d", L"ab", 42));
    EXPECT_STREQ(buffer, L"ab 42");
}

TEST(BoundedText, PathJoinAddsOneBackslash) {
    wchar_t path[16] = L"C:\\kit";
    EXPECT_TRUE(pathJoin(path, L"\\a"));
    EXPECT_STREQ(path, L"C:\\kit\\a");
    EXPECT_TRUE(pathJoin(path, L""));
    EXPECT_STREQ(path, L"C:\\kit\\a\\");
    EXPECT_TRUE(pathJoin(path, L"b.txt"));
    EXPECT_STREQ(path, L"C:\\kit\\a\\b.txt");
    EXPECT_FALSE(pathJoin(path, L"c"));  // 16 characters with the terminator would not fit
    EXPECT_STREQ(path, L"C:\\kit\\a\\b.txt");
    wchar_t empty[4] = L"";
    EXPECT_TRUE(pathJoin(empty, L"x"));
    EXPECT_STREQ(empty, L"x");
}

// A resource library's text becomes a format only with the executable's own conversions: any
// other would make the formatter read (or, with "%n", write) through a wrong argument.
TEST(ResourceFormat, TakesOnlyTheOwnConversionsInTheirOrder) {
    const wchar_t* os = L"%s cannot be installed on your operating system.";
    for (const wchar_t* text : {os, L"%s kann hier nicht laufen.", L"100%% sicher: %s %%s"}) {
        EXPECT_TRUE(sameConversions(text, os)) << testing::PrintToString(text);
    }
    for (const wchar_t* text :
         {L"%s %s", L"%s%n", L"%d", L"%ls", L"%10s", L"none", L"%s 100%", L""}) {
        EXPECT_FALSE(sameConversions(text, os)) << testing::PrintToString(text);
    }
    const wchar_t* space = L"Not enough free space on drive %s. Please free %d MB.";
    EXPECT_TRUE(sameConversions(L"Laufwerk %s: %d MB fehlen.", space));
    EXPECT_FALSE(sameConversions(L"%d MB fehlen auf %s.", space));  // the order counts
    EXPECT_TRUE(sameConversions(L"none", L"nothing either"));
}

DWORD WINAPI loadOnWorker(LPVOID) {
    getResourceText(IDS_QUIT_QUESTION);
    return 0;
}

TEST(ResourceText, MainThreadTextSurvivesTheWorkersLoads) {
    g_mainThreadId = GetCurrentThreadId();
    g_resourceModule = GetModuleHandleW(nullptr);
    const wchar_t* text = getResourceText(IDS_ESTIMATING);
    HANDLE worker = CreateThread(nullptr, 0, loadOnWorker, nullptr, 0, nullptr);
    ASSERT_NE(worker, nullptr);
    WaitForSingleObject(worker, INFINITE);
    CloseHandle(worker);
    EXPECT_STREQ(text, L"Estimating...");
    EXPECT_STREQ(getResourceText(IDS_NOT_ENOUGH_SPACE),
                 L"Not enough free space on drive %s. Please free %d MB.");
    EXPECT_STREQ(getResourceText(9999), L"");
    g_mainThreadId = 0;
}

}  // namespace
