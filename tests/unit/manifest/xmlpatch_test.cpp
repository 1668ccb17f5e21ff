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
};

TEST_F(Patcher, AppliesValidPatchesInOrderAndLogsWhatItCannotReach) {
    WideString file = write(L"setup.xml", kSettings);
    addPatch(L"/setup/install/mode", L"full");
    addPatch(L"/setup/install/mode", L"");
    addPatch(L"", L"x");
    g_xmlPatches.emplace_back();           // null texts, as after a failed copy
    addPatch(L"/setup/rejected", L"x");    // its query fails
    addPatch(L"/setup/missing", L"none");  // its query matches nothing
    addPatch(L"/setup/install/mode", L"custom");
    addPatch(L"/setup/install/features", L"none");
    addPatch(L"/setup/install/affiliate_source", L"manifest");
    appendAffiliatePatch(L"partner7");
    // The platform parser under test crashes on malformed queries instead of refusing them, so
    // the failed query is brought about by the memory for its text.
    FaultyMemory memory;
    memory.failString = L"/setup/rejected";
    applyXmlPatchesUsing(file.c_str(), memory);

    EXPECT_EQ(nodeText(file, L"/setup/install/mode"), L"custom");  // the later patch wins
    EXPECT_EQ(nodeText(file, L"/setup/install/features"), L"none");
    EXPECT_EQ(nodeText(file, L"/setup/install/features/feature"), L"<none>");
    EXPECT_EQ(nodeText(file, L"/setup/install/affiliate_source"), L"partner7");
    const std::string valid = "[WENVAROTH] Found valid patch: node </setup/";
    EXPECT_EQ(logLines(), (std::vector<std::string>{
                              "[WENVAROTH] Applying xmlpatches on file " + narrow(file),
                              valid + "install/mode> value <full>",
                              valid + "rejected> value <x>",
                              "[WENVAROTH] Cannot access node /setup/rejected",
                              valid + "missing> value <none>",
                              "[WENVAROTH] Cannot access node /setup/missing",
                              valid + "install/mode> value <custom>",
                              valid + "install/features> value <none>",
                              valid + "install/affiliate_source> value <manifest>",
                              valid + "install/affiliate_source> value <partner7>",
                          }));
    EXPECT_EQ(g_xmlPatches.size(), 10u);  // the list is left as it was
}

// (A settings file that is not well formed is an end-to-end case.)
TEST_F(Patcher, AMissingFileIsLoggedAndNotMade) {
    addPatch(L"/setup/install/mode", L"full");
    WideString missing = path(L"missing.xml");
    applyXmlPatches(missing.c_str());
    EXPECT_FALSE(exists(missing));
    EXPECT_EQ(logLines(), (std::vector<std::string>{
                              "[WENVAROTH] Applying xmlpatches on file " + narrow(missing),
                              "[WENVAROTH] Cannot load xml " + narrow(missing),
                          }));
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
