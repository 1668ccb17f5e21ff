#include "manifest/xmlpatch.h"

#include "support.h"

namespace unit_test {
namespace {

const char kSettings[] = R"(<?xml version="1.0" encoding="utf-8"?>
<setup>
  <install lang="en">
    <mode>minimal</mode>
    <affiliate_source>none</affiliate_source>
    <features><feature>a</feature><feature>b</feature></features>
  </install>
</setup>)";

class Patcher : public ManifestTest {
  protected:
    static void addPatch(const wchar_t* path, const wchar_t* value) {
        XmlPatch patch;
        patch.path.reset(newTextCopy(path));
        patch.newValue.reset(newTextCopy(value));
        g_xmlPatches.push_back(std::move(patch));
    }
    // The text of the node that `query` selects in `file`, or "<none>".
    static std::wstring nodeText(const WideString& file, const wchar_t* query) {
        XmlMemory memory;
        XmlDocument document(memory);
        HRESULT hr;
        if (document.open(file.c_str(), &hr) != XmlDocument::OpenResult::kLoaded) return L"<bad>";
        ComRef<IXMLDOMNode> node;
        HeapText text;
        if (xmlSelectNode(memory, document.root(), query, &node) != S_OK ||
            xmlReadText(memory, node.get(), &text) != S_OK) {
            return L"<none>";
        }
        return text.get();
    }
    // Dates the file back, so that a later save is visible in its time stamp.
    static void ageFile(const WideString& file) {
        HANDLE handle =
            CreateFileW(file.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(handle, INVALID_HANDLE_VALUE);
        FILETIME old = {0, 0x01000000};
        SetFileTime(handle, nullptr, nullptr, &old);
        CloseHandle(handle);
    }
    static bool wasSaved(const WideString& file) {
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data);
        return data.ftLastWriteTime.dwHighDateTime != 0x01000000;
    }
};

TEST_F(Patcher, WithoutPatchesTheFileIsStillSavedUnchanged) {
    WideString file = write(L"setup.xml", kSettings);
    ageFile(file);
    applyXmlPatches(file.c_str());
    EXPECT_TRUE(wasSaved(file));
    EXPECT_EQ(nodeText(file, L"/setup/install/mode"), L"minimal");
    EXPECT_EQ(nodeText(file, L"/setup/install/@lang"), L"en");
    EXPECT_EQ(logLines(),
              std::vector<std::string>{"[WENVAROTH] Applying xmlpatches on file " + narrow(file)});
}

TEST_F(Patcher, AppliesValidPatchesInOrderAndSkipsEmptyOnes) {
    WideString file = write(L"setup.xml", kSettings);
    addPatch(L"/setup/install/mode", L"full");
    addPatch(L"/setup/install/mode", L"");
    addPatch(L"", L"x");
    g_xmlPatches.emplace_back();  // null texts, as after a failed copy
    addPatch(L"/setup/install/mode", L"custom");
    addPatch(L"/setup/install/@lang", L"de");
    addPatch(L"/setup/install/features", L"none");
    applyXmlPatches(file.c_str());

    EXPECT_EQ(nodeText(file, L"/setup/install/mode"), L"custom");  // the later patch wins
    EXPECT_EQ(nodeText(file, L"/setup/install/@lang"), L"de");
    EXPECT_EQ(nodeText(file, L"/setup/install/features"), L"none");
    EXPECT_EQ(nodeText(file, L"/setup/install/features/feature"), L"<none>");
    EXPECT_EQ(nodeText(file, L"/setup/install/affiliate_source"), L"none");
    EXPECT_EQ(logLines(),
              (std::vector<std::string>{
                  "[WENVAROTH] Applying xmlpatches on file " + narrow(file),
                  "[WENVAROTH] Found valid patch: node </setup/install/mode> value <full>",
                  "[WENVAROTH] Found valid patch: node </setup/install/mode> value <custom>",
                  "[WENVAROTH] Found valid patch: node </setup/install/@lang> value <de>",
                  "[WENVAROTH] Found valid patch: node </setup/install/features> value <none>",
              }));
    EXPECT_EQ(g_xmlPatches.size(), 7u);  // the list is left as it was
}

TEST_F(Patcher, UnreachableNodesAreLoggedAndTheRestStillApplies) {
    WideString file = write(L"setup.xml", kSettings);
    addPatch(L"/setup/rejected", L"x");    // its query fails
    addPatch(L"/setup/missing", L"none");  // its query matches nothing
    addPatch(L"/setup/install/mode", L"full");
    // The platform parser under test crashes on malformed queries instead of refusing them, so
    // the failed query is brought about by the memory for its text.
    FaultyMemory memory;
    memory.failString = L"/setup/rejected";
    applyXmlPatchesUsing(file.c_str(), memory);
    EXPECT_EQ(nodeText(file, L"/setup/install/mode"), L"full");
    std::vector<std::string> lines = logLines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[2], "[WENVAROTH] Cannot access node /setup/rejected");
    EXPECT_EQ(lines[4], "[WENVAROTH] Cannot access node /setup/missing");
}

TEST_F(Patcher, AMissingOrBrokenFileIsLoggedAndNotWritten) {
    addPatch(L"/setup/install/mode", L"full");
    WideString missing = path(L"missing.xml");
    applyXmlPatches(missing.c_str());
    EXPECT_EQ(GetFileAttributesW(missing.c_str()), INVALID_FILE_ATTRIBUTES);

    const std::string brokenText = "<setup><install><mode>minimal</mode></install>";
    WideString broken = write(L"broken.xml", brokenText);
    applyXmlPatches(broken.c_str());
    EXPECT_EQ(readFile(broken), brokenText);
    EXPECT_EQ(logLines(), (std::vector<std::string>{
                              "[WENVAROTH] Applying xmlpatches on file " + narrow(missing),
                              "[WENVAROTH] Cannot load xml " + narrow(missing),
                              "[WENVAROTH] Applying xmlpatches on file " + narrow(broken),
                              "[WENVAROTH] Cannot load xml " + narrow(broken),
                          }));
}

TEST_F(Patcher, TheAffiliatePatchComesLastAndWins) {
    WideString file = write(L"setup.xml", kSettings);
    addPatch(L"/setup/install/affiliate_source", L"manifest");
    appendAffiliatePatch(L"partner7");
    ASSERT_EQ(g_xmlPatches.size(), 2u);
    EXPECT_STREQ(g_xmlPatches[1].path.get(), L"/setup/install/affiliate_source");
    applyXmlPatches(file.c_str());
    EXPECT_EQ(nodeText(file, L"/setup/install/affiliate_source"), L"partner7");

    // An empty tag is appended but skipped, so the node keeps its text.
    g_xmlPatches.clear();
    file = write(L"setup.xml", kSettings);
    appendAffiliatePatch(L"");
    applyXmlPatches(file.c_str());
    EXPECT_EQ(nodeText(file, L"/setup/install/affiliate_source"), L"none");

    // A settings file without the node: logged, the file is still saved without it.
    g_xmlPatches.clear();
    appendAffiliatePatch(L"partner7");
    WideString bare = write(L"bare.xml", "<setup><install/></setup>");
    applyXmlPatches(bare.c_str());
    EXPECT_EQ(nodeText(bare, L"/setup/install/affiliate_source"), L"<none>");
    EXPECT_EQ(logLines().back(), "[WENVAROTH] Cannot access node /setup/install/affiliate_source");
}

TEST_F(Patcher, AFailedSaveIsLogged) {
    WideString file = write(L"setup.xml", kSettings);
    addPatch(L"/setup/install/mode", L"full");
    // Readers may share the file, writers may not: the load works, the save cannot.
    HANDLE lock = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    applyXmlPatches(file.c_str());
    CloseHandle(lock);
    EXPECT_EQ(nodeText(file, L"/setup/install/mode"), L"minimal");
    ASSERT_FALSE(logLines().empty());
    EXPECT_EQ(logLines().back().rfind("[WENVAROTH] Cannot save xml " + narrow(file) + " (0x", 0),
              0u);
}

TEST_F(Patcher, OutOfMemoryHasDefinedOutcomes) {
    WideString file = write(L"setup.xml", kSettings);
    addPatch(L"/setup/install/mode", L"full");
    addPatch(L"/setup/install/@lang", L"de");
    FaultyMemory memory;
    memory.failString = file;  // no path VARIANT: nothing loaded, nothing written
    applyXmlPatchesUsing(file.c_str(), memory);
    EXPECT_EQ(readFile(file), kSettings);
    EXPECT_EQ(logLines().back(), "[WENVAROTH] Cannot load xml " + narrow(file));

    memory.failString = L"full";  // one new text cannot be handed over; the other still applies
    applyXmlPatchesUsing(file.c_str(), memory);
    EXPECT_EQ(nodeText(file, L"/setup/install/mode"), L"minimal");
    EXPECT_EQ(nodeText(file, L"/setup/install/@lang"), L"de");
    EXPECT_EQ(logLines()[4], "[WENVAROTH] Cannot set node /setup/install/mode (0x8007000E)");
}

}  // namespace
}  // namespace unit_test
