#include "download/kitlist.h"

#include "download/worker.h"
#include "support.h"

namespace download_test {
namespace {

TEST(AppendUrlSegment, OneSlashBetween) {
    wchar_t url[260] = L"http://host/kit";
    ASSERT_TRUE(appendUrlSegment(url, L"kitmd5.dat"));
    EXPECT_STREQ(url, L"http://host/kit/kitmd5.dat");
    wchar_t slashed[260] = L"http://host/kit/";
    ASSERT_TRUE(appendUrlSegment(slashed, L"kitmd5.dat"));
    EXPECT_STREQ(slashed, L"http://host/kit/kitmd5.dat");
    wchar_t empty[260] = L"";
    ASSERT_TRUE(appendUrlSegment(empty, L"a"));
    EXPECT_STREQ(empty, L"/a");
}

TEST(AppendUrlSegment, OverflowLeavesTheUrlAsItWas) {
    wchar_t url[260];
    WideString base(250, L'b');
    wcscpy(url, base.c_str());
    EXPECT_TRUE(appendUrlSegment(url, L"12345678"));  // 250 + 1 + 8 = 259 fits
    wcscpy(url, base.c_str());
    EXPECT_FALSE(appendUrlSegment(url, L"123456789"));  // 260 does not
    EXPECT_EQ(WideString(url), base);
    wchar_t small[4] = L"ab/";
    EXPECT_FALSE(appendUrlSegment(small, L"c"));
    EXPECT_STREQ(small, L"ab/");
    EXPECT_FALSE(appendUrlSegment(small, nullptr));
}

using ReadKitList = TempFolderTest;

TEST_F(ReadKitList, ReadsCodeAndSizes) {
    WideString file = write(L"kitmd5.dat", "{CODE}\r\nsetup.exe 10 x\r\n");
    wchar_t code[kKitProductCodeChars] = {};
    std::map<WideString, int32_t> sizes;
    EXPECT_EQ(readKitList(file.c_str(), code, &sizes), 0);
    EXPECT_STREQ(code, L"{CODE}");
    EXPECT_EQ(sizes.at(L"setup.exe"), 10);
}

TEST_F(ReadKitList, MissingFileIsLoggedAnd110) {
    wchar_t code[kKitProductCodeChars] = {};
    std::map<WideString, int32_t> sizes;
    WideString file = path(L"none.dat");
    EXPECT_EQ(readKitList(file.c_str(), code, &sizes), 110);
    EXPECT_STREQ(code, L"");
    auto lines = logLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "[WENVAROTH] Cannot open local file " + narrow(file));
    EXPECT_EQ(readKitList(file.c_str(), nullptr, &sizes), 160);
}

TEST_F(ReadKitList, MalformedOrHugeListsAreRejectedWhole) {
    wchar_t code[kKitProductCodeChars] = L"old";
    std::map<WideString, int32_t> sizes{{L"x", 1}};
    WideString cut = write(L"cut.dat", "{CODE} a 1 c b");
    EXPECT_EQ(readKitList(cut.c_str(), code, &sizes), KITLIST_MALFORMED);
    EXPECT_STREQ(code, L"");
    EXPECT_TRUE(sizes.empty());
    WideString huge = write(L"huge.dat", "{CODE}" + std::string((1 << 20) + 10, ' '));
    EXPECT_EQ(readKitList(huge.c_str(), code, &sizes), KITLIST_MALFORMED);
    EXPECT_EQ(logLines().back(), "[WENVAROTH] The kit list " + narrow(huge) + " is malformed");
}

using FetchKitList = TempFolderTest;

TEST_F(FetchKitList, NoBaseAddressIsAClearFailureAndNothingIsRead) {
    ASSERT_TRUE(textCopy(g_moduleFolder, (m_folder + L"\\").c_str()));
    free(g_baseUrl);
    g_baseUrl = nullptr;
    wchar_t local[kPathChars];
    HRESULT result = E_FAIL;
    EXPECT_EQ(fetchKitList(local, &result), KitListFetch::NoAddress);
    EXPECT_EQ(logLines().back(), "[WENVAROTH] The manifest names no download address");
}

TEST_F(FetchKitList, AnOverlongAddressIsRefused) {
    ASSERT_TRUE(textCopy(g_moduleFolder, (m_folder + L"\\").c_str()));
    g_baseUrl = newTextCopy((L"http://h/" + WideString(245, L'a')).c_str());
    wchar_t local[kPathChars];
    HRESULT result = S_OK;
    EXPECT_EQ(fetchKitList(local, &result), KitListFetch::NoAddress);
    free(g_baseUrl);
    g_baseUrl = nullptr;
}

TEST_F(FetchKitList, AnUnwritableFolderIsLogged) {
    ASSERT_TRUE(textCopy(g_moduleFolder, (m_folder + L"\\missing\\").c_str()));
    wchar_t local[kPathChars];
    HRESULT result = S_OK;
    EXPECT_EQ(fetchKitList(local, &result), KitListFetch::NotWritable);
    EXPECT_EQ(logLines().back(), "[WENVAROTH] Cannot create local file " + narrow(local));
}

TEST_F(FetchKitList, NothingListeningIsAFailedTransfer) {
    ASSERT_TRUE(textCopy(g_moduleFolder, (m_folder + L"\\").c_str()));
    g_baseUrl = newTextCopy(L"http://127.0.0.1:9/kit/");
    wchar_t local[kPathChars];
    HRESULT result = S_OK;
    EXPECT_EQ(fetchKitList(local, &result), KitListFetch::TransferFailed);
    EXPECT_NE(result, S_OK);
    auto lines = logLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2],
              "[WENVAROTH] Downloading kitmd5.dat file from: "
              "http://127.0.0.1:9/kit/kitmd5.dat; to: " +
                  narrow(local));
    EXPECT_EQ(lines.back(), "[WENVAROTH] Cannot download file. Error :" +
                                std::to_string(static_cast<unsigned long>(result)));
    EXPECT_TRUE(exists(local));  // the empty local file proves the folder writable
    free(g_baseUrl);
    g_baseUrl = nullptr;
}

using KitFolder = TempFolderTest;

TEST_F(KitFolder, FirstFreeNumberIsUsedAndOthersAreLeft) {
    for (int n = 1; n <= 5; ++n) {
        wchar_t leaf[20];
        swprintf(leaf, 20, L"talvotempdir%02d", n);
        ASSERT_TRUE(CreateDirectoryW(path(leaf).c_str(), nullptr));
    }
    g_kitFolder[0] = L'\0';
    ASSERT_TRUE(makeKitFolder(m_folder.c_str()));
    EXPECT_EQ(WideString(g_kitFolder), path(L"talvotempdir06"));
    EXPECT_TRUE(exists(g_kitFolder));
}

TEST_F(KitFolder, AllNamesTakenLeavesTheKitFolderUntouched) {
    for (int n = 1; n <= 99; ++n) {
        wchar_t leaf[20];
        swprintf(leaf, 20, L"talvotempdir%02d", n);
        ASSERT_TRUE(CreateDirectoryW(path(leaf).c_str(), nullptr));
    }
    g_kitFolder[0] = L'\0';
    EXPECT_FALSE(makeKitFolder(m_folder.c_str()));
    EXPECT_STREQ(g_kitFolder, L"");
    EXPECT_EQ(logLines().back(),
              "[WENVAROTH] Cannot create a kit folder under " + narrow(m_folder));
}

TEST_F(KitFolder, RelativeOrOverlongTemporaryFolderIsRefused) {
    g_kitFolder[0] = L'\0';
    EXPECT_FALSE(makeKitFolder(L"%temp%"));
    EXPECT_FALSE(makeKitFolder(L"relative"));
    WideString deep = L"C:\\" + WideString(250, L'd');
    EXPECT_FALSE(makeKitFolder(deep.c_str()));
    EXPECT_STREQ(g_kitFolder, L"");
}

TEST(ComposeFileUrl, BaseRelativePathAndName) {
    DownloadableFile file;
    file.name.reset(newTextCopy(L"data1.cab"));
    file.relativePath.reset(newTextCopy(L"cabs"));
    g_baseUrl = newTextCopy(L"http://host/kit/");
    wchar_t url[kPathChars];
    ASSERT_TRUE(composeFileUrl(file, url));
    EXPECT_STREQ(url, L"http://host/kit/cabs/data1.cab");
    file.baseUrl.reset(newTextCopy(L"http://mirror"));
    ASSERT_TRUE(composeFileUrl(file, url));
    EXPECT_STREQ(url, L"http://mirror/cabs/data1.cab");
    file.baseUrl.reset(newTextCopy((L"http://m/" + WideString(240, L'x')).c_str()));
    EXPECT_FALSE(composeFileUrl(file, url));
    EXPECT_STREQ(url, L"");
    file.baseUrl.reset();
    free(g_baseUrl);
    g_baseUrl = nullptr;
    EXPECT_FALSE(composeFileUrl(file, url));
}

TEST(QueryProductState, UnknownAndEmptyCodes) {
    EXPECT_EQ(queryProductState(L"{7D3C2A10-5B1E-4C7A-9E61-0A1B2C3D4E99}"), -1);
    EXPECT_EQ(queryProductState(L""), -2);  // "invalid argument": why an empty code is never asked
}

}  // namespace
}  // namespace download_test
