// Shared pieces of the unit suites: a fresh temporary folder per test with the log captured next
// to it, files written and read back, and the log's lines without their time stamps.
#pragma once

#include <gtest/gtest.h>
#include <stdio.h>
#include <windows.h>

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

inline bool exists(const WideString& file) {
    return GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES;
}

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

// Removes a file or a whole folder tree, read-only entries too; links are removed, not followed.
inline void wipe(const WideString& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                WideString name = found.cFileName;
                if (name != L"." && name != L"..") wipe(path + L"\\" + name);
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
    }
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveDirectoryW(path.c_str());
    else
        DeleteFileW(path.c_str());
}

inline void closeLog() {
    if (g_logFile != nullptr) fclose(g_logFile);
    g_logFile = nullptr;
    g_logEnabled = 0;
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
        openLogFile();
        ASSERT_NE(g_logFile, nullptr);
    }
    void TearDown() override {
        closeLog();
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
        std::string content = readFile(m_logFile);
        std::vector<std::string> lines;
        size_t start = 0;
        while (start < content.size()) {
            size_t end = content.find('\n', start);
            if (end == std::string::npos) end = content.size();
            std::string line = content.substr(start, end - start);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            size_t stamp = line.find("] ");
            lines.push_back(stamp == std::string::npos ? line : line.substr(stamp + 2));
            start = end + 1;
        }
        return lines;
    }

    WideString m_folder;
    WideString m_logFile;
};

}  // namespace unit_test
