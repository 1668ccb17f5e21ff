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

TEST_F(ReadKitList, UnreadableListIsLoggedAnd110) {
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
};

TEST_F(FetchKitList, AnOverlongAddressOrAnUnwritableFolderFails) {
    g_baseUrl = newTextCopy((L"http://h/" + WideString(245, L'a')).c_str());
    EXPECT_EQ(fetchKitList(local), Step::Failed);
    EXPECT_EQ(logLines().back(), "[WENVAROTH] Download address too long: " + narrow(g_baseUrl));
    ASSERT_TRUE(textCopy(g_moduleFolder, (m_folder + L"\\missing\\").c_str()));
    EXPECT_EQ(fetchKitList(local), Step::Failed);
    EXPECT_EQ(logLines().back(), "[WENVAROTH] Cannot create local file " + narrow(local));
}

TEST_F(FetchKitList, NothingListeningIsAFailedTransfer) {
    g_baseUrl = newTextCopy(L"http://127.0.0.1:9/kit/");
    EXPECT_EQ(fetchKitList(local), Step::Failed);
    auto lines = logLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2],
              "[WENVAROTH] Downloading kitmd5.dat file from: "
              "http://127.0.0.1:9/kit/kitmd5.dat; to: " +
                  narrow(local));
    EXPECT_EQ(lines.back().rfind("[WENVAROTH] Cannot download file. Error :", 0), 0u);
    EXPECT_TRUE(exists(local));  // the empty local file proves the folder writable
}

using KitFolder = TempFolderTest;

TEST_F(KitFolder, RelativeOrOverlongTemporaryFolderIsRefused) {
    g_kitFolder[0] = L'\0';
    EXPECT_FALSE(makeKitFolder(L"%temp%"));
    EXPECT_FALSE(makeKitFolder(L"relative"));
    WideString deep = L"C:\\" + WideString(250, L'd');
    EXPECT_FALSE(makeKitFolder(deep.c_str()));
    EXPECT_STREQ(g_kitFolder, L"");
}

TEST(ProductState, AnythingButAProductCodeIsNotInstalled) {
    EXPECT_EQ(queryProductState(L"{7D3C2A10-5B1E-4C7A-9E61-0A1B2C3D4E99}"), -1);
    EXPECT_EQ(queryProductState(L""), -2);  // "invalid argument"
    EXPECT_EQ(queryProductState(L"<html>"), -2);
    for (int32_t state : {-1, 1, -2}) EXPECT_TRUE(productMissing(state)) << state;
    for (int32_t state : {2, 5, -3, -4, -5, -6}) EXPECT_FALSE(productMissing(state)) << state;
}

}  // namespace
}  // namespace unit_test
