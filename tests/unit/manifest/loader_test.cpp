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
      <file name="setup.xml" relative_path="" autorun="false" base_url="" extra="ignored"/>
      <?note a processing instruction?>
      <item name="data1.cab" relative_path="cabs" autorun="false" base_url="http://mirror.test">
        <child name="not an entry" relative_path="" autorun="true" base_url=""/>
      </item>
      <file name="prepare.exe" relative_path="tools" autorun="true" base_url=""/>
      <file name="prepare.exe" relative_path="tools" autorun="true" base_url=""/>
    </downloadable_files>
    <dependencies>
      <dependency filename="runtime_x86.msi" product_code="{A}" arguments="/qn" os="all"/>
      <dependency filename="update_xp.exe" product_code="{B}" arguments="" os="xp"/>
    </dependencies>
  </x86>
  <x64>
    <base_url>http://x64.test/kit</base_url>
    <downloadable_files>
      <file name="setup.exe" relative_path="" autorun="false" base_url=""/>
    </downloadable_files>
    <dependencies>
      <dependency filename="runtime_x64.msi" product_code="{C}" arguments="" os="win7"/>
    </dependencies>
  </x64>
  <modifies>
    <modify path="/setup/install/mode" new_val="full"/>
    <modify path="/setup/install/lang" new_val=""/>
  </modifies>
</locations>)";

// A manifest with the given x86 sections and one patch.
std::string manifest(const std::string& x86Sections) {
    return "<locations><manufacturerName>M</manufacturerName><x86><base_url>B</base_url>" +
           x86Sections + "</x86><modifies><m path='/a' new_val='b'/></modifies></locations>";
}

TEST_F(Loader, ReadsEveryFieldOfThe32BitSections) {
    EXPECT_EQ(loadManifest(write(L"locations.xml", kExample).c_str()), S_OK);
    EXPECT_STREQ(g_baseUrl, L"http://x86.test/kit");
    EXPECT_STREQ(g_messageCaption, L"Example Maker");
    EXPECT_STREQ(g_productName, L"Example Product");

    // Comments, processing instructions, white space and nested elements are no entries;
    // duplicates stay; empty relative_path and base_url become null.
    ASSERT_EQ(g_downloadableFiles.size(), 5u);
    EXPECT_STREQ(g_downloadableFiles[0].name.get(), L"setup.exe");
    EXPECT_EQ(g_downloadableFiles[0].relativePath.get(), nullptr);
    EXPECT_EQ(g_downloadableFiles[0].baseUrl.get(), nullptr);
    EXPECT_FALSE(g_downloadableFiles[0].autorun);
    EXPECT_STREQ(g_downloadableFiles[1].name.get(), L"setup.xml");
    EXPECT_STREQ(g_downloadableFiles[2].relativePath.get(), L"cabs");
    EXPECT_STREQ(g_downloadableFiles[2].baseUrl.get(), L"http://mirror.test");
    EXPECT_FALSE(g_downloadableFiles[2].autorun);
    EXPECT_TRUE(g_downloadableFiles[3].autorun);
    EXPECT_STREQ(g_downloadableFiles[4].name.get(), L"prepare.exe");
    EXPECT_EQ(g_downloadableFiles[4].size, 0);

    ASSERT_EQ(g_dependencies.size(), 2u);
    EXPECT_STREQ(g_dependencies[0].fileName.get(), L"runtime_x86.msi");
    EXPECT_STREQ(g_dependencies[0].productCode.get(), L"{A}");
    EXPECT_STREQ(g_dependencies[0].arguments.get(), L"/qn");
    EXPECT_EQ(g_dependencies[0].osFilter, OS_FILTER_ALL);
    EXPECT_STREQ(g_dependencies[1].arguments.get(), L"");
    EXPECT_EQ(g_dependencies[1].osFilter, 1);

    // A patch with an empty value is kept; the patcher skips it.
    ASSERT_EQ(g_xmlPatches.size(), 2u);
    EXPECT_STREQ(g_xmlPatches[0].path.get(), L"/setup/install/mode");
    EXPECT_STREQ(g_xmlPatches[0].newValue.get(), L"full");
    EXPECT_STREQ(g_xmlPatches[1].newValue.get(), L"");
}

TEST_F(Loader, On64BitWindowsReadsOnlyThe64BitSections) {
    g_isWin64 = TRUE;
    EXPECT_EQ(loadManifest(write(L"locations.xml", kExample).c_str()), S_OK);
    EXPECT_STREQ(g_baseUrl, L"http://x64.test/kit");
    ASSERT_EQ(g_downloadableFiles.size(), 1u);
    ASSERT_EQ(g_dependencies.size(), 1u);
    EXPECT_EQ(g_dependencies[0].osFilter, 4);
    EXPECT_EQ(g_xmlPatches.size(), 2u);
}

TEST_F(Loader, WithoutABaseAddressForTheArchitectureNothingIsFilled) {
    g_isWin64 = TRUE;
    std::string onlyX86 = manifest(
        "<downloadable_files><f name='a' relative_path='' autorun='' "
        "base_url=''/></downloadable_files>");
    EXPECT_EQ(loadManifest(write(L"locations.xml", onlyX86).c_str()), S_FALSE);
    EXPECT_EQ(g_baseUrl, nullptr);
    EXPECT_STREQ(g_messageCaption, L"");
    EXPECT_TRUE(g_downloadableFiles.empty());
    EXPECT_TRUE(g_xmlPatches.empty());
}

TEST_F(Loader, MissingOrBrokenManifestFillsNothing) {
    EXPECT_NE(loadManifest(path(L"absent.xml").c_str()), S_OK);
    EXPECT_NE(loadManifest(write(L"broken.xml", "<locations><x86><base_url>B</base_url>").c_str()),
              S_OK);
    EXPECT_EQ(g_baseUrl, nullptr);
    EXPECT_TRUE(g_xmlPatches.empty());
    EXPECT_TRUE(logLines().empty());  // the loader never logs
}

TEST_F(Loader, EntriesMissingAnAttributeAreDropped) {
    loadManifest(write(L"locations.xml", manifest(R"(<downloadable_files>
        <f name='no_base' relative_path='' autorun='true'/>
        <f name='no_autorun' relative_path='' base_url=''/>
        <f relative_path='' autorun='true' base_url=''/>
        <f name='' relative_path='' autorun='True' base_url=''/>
        <f name='one' relative_path='' autorun='1' base_url=''/>
        <f name='two' relative_path='' autorun='TRUE' base_url=''/>
        <f name='three' relative_path='' autorun='true ' base_url=''/>
      </downloadable_files>
      <dependencies>
        <d filename='a' product_code='{P}' arguments='' os='vista'/>
        <d filename='b' product_code='' arguments='' os='all'/>
        <d filename='' product_code='{P}' arguments='' os='all'/>
        <d filename='c' product_code='{P}' arguments='' os='Vista'/>
        <d filename='d' product_code='{P}' arguments='' os=''/>
        <d filename='d' product_code='{P}' arguments='' os='win7 '/>
        <d filename='e' product_code='{P}' os='all'/>
      </dependencies>)"))
                     .c_str());
    // The empty name is accepted; only exactly "true" sets autorun.
    ASSERT_EQ(g_downloadableFiles.size(), 4u);
    EXPECT_STREQ(g_downloadableFiles[0].name.get(), L"");
    for (const DownloadableFile& file : g_downloadableFiles) EXPECT_FALSE(file.autorun);
    ASSERT_EQ(g_dependencies.size(), 1u);
    EXPECT_STREQ(g_dependencies[0].fileName.get(), L"a");
    EXPECT_EQ(g_dependencies[0].osFilter, 3);
    EXPECT_EQ(g_xmlPatches.size(), 1u);
}

TEST_F(Loader, AnEmptyOrAbsentSectionStopsTheSectionsAfterIt) {
    const std::string deps =
        "<dependencies><d filename='a' product_code='p' arguments='' os='all'/></dependencies>";
    const std::string files =
        "<downloadable_files><f name='a' relative_path='' autorun='' base_url=''/>"
        "</downloadable_files>";
    struct Case {
        std::string sections;
        size_t files, dependencies, patches;
    } cases[] = {
        {"<downloadable_files/>" + deps, 0, 0, 0},
        {"<downloadable_files> </downloadable_files>" + deps, 0, 0, 0},  // white space only
        {deps, 0, 0, 0},                                                 // files section absent
        {files, 1, 0, 0},
        {files + "<dependencies/>", 1, 0, 0},
        {files + deps, 1, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sections);
        resetModel();
        loadManifest(write(L"locations.xml", manifest(c.sections)).c_str());
        EXPECT_STREQ(g_baseUrl, L"B");
        EXPECT_STREQ(g_messageCaption, L"M");
        EXPECT_EQ(g_downloadableFiles.size(), c.files);
        EXPECT_EQ(g_dependencies.size(), c.dependencies);
        EXPECT_EQ(g_xmlPatches.size(), c.patches);
    }
    // A missing modifies section leaves only the patches empty.
    resetModel();
    EXPECT_EQ(loadManifest(write(L"l.xml", "<locations><x86><base_url>B</base_url>" + files + deps +
                                               "</x86></locations>")
                               .c_str()),
              S_FALSE);
    EXPECT_EQ(g_dependencies.size(), 1u);
    EXPECT_TRUE(g_xmlPatches.empty());
}

TEST_F(Loader, LongDisplayNamesAreCutToTheirBuffers) {
    std::string exact(99, 'e');
    std::string longName(150, 'n');
    // 98 characters, then a pair that would straddle the cut.
    std::string straddling = std::string(98, 's') + "\xF0\x9F\x98\x80" + "tail";
    loadManifest(write(L"locations.xml", "<locations><manufacturerName>" + exact +
                                             "</manufacturerName><defaultProductName>" + longName +
                                             "</defaultProductName><x86><base_url>B</base_url>"
                                             "</x86></locations>")
                     .c_str());
    EXPECT_EQ(narrow(g_messageCaption), exact);
    EXPECT_EQ(narrow(g_productName), std::string(99, 'n'));
    loadManifest(write(L"locations.xml", "<locations><defaultProductName>" + straddling +
                                             "</defaultProductName><x86><base_url>B</base_url>"
                                             "</x86></locations>")
                     .c_str());
    EXPECT_EQ(narrow(g_productName), std::string(98, 's'));
}

TEST_F(Loader, AbsentDisplayElementsLeaveTheirTextsEmpty) {
    std::string noNames =
        "<locations><x86><base_url></base_url><downloadable_files><f name='a' "
        "relative_path='' autorun='' base_url=''/></downloadable_files></x86></locations>";
    loadManifest(write(L"locations.xml", noNames).c_str());
    ASSERT_NE(g_baseUrl, nullptr);
    EXPECT_STREQ(g_baseUrl, L"");
    EXPECT_STREQ(g_messageCaption, L"");
    EXPECT_STREQ(g_productName, L"");
    EXPECT_EQ(g_downloadableFiles.size(), 1u);
}

TEST_F(Loader, OutOfMemoryHasDefinedOutcomes) {
    WideString file = write(L"locations.xml", kExample);
    FaultyMemory memory;
    memory.failString = file;  // the path VARIANT
    EXPECT_EQ(loadManifestUsing(file.c_str(), memory), E_OUTOFMEMORY);
    EXPECT_EQ(g_baseUrl, nullptr);

    memory = FaultyMemory();
    memory.failCopy = L"http://x86.test/kit";
    EXPECT_EQ(loadManifestUsing(file.c_str(), memory), E_OUTOFMEMORY);
    ASSERT_NE(g_baseUrl, nullptr);
    EXPECT_STREQ(g_baseUrl, L"");
    EXPECT_STREQ(g_messageCaption, L"");
    EXPECT_TRUE(g_downloadableFiles.empty());

    // A caption that cannot be copied stays empty; an entry whose text cannot be copied is
    // dropped; the rest loads.
    resetModel();
    memory = FaultyMemory();
    memory.failCopy = L"Example Maker";
    EXPECT_EQ(loadManifestUsing(file.c_str(), memory), S_OK);
    EXPECT_STREQ(g_messageCaption, L"");
    EXPECT_STREQ(g_productName, L"Example Product");
    resetModel();
    memory.failCopy = L"cabs";
    EXPECT_EQ(loadManifestUsing(file.c_str(), memory), S_OK);
    EXPECT_EQ(g_downloadableFiles.size(), 4u);
    EXPECT_EQ(g_dependencies.size(), 2u);
}

}  // namespace
}  // namespace unit_test
