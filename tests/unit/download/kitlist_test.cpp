#include "download/kitlist.h"

#include "download/localfile.h"
#include "tests/unit/support.h"

namespace unit_test {
namespace {

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

}  // namespace
}  // namespace unit_test
