#include "download/kitlist.h"

#include "download/url.h"
#include "download/kitfolder.h"
#include "download/localfile.h"
#include "tests/unit/support.h"

namespace unit_test {
namespace {

TEST(AppendUrlSegment, OneSlashBetweenAndOverflowLeavesTheUrlAsItWas) {
    const WideString base(250, L'b');
    struct Case {
        WideString url;
        const wchar_t* segment;
        bool joined;
        WideString result;
    } const cases[] = {
        {L"http://host/kit", L"kitmd5.dat", true, L"http://host/kit/kitmd5.dat"},
        {L"http://host/kit/", L"kitmd5.dat", true, L"http://host/kit/kitmd5.dat"},
        {base, L"12345678", true, base + L"/12345678"},  // 250 + 1 + 8 = 259 fits
        {base, L"123456789", false, base},               // 260 does not
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url.size());
        wchar_t url[kPathChars];
        ASSERT_TRUE(textCopy(url, c.url.c_str()));
        EXPECT_EQ(appendUrlSegment(url, c.segment), c.joined);
        EXPECT_EQ(WideString(url), c.result);
    }
}

using KitList = TempFolderTest;

// An address too long to take the kit list's name is not fetched cut or without the name.
TEST_F(KitList, AnOverlongAddressIsNotFetched) {
    ASSERT_TRUE(textCopy(g_moduleFolder, (m_folder + L"\\").c_str()));
    g_baseUrl = newTextCopy((L"http://h/" + WideString(245, L'a')).c_str());
    KitListCopy list;
    EXPECT_EQ(fetchKitList(&list), Step::Failed);
    EXPECT_EQ(logLines().back(), "[WENVAROTH] Download address too long: " + narrow(g_baseUrl));
    free(g_baseUrl);
    g_baseUrl = nullptr;
}

// Only a process with administrator rights has anyone below it to keep out of the kit folder; a
// limited user's own process could not write into the protected folder.
TEST(KitFolder, ProtectedOnlyWithAdministratorRights) {
    EXPECT_STREQ(kitFolderSecurity(true, true),
                 L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)");
    EXPECT_EQ(kitFolderSecurity(false, true), nullptr);  // a limited user on XP: no elevation there
    EXPECT_EQ(kitFolderSecurity(true, false), nullptr);  // an administrator's token not elevated
}

// A cache file that another program holds open for writing could change after its check.
TEST_F(KitList, CacheFileOpenForWritingIsRefused) {
    WideString file = write(L"cached.bin", "bytes");
    HANDLE writer = CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(openCachedFile(file.c_str()), INVALID_HANDLE_VALUE);
    CloseHandle(writer);
    OwnedHandle reader(openCachedFile(file.c_str()));
    EXPECT_TRUE(reader.valid());
}

TEST_F(KitList, RelativeOrOverlongTemporaryFolderIsRefused) {
    g_kitFolder[0] = L'\0';
    EXPECT_FALSE(makeKitFolder(L"%temp%"));
    EXPECT_FALSE(makeKitFolder(L"."));  // the current folder, wherever that is
    WideString deep = L"C:\\" + WideString(250, L'd');
    EXPECT_FALSE(makeKitFolder(deep.c_str()));
    EXPECT_STREQ(g_kitFolder, L"");
}

}  // namespace
}  // namespace unit_test
