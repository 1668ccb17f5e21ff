#include "manifest/manifest.h"

#include "support.h"

namespace unit_test {
namespace {

using Loader = ManifestTest;

const char kExample[] = R"(<?xml version="1.0" encoding="utf-8"?>
<locations>
  <manufacturerName>Example Maker</manufacturerName>
  <defaultProductName>Example Product</defaultProductName>
  <x86>
    <base_url>http://x86.test/kit</base_url>
    <downloadable_files>
      <file name="setup.exe" relative_path="" autorun="false" base_url=""/>
      <!-- a comment between entries -->
      <?note a processing instruction?>
      <item name="data1.cab" relative_path="cabs" autorun="true" base_url="http://mirror.test">
        <child name="not an entry" relative_path="" autorun="true" base_url=""/>
      </item>
      <file name="setup.exe" relative_path="" autorun="false" base_url="" extra="ignored"/>
    </downloadable_files>
    <dependencies>
      <dependency filename="runtime_x86.msi" product_code="{A}" arguments="/qn" os="all"/>
    </dependencies>
  </x86>
  <x64>
    <base_url>http://x64.test/kit</base_url>
    <downloadable_files>
      <file name="setup.exe" relative_path="" autorun="false" base_url=""/>
    </downloadable_files>
    <dependencies>
      <dependency filename="runtime_x64.msi" product_code="{C}" arguments="" os="win7"/>
      <dependency filename="update.exe" product_code="{D}" arguments="" os="xp"/>
    </dependencies>
  </x64>
  <modifies>
    <modify path="/setup/install/mode" new_val="full"/>
    <modify path="/setup/install/lang" new_val=""/>
  </modifies>
</locations>)";

// A text that may be null, for comparisons.
std::wstring orNull(const wchar_t* text) { return text != nullptr ? text : L"<null>"; }

// A manifest with the given x86 sections and one patch.
std::string manifest(const std::string& x86Sections) {
    return "<locations><manufacturerName>M</manufacturerName><x86><base_url>B</base_url>" +
           x86Sections + "</x86><modifies><m path='/a' new_val='b'/></modifies></locations>";
}

TEST_F(Loader, ReadsTheSectionsOfItsArchitecture) {
    EXPECT_EQ(loadManifest(write(L"locations.xml", kExample).c_str()), S_OK);
    EXPECT_STREQ(g_baseUrl, L"http://x86.test/kit");
    EXPECT_STREQ(g_messageCaption, L"Example Maker");
    EXPECT_STREQ(g_productName, L"Example Product");
    // Comments, processing instructions and nested elements are no entries; duplicates stay;
    // empty relative_path and base_url become null.
    ASSERT_EQ(g_downloadableFiles.size(), 3u);
    EXPECT_EQ(g_downloadableFiles[0].relativePath.get(), nullptr);
    EXPECT_EQ(g_downloadableFiles[0].baseUrl.get(), nullptr);
    EXPECT_STREQ(g_downloadableFiles[1].relativePath.get(), L"cabs");
    EXPECT_STREQ(g_downloadableFiles[1].baseUrl.get(), L"http://mirror.test");
    EXPECT_TRUE(g_downloadableFiles[1].autorun);
    EXPECT_STREQ(g_downloadableFiles[2].name.get(), L"setup.exe");
    ASSERT_EQ(g_dependencies.size(), 1u);
    EXPECT_STREQ(g_dependencies[0].arguments.get(), L"/qn");
    EXPECT_EQ(g_dependencies[0].osFilter, OS_FILTER_ALL);
    EXPECT_EQ(g_xmlPatches.size(), 2u);  // one with an empty value, which the patcher skips

    resetModel();
    g_isWin64 = TRUE;
    EXPECT_EQ(loadManifest(write(L"locations.xml", kExample).c_str()), S_OK);
    EXPECT_STREQ(g_baseUrl, L"http://x64.test/kit");
    EXPECT_EQ(g_downloadableFiles.size(), 1u);
    ASSERT_EQ(g_dependencies.size(), 2u);
    EXPECT_EQ(g_dependencies[0].osFilter, 4);
    EXPECT_EQ(g_dependencies[1].osFilter, 1);
}

TEST_F(Loader, EntriesMissingAnAttributeAreDropped) {
    loadManifest(write(L"locations.xml", manifest(R"(<downloadable_files>
        <f name='no_base' relative_path='' autorun='true'/>
        <f name='no_autorun' relative_path='' base_url=''/>
        <f relative_path='' autorun='true' base_url=''/>
        <f name='' relative_path='' autorun='True' base_url=''/>
        <f name='one' relative_path='' autorun='1' base_url=''/>
        <f name='two' relative_path='' autorun='true ' base_url=''/>
      </downloadable_files>
      <dependencies>
        <d filename='a' product_code='{P}' arguments='' os='vista'/>
        <d filename='b' product_code='' arguments='' os='all'/>
        <d filename='' product_code='{P}' arguments='' os='all'/>
        <d filename='c' product_code='{P}' arguments='' os='Vista'/>
        <d filename='d' product_code='{P}' arguments='' os='win7 '/>
        <d filename='e' product_code='{P}' os='all'/>
      </dependencies>)"))
                     .c_str());
    // The empty name is accepted; only exactly "true" sets autorun.
    ASSERT_EQ(g_downloadableFiles.size(), 3u);
    EXPECT_STREQ(g_downloadableFiles[0].name.get(), L"");
    for (const DownloadableFile& file : g_downloadableFiles) EXPECT_FALSE(file.autorun);
    ASSERT_EQ(g_dependencies.size(), 1u);
    EXPECT_STREQ(g_dependencies[0].fileName.get(), L"a");
    EXPECT_EQ(g_dependencies[0].osFilter, 3);
}

// Reading stops at the first required part that is absent or empty: nothing after it is filled.
TEST_F(Loader, AnAbsentOrEmptyPartStopsWhatComesAfterIt) {
    const std::string deps =
        "<dependencies><d filename='a' product_code='p' arguments='' os='all'/></dependencies>";
    const std::string files =
        "<downloadable_files><f name='a' relative_path='' autorun='' base_url=''/>"
        "</downloadable_files>";
    struct Case {
        std::string text;
        HRESULT result;
        const wchar_t* baseUrl;  // "<null>": none
        size_t files, dependencies, patches;
    } const cases[] = {
        {manifest(files + deps), S_OK, L"B", 1, 1, 1},
        {manifest("<downloadable_files/>" + deps), S_FALSE, L"B", 0, 0, 0},
        {manifest("<downloadable_files> </downloadable_files>" + deps), S_FALSE, L"B", 0, 0, 0},
        {manifest(deps), S_FALSE, L"B", 0, 0, 0},
        {manifest(files), S_FALSE, L"B", 1, 0, 0},
        {manifest(files + "<dependencies/>"), S_FALSE, L"B", 1, 0, 0},
        {"<locations><x86><base_url>B</base_url>" + files + deps + "</x86></locations>", S_FALSE,
         L"B", 1, 1, 0},
        // An empty base address is still one; without any for this architecture nothing is read.
        {"<locations><x86><base_url></base_url>" + files + "</x86></locations>", S_FALSE, L"", 1, 0,
         0},
        {"<locations><x64><base_url>B</base_url>" + files + "</x64></locations>", S_FALSE,
         L"<null>", 0, 0, 0},
        {"<locations><x86><base_url>B</base_url>", S_FALSE, L"<null>", 0, 0, 0},  // not well formed
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        resetModel();
        EXPECT_EQ(loadManifest(write(L"locations.xml", c.text).c_str()), c.result);
        EXPECT_EQ(orNull(g_baseUrl), c.baseUrl);
        EXPECT_EQ(g_downloadableFiles.size(), c.files);
        EXPECT_EQ(g_dependencies.size(), c.dependencies);
        EXPECT_EQ(g_xmlPatches.size(), c.patches);
    }
    EXPECT_NE(loadManifest(path(L"absent.xml").c_str()), S_OK);
    EXPECT_TRUE(logLines().empty());  // the loader never logs
}

TEST_F(Loader, LongDisplayNamesAreCutToTheirBuffers) {
    // 98 characters, then a pair that would straddle the cut.
    std::string straddling = std::string(98, 's') + "\xF0\x9F\x98\x80" + "tail";
    loadManifest(write(L"locations.xml", "<locations><manufacturerName>" + std::string(99, 'e') +
                                             "</manufacturerName><defaultProductName>" +
                                             std::string(150, 'n') +
                                             "</defaultProductName><x86><base_url>B</base_url>"
                                             "</x86></locations>")
                     .c_str());
    EXPECT_EQ(narrow(g_messageCaption), std::string(99, 'e'));
    EXPECT_EQ(narrow(g_productName), std::string(99, 'n'));
    loadManifest(write(L"locations.xml", "<locations><defaultProductName>" + straddling +
                                             "</defaultProductName><x86><base_url>B</base_url>"
                                             "</x86></locations>")
                     .c_str());
    EXPECT_EQ(narrow(g_productName), std::string(98, 's'));
}

TEST_F(Loader, OutOfMemoryHasDefinedOutcomes) {
    WideString file = write(L"locations.xml", kExample);
    struct Case {
        bool failPath;            // no memory for the path VARIANT
        const wchar_t* failCopy;  // no memory for a copy of this text
        HRESULT result;
        const wchar_t* baseUrl;
        const wchar_t* caption;
        size_t files;
    } const cases[] = {
        {true, L"-", E_OUTOFMEMORY, L"<null>", L"", 0},
        // The base address known to exist but not copied: an empty one, and nothing else.
        {false, L"http://x86.test/kit", E_OUTOFMEMORY, L"", L"", 0},
        // A caption that cannot be copied stays empty, an entry that cannot is dropped; the rest
        // loads.
        {false, L"Example Maker", S_OK, L"http://x86.test/kit", L"", 3},
        {false, L"cabs", S_OK, L"http://x86.test/kit", L"Example Maker", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(narrow(c.failCopy));
        resetModel();
        FaultyMemory memory;
        if (c.failPath) memory.failString = file;
        memory.failCopy = c.failCopy;
        EXPECT_EQ(loadManifestUsing(file.c_str(), memory), c.result);
        EXPECT_EQ(orNull(g_baseUrl), c.baseUrl);
        EXPECT_STREQ(g_messageCaption, c.caption);
        EXPECT_EQ(g_downloadableFiles.size(), c.files);
    }
}

}  // namespace
}  // namespace unit_test
