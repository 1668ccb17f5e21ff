// The log: nothing without the option, one stamped CR LF line per call, appended, flushed.
#include <gtest/gtest.h>

#include <string>

#include "app/runstate.h"
#include "log/log.h"

namespace {

class LogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        GetTempFileNameW(temp, L"log", 0, path_);
        DeleteFileW(path_);
        textCopy(g_logPath, path_);
    }
    void TearDown() override {
        closeLog();
        DeleteFileW(path_);
        g_logPath[0] = L'\0';
    }
    static void closeLog() {
        if (g_logFile != nullptr) fclose(g_logFile);
        g_logFile = nullptr;
        g_logEnabled = 0;
    }
    std::string contents() const {
        FILE* f = _wfopen(path_, L"rb");
        if (f == nullptr) return "<missing>";
        std::string text;
        char chunk[512];
        size_t n;
        while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, n);
        fclose(f);
        return text;
    }
    wchar_t path_[MAX_PATH] = {};
};

TEST_F(LogTest, NothingAtAllWithoutTheOption) {
    g_logEnabled = 0;
    EXPECT_EQ(openLogFile(), 0);
    writeLog(L"[WENVAROTH] %s", L"dropped");
    EXPECT_EQ(g_logFile, nullptr);
    EXPECT_EQ(GetFileAttributesW(path_), INVALID_FILE_ATTRIBUTES);
}

TEST_F(LogTest, StampedLinesAppendedAcrossRuns) {
    for (int run = 0; run < 2; ++run) {
        g_logEnabled = 1;
        openLogFile();
        ASSERT_NE(g_logFile, nullptr);
        writeLog(L"[WENVAROTH] run %d path %s", run, L"C:\\100%\\a.txt");
        // Flushed per line: another reader sees it before the file is closed.
        if (run == 0) {
            EXPECT_NE(contents().find("run 0"), std::string::npos);
        }
        closeLog();
    }
    std::string text = contents();
    size_t first = text.find("] [WENVAROTH] run 0 path C:\\100%\\a.txt\r\n");
    size_t second = text.find("] [WENVAROTH] run 1 path C:\\100%\\a.txt\r\n");
    ASSERT_NE(first, std::string::npos) << text;
    ASSERT_NE(second, std::string::npos) << text;
    EXPECT_LT(first, second);
    ASSERT_GE(text.size(), 15u);
    // "[hh:mm:ss:mmm] "
    EXPECT_EQ(text[0], '[');
    EXPECT_EQ(text[3], ':');
    EXPECT_EQ(text[6], ':');
    EXPECT_EQ(text[9], ':');
    EXPECT_EQ(text[13], ']');
    EXPECT_EQ(text[14], ' ');
}

TEST_F(LogTest, UnrepresentableCharactersBecomeQuestionMarks) {
    g_logEnabled = 1;
    openLogFile();
    writeLog(L"a\u00e9b\u4e2dc %s", L"\u0416end");
    closeLog();
    std::string text = contents();
    EXPECT_NE(text.find("a\xe9"
                        "b?c ?end\r\n"),
              std::string::npos)
        << text;
}

TEST_F(LogTest, LongMessagesAreNotCut) {
    g_logEnabled = 1;
    openLogFile();
    std::wstring long_text(5000, L'x');
    writeLog(L"%s|", long_text.c_str());
    closeLog();
    EXPECT_NE(contents().find(std::string(5000, 'x') + "|\r\n"), std::string::npos);
}

TEST_F(LogTest, AFileThatCannotBeOpenedTurnsLoggingOff) {
    textCopy(g_logPath, L"C:\\no\\such\\folder\\x.log");
    g_logEnabled = 1;
    openLogFile();
    EXPECT_EQ(g_logEnabled, 0);
    EXPECT_EQ(g_logFile, nullptr);
    writeLog(L"ignored");
}

}  // namespace
