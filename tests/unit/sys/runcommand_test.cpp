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

class RunCommandTest : public TempFolderTest {
  protected:
    void SetUp() override {
        TempFolderTest::SetUp();
        g_disabled = g_reverted = 0;
        g_revertedWith = nullptr;
        g_isWow64 = FALSE;
        g_pfnWow64DisableFsRedirection = nullptr;
        g_pfnWow64RevertFsRedirection = nullptr;
    }
    void TearDown() override {
        g_isWow64 = FALSE;
        g_pfnWow64DisableFsRedirection = nullptr;
        g_pfnWow64RevertFsRedirection = nullptr;
        TempFolderTest::TearDown();
    }
    static WideString cmd() {
        wchar_t system[MAX_PATH];
        GetSystemDirectoryW(system, MAX_PATH);
        return WideString(system) + L"\\cmd.exe";
    }
    // A writable, terminated copy, as CreateProcessW wants its command line.
    static std::vector<wchar_t> writable(const WideString& line) {
        return std::vector<wchar_t>(line.c_str(), line.c_str() + line.size() + 1);
    }
};

TEST_F(RunCommandTest, NullProgramOrCommandLineIsZeroWithoutALogLine) {
    std::vector<wchar_t> buffer = writable(cmd() + L" /c exit 0");
    EXPECT_EQ(RunCommand(cmd().c_str(), nullptr, L"C:\\"), 0);
    EXPECT_EQ(RunCommand(nullptr, buffer.data(), L"C:\\"), 0);
    EXPECT_TRUE(logLines().empty());
}

TEST_F(RunCommandTest, RunsInTheFolderWaitsAndLogs) {
    WideString line =
        cmd() + L" /c cd > where.txt & ping -n 2 127.0.0.1 > nul & echo done > done.txt";
    std::vector<wchar_t> buffer = writable(line);
    EXPECT_EQ(RunCommand(cmd().c_str(), buffer.data(), m_folder.c_str()), 1);
    EXPECT_TRUE(exists(path(L"done.txt")));  // waited for the end
    EXPECT_EQ(readFile(path(L"where.txt")).substr(0, m_folder.size()), narrow(m_folder));
    auto lines = logLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "[WENVAROTH] RunCommand(cmd=" + narrow(line) +
                            ", wait=-1, dir=" + narrow(m_folder) + ")");
    EXPECT_EQ(lines[1], "[WENVAROTH] Running: " + narrow(line) + " in " + narrow(m_folder));
    EXPECT_EQ(lines[2].rfind("[WENVAROTH] Started " + narrow(line) + " with pid ", 0), 0u);
}

TEST_F(RunCommandTest, FailureExitCodeStillGivesOneAndNullFolderInherits) {
    WideString line = cmd() + L" /c exit 3";
    std::vector<wchar_t> buffer = writable(line);
    EXPECT_EQ(RunCommand(cmd().c_str(), buffer.data(), nullptr), 1);
    auto lines = logLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "[WENVAROTH] RunCommand(cmd=" + narrow(line) + ", wait=-1, dir=(null))");
    EXPECT_EQ(lines[1], "[WENVAROTH] Running: " + narrow(line));
}

TEST_F(RunCommandTest, MissingProgramIsZeroAndLogged) {
    WideString line = path(L"missing.exe");
    std::vector<wchar_t> buffer = writable(line);
    EXPECT_EQ(RunCommand(line.c_str(), buffer.data(), m_folder.c_str()), 0);
    EXPECT_EQ(logLines().back(), "[WENVAROTH] Failed to run: " + narrow(line));
}

TEST_F(RunCommandTest, RedirectionIsSwitchedOnlyUnderWow64) {
    g_pfnWow64DisableFsRedirection = fakeDisable;
    g_pfnWow64RevertFsRedirection = fakeRevert;
    WideString line = cmd() + L" /c exit 0";
    std::vector<wchar_t> buffer = writable(line);
    EXPECT_EQ(RunCommand(cmd().c_str(), buffer.data(), nullptr), 1);
    EXPECT_EQ(g_disabled, 0);
    EXPECT_EQ(g_reverted, 0);

    g_isWow64 = TRUE;
    EXPECT_EQ(RunCommand(cmd().c_str(), buffer.data(), nullptr), 1);
    EXPECT_EQ(g_disabled, 1);
    EXPECT_EQ(g_reverted, 1);
    EXPECT_EQ(g_revertedWith, reinterpret_cast<PVOID>(0x1234));

    WideString missing = path(L"missing.exe");
    std::vector<wchar_t> bad = writable(missing);
    EXPECT_EQ(RunCommand(missing.c_str(), bad.data(), nullptr), 0);
    EXPECT_EQ(g_disabled, 2);
    EXPECT_EQ(g_reverted, 2);  // restored on the failure path too

    g_pfnWow64DisableFsRedirection = nullptr;
    g_pfnWow64RevertFsRedirection = nullptr;
    // Functions missing: runs untouched.
    EXPECT_EQ(RunCommand(cmd().c_str(), buffer.data(), nullptr), 1);
}

}  // namespace
}  // namespace unit_test
