#include "tests/unit/listener.h"

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
};

// (Patching a kit's settings, with the parent's tag last, and a settings file that is not well
// formed are end-to-end cases.)
TEST_F(Patcher, AppliesValidPatchesInOrderAndLogsWhatItCannotReach) {
    WideString file = write(L"setup.xml", kSettings);
    addPatch(L"/setup/install/mode", L"full");
    addPatch(L"/setup/install/mode", L"");
    addPatch(L"", L"x");
    g_xmlPatches.emplace_back();           // null texts, as after a failed copy
    addPatch(L"/setup/missing", L"none");  // its query matches nothing
    addPatch(L"/setup/install/mode", L"custom");
    addPatch(L"/setup/install/features", L"none");
    appendAffiliatePatch(L"partner7");
    applyXmlPatches(file.c_str());

    std::string saved = readFile(file);
    EXPECT_NE(saved.find("<mode>custom</mode>"), std::string::npos) << saved;  // the later wins
    EXPECT_NE(saved.find("<features>none</features>"), std::string::npos) << saved;
    const std::string valid = "[WENVAROTH] Found valid patch: node </setup/";
    EXPECT_EQ(logLines(), (std::vector<std::string>{
                              "[WENVAROTH] Applying xmlpatches on file " + narrow(file),
                              valid + "install/mode> value <full>",
                              valid + "missing> value <none>",
                              "[WENVAROTH] Cannot access node /setup/missing",
                              valid + "install/mode> value <custom>",
                              valid + "install/features> value <none>",
                              valid + "install/affiliate_source> value <partner7>",
                          }));
}

// A missing file is not made; a file that cannot be written keeps the kit's own settings.
TEST_F(Patcher, AFileThatCannotBeLoadedOrSavedIsLogged) {
    addPatch(L"/setup/install/mode", L"full");
    WideString missing = path(L"missing.xml");
    applyXmlPatches(missing.c_str());
    EXPECT_EQ(GetFileAttributesW(missing.c_str()), INVALID_FILE_ATTRIBUTES);
    std::vector<std::string> lines = logLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "[WENVAROTH] Cannot load xml " + narrow(missing));
    // Wine's parser gives no position, only a dummy reason: the line is there, whatever it says.
    EXPECT_EQ(lines.back().rfind("[WENVAROTH] The parser's reason: line ", 0), 0u);

    WideString file = write(L"setup.xml", kSettings);
    // Readers may share the file, writers may not: the load works, the save cannot.
    HANDLE lock = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    applyXmlPatches(file.c_str());
    CloseHandle(lock);
    EXPECT_EQ(readFile(file), kSettings);
    EXPECT_EQ(logLines().back().rfind("[WENVAROTH] Cannot save xml " + narrow(file) + " (0x", 0),
              0u);
}

// Saved through a writer (the kit folder's own handle in a run), the document is handed over whole
// and nothing is written by its path; a writer that fails is logged like a failed save.
TEST_F(Patcher, SavedThroughAWriter) {
    static std::string handed;  // what the writer was given
    static bool writes;         // whether it succeeds
    WideString file = write(L"setup.xml", kSettings);
    addPatch(L"/setup/install/mode", L"full");
    for (bool ok : {true, false}) {
        handed.clear();
        writes = ok;
        applyXmlPatches(file.c_str(), [](const wchar_t*, const void* bytes, size_t size) {
            handed.assign(static_cast<const char*>(bytes), size);
            SetLastError(ERROR_ACCESS_DENIED);
            return writes;
        });
        EXPECT_EQ(readFile(file), kSettings);
        EXPECT_NE(handed.find("<mode>full</mode>"), std::string::npos) << handed;
        EXPECT_EQ(
            logLines().back() == "[WENVAROTH] Cannot save xml " + narrow(file) + " (0x80070005)",
            !ok);
    }
}

// A settings file from the server is read as data: its own DTD subset and entities still load,
// while a DTD or an entity it names elsewhere is neither fetched nor read into the saved file.
// (Wine fetches neither way; the settings themselves are read back from the document.)
TEST_F(Patcher, SettingsNamingDefinitionsElsewhereAreReadAsData) {
    int port = 0;
    SOCKET listener = listenOnLoopback(&port);
    write(L"secret.txt", "private words");
    std::string secretUrl = "file:///" + narrow(path(L"secret.txt"));
    const std::string body =
        "<setup><install><mode>minimal</mode><note>&x;</note></install></setup>";
    const std::string doctypes[] = {
        "<!DOCTYPE setup [<!ELEMENT setup ANY><!ENTITY x 'inner text'>]>",
        "<!DOCTYPE setup SYSTEM 'http://127.0.0.1:" + std::to_string(port) +
            "/setup.dtd' [<!ENTITY x 'inner text'>]>",
        "<!DOCTYPE setup [<!ENTITY x SYSTEM '" + secretUrl + "'>]>",
    };
    addPatch(L"/setup/install/mode", L"full");
    for (const std::string& doctype : doctypes) {
        SCOPED_TRACE(doctype);
        WideString file = write(L"setup.xml", "<?xml version='1.0'?>" + doctype + body);
        applyXmlPatches(file.c_str());
        std::string saved = readFile(file);
        EXPECT_EQ(saved.find("private words"), std::string::npos) << saved;
        if (doctype.find("SYSTEM '" + secretUrl) == std::string::npos) {
            EXPECT_NE(saved.find("<mode>full</mode>"), std::string::npos) << saved;
        }
    }
    fd_set pending;
    FD_ZERO(&pending);
    FD_SET(listener, &pending);
    timeval now = {0, 0};
    EXPECT_EQ(select(0, &pending, nullptr, nullptr, &now), 0) << "the DTD was fetched";
    closesocket(listener);

    // Wine's document class starts with both settings off: they are set on from here first.
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    CLSID version3;
    ASSERT_EQ(CLSIDFromProgID(L"Msxml2.DOMDocument.3.0", &version3), S_OK);
    ComRef<IXMLDOMDocument> document;
    ASSERT_EQ(CoCreateInstance(version3, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument,
                               reinterpret_cast<void**>(document.receive())),
              S_OK);
    document.get()->put_resolveExternals(VARIANT_TRUE);
    document.get()->put_validateOnParse(VARIANT_TRUE);
    EXPECT_EQ(xmlReadAsData(document.get()), S_OK);
    VARIANT_BOOL resolves = VARIANT_TRUE, validates = VARIANT_TRUE;
    EXPECT_EQ(document.get()->get_resolveExternals(&resolves), S_OK);
    EXPECT_EQ(document.get()->get_validateOnParse(&validates), S_OK);
    EXPECT_EQ(resolves, VARIANT_FALSE);
    EXPECT_EQ(validates, VARIANT_FALSE);
    document.reset();
    CoUninitialize();
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
    std::string saved = readFile(file);
    EXPECT_NE(saved.find("<mode>minimal</mode>"), std::string::npos) << saved;
    EXPECT_NE(saved.find("lang=\"de\""), std::string::npos) << saved;
    EXPECT_EQ(logLines()[4], "[WENVAROTH] Cannot set node /setup/install/mode (0x8007000E)");
}

}  // namespace
}  // namespace unit_test
