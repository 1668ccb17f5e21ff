// Shared pieces of the unit suites: a fresh temporary folder per test with the log captured next
// to it, files written and read back, and the log's lines without their time stamps.
#pragma once

#include <gtest/gtest.h>
#include <stdio.h>
#include <windows.h>

#include <sstream>
#include <string>
#include <vector>

#include "base/runstate.h"
#include "base/text.h"
#include "log/log.h"

namespace unit_test {

// The locks the main flow creates before any worker runs, made once per executable.
inline void prepareLocks() {
    static bool made = false;
    if (made) return;
    made = true;
    InitializeCriticalSection(&g_stateLock);
    InitializeCriticalSection(&g_watchLock);
}

inline std::string narrow(const WideString& text) { return std::string(text.begin(), text.end()); }

// The whole content of `file`, empty when it cannot be opened.
inline std::string readFile(const WideString& file) {
    std::string content;
    FILE* stream = _wfopen(file.c_str(), L"rb");
    if (stream == nullptr) return content;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, stream)) > 0) content.append(buffer, got);
    fclose(stream);
    return content;
}

// Removes a file or a whole folder tree (the tests make neither links nor read-only files).
inline void wipe(const WideString& path) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            WideString name = found.cFileName;
            if (name != L"." && name != L"..") wipe(path + L"\\" + name);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    if (!RemoveDirectoryW(path.c_str())) DeleteFileW(path.c_str());
}

// A folder of its own under the temporary folder for every test, and the log written beside it
// (not inside, so that a test may remove or list the folder); both are gone after the test.
class TempFolderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        prepareLocks();
        wchar_t temp[MAX_PATH];
        ASSERT_NE(GetTempPathW(MAX_PATH, temp), 0u);
        static int counter = 0;
        wchar_t name[64];
        swprintf(name, 64, L"wvunit_%lu_%d", GetCurrentProcessId(), ++counter);
        m_folder = WideString(temp) + name;
        ASSERT_TRUE(CreateDirectoryW(m_folder.c_str(), nullptr));
        m_logFile = m_folder + L".log";
        ASSERT_TRUE(textCopy(g_logPath, m_logFile.c_str()));
        g_logEnabled = 1;
        openLogFile(0);
        ASSERT_NE(g_logFile, nullptr);
    }
    void TearDown() override {
        if (g_logFile != nullptr) fclose(g_logFile);
        g_logFile = nullptr;
        g_logEnabled = 0;
        g_logPath[0] = L'\0';
        wipe(m_folder);
        DeleteFileW(m_logFile.c_str());
    }

    WideString path(const WideString& leaf) const { return m_folder + L"\\" + leaf; }
    WideString write(const WideString& leaf, const std::string& content) const {
        WideString file = path(leaf);
        FILE* stream = _wfopen(file.c_str(), L"wb");
        EXPECT_NE(stream, nullptr);
        if (stream != nullptr) {
            fwrite(content.data(), 1, content.size(), stream);
            fclose(stream);
        }
        return file;
    }
    // The log's lines without their time stamps.
    std::vector<std::string> logLines() const {
        if (g_logFile != nullptr) fflush(g_logFile);
        std::istringstream content(readFile(m_logFile));
        std::vector<std::string> lines;
        for (std::string line; std::getline(content, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            size_t stamp = line.find("] ");
            lines.push_back(stamp == std::string::npos ? line : line.substr(stamp + 2));
        }
        return lines;
    }

    WideString m_folder;
    WideString m_logFile;
};

}  // namespace unit_test
