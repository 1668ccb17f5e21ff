#include "download/kitlist.h"

#include "download/url.h"
#include "download/worker.h"
#include "tests/unit/support.h"

namespace unit_test {
namespace {

TEST(AppendUrlSegment, OneSlashBetweenAndOverflowLeavesTheUrlAsItWas) {
    const WideString base(250, L'b');
    struct Case {
        WideString url;
        size_t capacity;
        const wchar_t* segment;
        bool joined;
        WideString result;
    } const cases[] = {
        {L"http://host/kit", 260, L"kitmd5.dat", true, L"http://host/kit/kitmd5.dat"},
        {L"http://host/kit/", 260, L"kitmd5.dat", true, L"http://host/kit/kitmd5.dat"},
        {L"", 260, L"a", true, L"/a"},
        {base, 260, L"12345678", true, base + L"/12345678"},  // 250 + 1 + 8 = 259 fits
        {base, 260, L"123456789", false, base},               // 260 does not
        {L"ab/", 4, L"c", false, L"ab/"},
        {L"ab/", 4, nullptr, false, L"ab/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.url.size() << " characters + " << testing::PrintToString(c.segment));
        std::vector<wchar_t> url(c.url.c_str(), c.url.c_str() + c.url.size() + 1);
        url.resize(c.capacity);
        EXPECT_EQ(appendUrlSegment(url.data(), c.capacity, c.segment), c.joined);
        EXPECT_EQ(WideString(url.data()), c.result);
    }
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

// The kit list is fetched into the program's own folder, from the manifest's base address.
class FetchKitList : public TempFolderTest {
  protected:
    void SetUp() override {
        TempFolderTest::SetUp();
        free(g_baseUrl);
        g_baseUrl = nullptr;
        ASSERT_TRUE(textCopy(g_moduleFolder, (m_folder + L"\\").c_str()));
    }
    void TearDown() override {
        free(g_baseUrl);
        g_baseUrl = nullptr;
        TempFolderTest::TearDown();
    }
    wchar_t local[kPathChars] = {};
    HRESULT result = S_OK;
};

TEST_F(FetchKitList, NoBaseAddressIsAClearFailureAndNothingIsRead) {
    EXPECT_EQ(fetchKitList(local, &result), KitListFetch::NoAddress);
    EXPECT_EQ(logLines().back(), "[WENVAROTH] The manifest names no download address");
}

TEST_F(FetchKitList, AnOverlongAddressIsRefused) {
    g_baseUrl = newTextCopy((L"http://h/" + WideString(245, L'a')).c_str());
    EXPECT_EQ(fetchKitList(local, &result), KitListFetch::NoAddress);
}

TEST_F(FetchKitList, AnUnwritableFolderIsLogged) {
    ASSERT_TRUE(textCopy(g_moduleFolder, (m_folder + L"\\missing\\").c_str()));
    EXPECT_EQ(fetchKitList(local, &result), KitListFetch::NotWritable);
    EXPECT_EQ(logLines().back(), "[WENVAROTH] Cannot create local file " + narrow(local));
}

TEST_F(FetchKitList, NothingListeningIsAFailedTransfer) {
    g_baseUrl = newTextCopy(L"http://127.0.0.1:9/kit/");
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
}

class KitFolder : public TempFolderTest {
  protected:
    // Takes the kit-folder names numbered 1 to `last` under the test's folder.
    void takeNames(int last) const {
        for (int n = 1; n <= last; ++n) {
            wchar_t leaf[20];
            swprintf(leaf, 20, L"talvotempdir%02d", n);
            ASSERT_TRUE(CreateDirectoryW(path(leaf).c_str(), nullptr));
        }
    }
};

TEST_F(KitFolder, FirstFreeNumberIsUsedAndOthersAreLeft) {
    ASSERT_NO_FATAL_FAILURE(takeNames(5));
    g_kitFolder[0] = L'\0';
    ASSERT_TRUE(makeKitFolder(m_folder.c_str()));
    EXPECT_EQ(WideString(g_kitFolder), path(L"talvotempdir06"));
    EXPECT_TRUE(exists(g_kitFolder));
}

TEST_F(KitFolder, AllNamesTakenLeavesTheKitFolderUntouched) {
    ASSERT_NO_FATAL_FAILURE(takeNames(99));
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
}  // namespace unit_test
