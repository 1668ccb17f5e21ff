// Running a kit's programs in the kit folder, waiting for them and their command lines are
// end-to-end cases. What no run shows is the file-system redirection of a 32-bit process on
// 64-bit Windows: the test build is native, so fake switches stand in and count.
#include "sys/runcommand.h"

#include "tests/unit/support.h"

namespace unit_test {
namespace {

int g_disabled = 0;
int g_reverted = 0;
PVOID g_revertedWith = nullptr;
BOOL WINAPI fakeDisable(PVOID* old) {
    ++g_disabled;
    *old = reinterpret_cast<PVOID>(0x1234);
    return TRUE;
}
BOOL WINAPI fakeRevert(PVOID old) {
    ++g_reverted;
    g_revertedWith = old;
    return TRUE;
}

class Redirection : public TempFolderTest {
  protected:
    void TearDown() override {
        g_isWow64 = FALSE;
        g_pfnWow64DisableFsRedirection = nullptr;
        g_pfnWow64RevertFsRedirection = nullptr;
        TempFolderTest::TearDown();
    }
};

TEST_F(Redirection, IsSwitchedForTheProgramAndRestoredOnEveryPath) {
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    WideString cmd = WideString(system) + L"\\cmd.exe";
    WideString line = cmd + L" /c exit 0";
    std::vector<wchar_t> buffer(line.c_str(), line.c_str() + line.size() + 1);
    g_pfnWow64DisableFsRedirection = fakeDisable;
    g_pfnWow64RevertFsRedirection = fakeRevert;
    g_isWow64 = TRUE;
    EXPECT_EQ(RunCommand(cmd.c_str(), buffer.data(), m_folder.c_str()), 1);
    EXPECT_EQ(g_disabled, 1);
    EXPECT_EQ(g_reverted, 1);
    EXPECT_EQ(g_revertedWith, reinterpret_cast<PVOID>(0x1234));

    WideString missing = path(L"missing.exe");
    std::vector<wchar_t> bad(missing.c_str(), missing.c_str() + missing.size() + 1);
    EXPECT_EQ(RunCommand(missing.c_str(), bad.data(), m_folder.c_str()), 0);
    EXPECT_EQ(logLines().back(), "[WENVAROTH] Failed to run: " + narrow(missing));
    EXPECT_EQ(g_disabled, 2);
    EXPECT_EQ(g_reverted, 2);  // restored on the failure path too
}

}  // namespace
}  // namespace unit_test
