// Start-up decisions: operating-system code, affiliate tag, free space, bounded texts, the
// per-thread text buffers.
#include <gtest/gtest.h>

#include "app/mainflow.h"
#include "app/osversion.h"
#include "app/runstate.h"
#include "res/resource.h"

namespace {

OsProbeAnswers answers(DWORD major, DWORD minor, BYTE type, const wchar_t* servicePack = L"",
                       BOOL server = FALSE, BOOL ok = TRUE) {
    OsProbeAnswers a;
    a.isServer = server;
    a.versionOk = ok;
    a.version.dwMajorVersion = major;
    a.version.dwMinorVersion = minor;
    a.version.wProductType = type;
    wcsncpy(a.version.szCSDVersion, servicePack, 127);
    return a;
}

TEST(OperatingSystemCode, ClassifiesEveryRow) {
    const BYTE ws = VER_NT_WORKSTATION, server = VER_NT_SERVER;
    EXPECT_EQ(classifyOs(answers(5, 0, ws)), 0);
    EXPECT_EQ(classifyOs(answers(5, 1, ws)), 1);
    EXPECT_EQ(classifyOs(answers(5, 2, server)), 1);  // product type not looked at on 5.x
    EXPECT_EQ(classifyOs(answers(4, 9, ws)), 0);
    EXPECT_EQ(classifyOs(answers(6, 0, ws)), 2);
    EXPECT_EQ(classifyOs(answers(6, 0, ws, L"Service Pack 2")), 3);
    EXPECT_EQ(classifyOs(answers(6, 0, server, L"Service Pack 2")), 0);
    EXPECT_EQ(classifyOs(answers(6, 1, ws)), 4);
    EXPECT_EQ(classifyOs(answers(6, 1, ws, L"Service Pack 1")), 4);
    EXPECT_EQ(classifyOs(answers(6, 1, VER_NT_DOMAIN_CONTROLLER)), 0);
    EXPECT_EQ(classifyOs(answers(6, 2, ws)), 0);
    EXPECT_EQ(classifyOs(answers(10, 0, ws)), 2);  // only the minor version counts from 6 on
}

TEST(OperatingSystemCode, ServerAnswerOrFailedQueryGivesZero) {
    EXPECT_EQ(classifyOs(answers(6, 1, VER_NT_WORKSTATION, L"", TRUE)), 0);
    EXPECT_EQ(classifyOs(answers(6, 1, VER_NT_WORKSTATION, L"", FALSE, FALSE)), 0);
}

TEST(AffiliateTag, TakenFromTheParentsFileNameOnly) {
    wchar_t tag[260];
    EXPECT_TRUE(takeAffiliateTag(L"C:\\dl\\product[partner7].exe", tag, 260));
    EXPECT_STREQ(tag, L"partner7");
    EXPECT_TRUE(takeAffiliateTag(L"C:\\dl\\setup[].exe", tag, 260));
    EXPECT_STREQ(tag, L"");
    EXPECT_TRUE(takeAffiliateTag(L"C:\\a]\\x]y[z]w[v].exe", tag, 260));
    EXPECT_STREQ(tag, L"z");
    EXPECT_FALSE(takeAffiliateTag(L"C:\\a[b]\\run.exe", tag, 260));
    EXPECT_FALSE(takeAffiliateTag(L"C:\\dl\\product[partner7.exe", tag, 260));
    EXPECT_FALSE(takeAffiliateTag(L"C:\\dl\\product]x[.exe", tag, 260));
    EXPECT_FALSE(takeAffiliateTag(L"", tag, 260));
    EXPECT_STREQ(tag, L"");
}

TEST(AffiliateTag, TagTooLongForItsPlaceIsRefused) {
    wchar_t tag[8];
    EXPECT_FALSE(takeAffiliateTag(L"C:\\p[12345678].exe", tag, 8));
    EXPECT_STREQ(tag, L"");
    EXPECT_TRUE(takeAffiliateTag(L"C:\\p[1234567].exe", tag, 8));
}

TEST(FreeSpace, ThresholdAndShortfallRoundedUp) {
    unsigned shortfall = 12345;
    EXPECT_TRUE(hasEnoughSpace(838860800ULL, &shortfall));
    EXPECT_TRUE(hasEnoughSpace(~0ULL, &shortfall));
    EXPECT_EQ(shortfall, 12345u);
    EXPECT_FALSE(hasEnoughSpace(838860799ULL, &shortfall));
    EXPECT_EQ(shortfall, 1u);  // one byte short still asks for a whole MB, never for 0 MB
    EXPECT_FALSE(hasEnoughSpace(838860800ULL - 1048576ULL, &shortfall));
    EXPECT_EQ(shortfall, 1u);
    EXPECT_FALSE(hasEnoughSpace(838860800ULL - 1048577ULL, &shortfall));
    EXPECT_EQ(shortfall, 2u);
    EXPECT_FALSE(hasEnoughSpace(0, &shortfall));
    EXPECT_EQ(shortfall, 800u);
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
