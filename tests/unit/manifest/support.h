// Pieces of the manifest tests alone: a model emptied after every test, and an
// allocator that fails on chosen texts.
#pragma once

#include "manifest/model.h"
#include "manifest/xmldoc.h"
#include "tests/unit/support.h"

namespace unit_test {

// Fails the allocations for one chosen text, so that each out-of-memory path can be reached alone.
class FaultyMemory : public XmlMemory {
  public:
    WideString failString;  // allocString of exactly this text fails
    WideString failCopy;    // copyText of exactly this text fails
    BSTR allocString(const wchar_t* text) override {
        return failString == text ? nullptr : XmlMemory::allocString(text);
    }
    wchar_t* copyText(const wchar_t* text, size_t length) override {
        return failCopy == WideString(text, length) ? nullptr : XmlMemory::copyText(text, length);
    }
};

class ManifestTest : public TempFolderTest {
  protected:
    void TearDown() override {
        resetModel();
        TempFolderTest::TearDown();
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
    }
};

}  // namespace unit_test
