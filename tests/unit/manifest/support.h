// Shared pieces of the manifest tests: a temporary folder, a captured log, a reset model and an
// allocator that fails on chosen texts.
#pragma once

#include <gtest/gtest.h>
#include <stdio.h>
#include <wchar.h>

#include <string>
#include <vector>

#include "app/runstate.h"
#include "log/log.h"
#include "manifest/xmldoc.h"

namespace manifest_test {

// Fails the allocations for one chosen text, so that each out-of-memory path can be reached alone.
class FaultyMemory : public XmlMemory {
  public:
    std::wstring failString;  // allocString of exactly this text fails
    std::wstring failCopy;    // copyText of exactly this text fails
    BSTR allocString(const wchar_t* text) override {
        return failString == text ? nullptr : XmlMemory::allocString(text);
    }
    wchar_t* copyText(const wchar_t* text, size_t length) override {
        return failCopy == std::wstring(text, length) ? nullptr : XmlMemory::copyText(text, length);
    }
};

// A fresh folder under the temporary folder, the log written into it, and a model that is empty
// before and after every test.
class ManifestTest : public ::testing::Test {
  protected:
    void SetUp() override {
        resetModel();
        wchar_t temp[MAX_PATH];
        ASSERT_NE(GetTempPathW(MAX_PATH, temp), 0u);
        static int counter = 0;
        wchar_t name[64];
        swprintf(name, 64, L"wvmanifest_%lu_%d", GetCurrentProcessId(), ++counter);
        m_folder = std::wstring(temp) + name;
        ASSERT_TRUE(CreateDirectoryW(m_folder.c_str(), nullptr));
        ASSERT_TRUE(textCopy(g_logPath, path(L"log.txt").c_str()));
        g_logEnabled = 1;
        openLogFile();
        ASSERT_NE(g_logFile, nullptr);
    }
    void TearDown() override {
        resetModel();
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW(path(L"*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                std::wstring file = path(found.cFileName);
                SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(file.c_str());
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
        RemoveDirectoryW(m_folder.c_str());
    }
    static void resetModel() {
        g_downloadableFiles.clear();
        g_dependencies.clear();
        g_xmlPatches.clear();
        free(g_baseUrl);
        g_baseUrl = nullptr;
        g_messageCaption[0] = L'\0';
        g_productName[0] = L'\0';
        g_isWin64 = FALSE;
        if (g_logFile != nullptr) fclose(g_logFile);
        g_logFile = nullptr;
        g_logEnabled = 0;
        g_logPath[0] = L'\0';
    }

    std::wstring path(const wchar_t* leaf) const { return m_folder + L"\\" + leaf; }
    std::wstring write(const wchar_t* leaf, const std::string& content) const {
        std::wstring file = path(leaf);
        FILE* stream = _wfopen(file.c_str(), L"wb");
        EXPECT_NE(stream, nullptr);
        if (stream != nullptr) {
            fwrite(content.data(), 1, content.size(), stream);
            fclose(stream);
        }
        return file;
    }
    std::string read(const std::wstring& file) const {
        std::string content;
        FILE* stream = _wfopen(file.c_str(), L"rb");
        if (stream == nullptr) return content;
        char buffer[4096];
        size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, stream)) > 0) content.append(buffer, got);
        fclose(stream);
        return content;
    }
    // The log's lines without their time stamps.
    std::vector<std::string> logLines() const {
        std::vector<std::string> lines;
        std::string content = read(path(L"log.txt"));
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

  private:
    std::wstring m_folder;
};

}  // namespace manifest_test
