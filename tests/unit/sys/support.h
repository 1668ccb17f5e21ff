// Shared pieces of the download and sys tests: a fresh temporary folder per test, the log
// captured into it, and helpers to read it back.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "app/runstate.h"
#include "app/text.h"
#include "log/log.h"

namespace download_test {

class TempFolderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        static bool locks = false;
        if (!locks) {
            InitializeCriticalSection(&g_stateLock);
            InitializeCriticalSection(&g_taskbarLock);
            locks = true;
        }
        wchar_t temp[MAX_PATH];
        ASSERT_NE(GetTempPathW(MAX_PATH, temp), 0u);
        static int counter = 0;
        wchar_t name[64];
        swprintf(name, 64, L"wvdl_%lu_%d", GetCurrentProcessId(), ++counter);
        m_folder = std::wstring(temp) + name;
        ASSERT_TRUE(CreateDirectoryW(m_folder.c_str(), nullptr));
        m_logFile = std::wstring(temp) + name + L".log";
        ASSERT_TRUE(textCopy(g_logPath, m_logFile.c_str()));
        g_logEnabled = 1;
        openLogFile();
        ASSERT_NE(g_logFile, nullptr);
    }
    void TearDown() override {
        if (g_logFile != nullptr) fclose(g_logFile);
        g_logFile = nullptr;
        g_logEnabled = 0;
        wipe(m_folder);
        DeleteFileW(m_logFile.c_str());
    }
    static void wipe(const std::wstring& path) {
        DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) return;
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) &&
            !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            WIN32_FIND_DATAW found;
            HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
            if (search != INVALID_HANDLE_VALUE) {
                do {
                    std::wstring name = found.cFileName;
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

    std::wstring path(const std::wstring& leaf) const { return m_folder + L"\\" + leaf; }
    std::wstring write(const std::wstring& leaf, const std::string& content) const {
        std::wstring file = path(leaf);
        FILE* stream = _wfopen(file.c_str(), L"wb");
        EXPECT_NE(stream, nullptr);
        if (stream != nullptr) {
            fwrite(content.data(), 1, content.size(), stream);
            fclose(stream);
        }
        return file;
    }
    static bool exists(const std::wstring& file) {
        return GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    std::vector<std::string> logLines() const {
        fflush(g_logFile);
        std::vector<std::string> lines;
        FILE* stream = _wfopen(m_logFile.c_str(), L"rb");
        if (stream == nullptr) return lines;
        std::string content;
        char buffer[4096];
        size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, stream)) > 0) content.append(buffer, got);
        fclose(stream);
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
    static std::string narrow(const std::wstring& text) {
        return std::string(text.begin(), text.end());
    }

    std::wstring m_folder;
    std::wstring m_logFile;
};

}  // namespace download_test
