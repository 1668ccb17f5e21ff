// The sections an end-to-end kit uses are read as its runs show, and a manifest that is not well
// formed, empty or without a base address is an end-to-end case too; these are the finer points.
#include "manifest/manifest.h"

#include "support.h"

namespace unit_test {
namespace {

using Loader = ManifestTest;

// A text that may be null, for comparisons.
std::wstring orNull(const wchar_t* text) { return text != nullptr ? text : L"<null>"; }

// A manifest with the given x86 sections and two patches.
std::string manifest(const std::string& x86Sections) {
    return "<locations><manufacturerName>M</manufacturerName><x86><base_url>B</base_url>" +
           x86Sections +
           "</x86><modifies><m path='/a' new_val='b'/><m path='/c' new_val='d'/></modifies>"
           "</locations>";
}

const char kFiles[] =
    "<downloadable_files><f name='a' relative_path='' autorun='' base_url=''/>"
    "<f name='b' relative_path='cabs' autorun='' base_url=''/>"
    "</downloadable_files>";
const char kDeps[] =
    "<dependencies><d filename='a' product_code='p' arguments='' os='all'/></dependencies>";

// Comments, processing instructions and nested elements are no entries, duplicates stay, empty
// relative_path and base_url are none, only exactly "true" sets autorun. Each dropped entry is
// logged with its place and the missing attribute or the value not taken.
TEST_F(Loader, EntriesMissingAnAttributeAreDropped) {
    loadManifest(write(L"locations.xml", manifest(R"(<downloadable_files>
        <f name='no_base' relative_path='' autorun='true' base_ur=''/>
        <f name='no_autorun' relative_path='' base_url=''/>
        <f relative_path='' autorun='true' base_url=''/>
        <f name='' relative_path='' autorun='True' base_url=''/>
        <!-- a comment --><?note a processing instruction?>
        <f name='one' relative_path='cabs' autorun='true' base_url='http://mirror'>
          <f name='nested' relative_path='' autorun='true' base_url=''/>
        </f>
        <f name='two' relative_path='' autorun='true ' base_url=''/>
        <f name='two' relative_path='' autorun='1' base_url='' extra='ignored'/>
      </downloadable_files>
      <dependencies>
        <d filename='a' product_code='{P}' arguments='' os='all'/>
        <d filename='b' product_code='' arguments='' os='all'/>
        <d filename='' product_code='{P}' arguments='' os='all'/>
        <d filename='c' product_code='{P}' arguments='' os='Vista'/>
        <d filename='d' product_code='{P}' arguments='' os='win7 '/>
        <d filename='e' product_code='{P}' os='all'/>
        <d filename='f' product_code='{P}' arguments='' os='xp'/>
        <d filename='g' product_code='{P}' arguments='' os='vista'/>
        <d filename='h' product_code='{P}' arguments='' os='win7'/>
      </dependencies>)"))
                     .c_str());
    std::vector<std::wstring> files, dependencies;
    for (const DownloadableFile& f : g_downloadableFiles) {
        files.push_back(std::wstring(f.name.get()) + L"|" + orNull(f.relativePath.get()) +
                        (f.autorun ? L"|autorun|" : L"||") + orNull(f.baseUrl.get()));
    }
    for (const Dependency& d : g_dependencies)
        dependencies.push_back(d.fileName.get() + std::to_wstring(d.osFilter));
    EXPECT_EQ(files,
              (std::vector<std::wstring>{L"|<null>||<null>", L"one|cabs|autorun|http://mirror",
                                         L"two|<null>||<null>", L"two|<null>||<null>"}));
    EXPECT_EQ(dependencies, (std::vector<std::wstring>{L"a5", L"f1", L"g3", L"h4"}));
    EXPECT_EQ(logLines(),
              (std::vector<std::string>{
                  "[WENVAROTH] Dropped manifest entry 1 of x86/downloadable_files (no_base): no "
                  "attribute base_url (attributes not read: base_ur)",
                  "[WENVAROTH] Dropped manifest entry 2 of x86/downloadable_files (no_autorun): "
                  "no attribute autorun",
                  "[WENVAROTH] Dropped manifest entry 3 of x86/downloadable_files (): no "
                  "attribute name",
                  "[WENVAROTH] Dropped manifest entry 2 of x86/dependencies (b): empty "
                  "product_code",
                  "[WENVAROTH] Dropped manifest entry 3 of x86/dependencies (): empty filename",
                  "[WENVAROTH] Dropped manifest entry 4 of x86/dependencies (c): unknown os "
                  "\"Vista\" (all, xp, vista or win7, in lower case)",
                  "[WENVAROTH] Dropped manifest entry 5 of x86/dependencies (d): unknown os "
                  "\"win7 \" (all, xp, vista or win7, in lower case)",
                  "[WENVAROTH] Dropped manifest entry 6 of x86/dependencies (e): no attribute "
                  "arguments"}));
}

// Reading stops at an absent base address or files section: nothing after it is filled. The
// patches do not depend on the prerequisites. Only the sections of the system's architecture are
// read.
TEST_F(Loader, AnAbsentOrEmptyPartStopsWhatComesAfterIt) {
    const std::string files = kFiles, deps = kDeps;
    const std::string x64Only =
        "<locations><x64><base_url>B</base_url>" + files + "</x64></locations>";
    struct Case {
        std::string text;
        BOOL win64;
        HRESULT result;
        const wchar_t* baseUrl;  // "<null>": none
        size_t files, dependencies, patches;
    } const cases[] = {
        {manifest(files + deps), FALSE, S_OK, L"B", 2, 1, 2},
        {manifest("<downloadable_files/>" + deps), FALSE, S_FALSE, L"B", 0, 0, 0},
        {manifest("<downloadable_files> </downloadable_files>" + deps), FALSE, S_FALSE, L"B", 0, 0,
         0},
        {manifest(deps), FALSE, S_FALSE, L"B", 0, 0, 0},
        {manifest(files), FALSE, S_OK, L"B", 2, 0, 2},
        {manifest(files + "<dependencies/>"), FALSE, S_OK, L"B", 2, 0, 2},
        {"<locations><x86><base_url>B</base_url>" + files + deps + "</x86></locations>", FALSE,
         S_FALSE, L"B", 2, 1, 0},
        // An empty base address is still one.
        {"<locations><x86><base_url></base_url>" + files + "</x86></locations>", FALSE, S_FALSE,
         L"", 2, 0, 0},
        {x64Only, FALSE, S_FALSE, L"<null>", 0, 0, 0},
        {x64Only, TRUE, S_FALSE, L"B", 2, 0, 0},
        {manifest(files + deps), TRUE, S_FALSE, L"<null>", 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        resetModel();
        g_isWin64 = c.win64;
        EXPECT_EQ(loadManifest(write(L"locations.xml", c.text).c_str()), c.result);
        EXPECT_EQ(orNull(g_baseUrl), c.baseUrl);
        EXPECT_EQ(g_downloadableFiles.size(), c.files);
        EXPECT_EQ(g_dependencies.size(), c.dependencies);
        EXPECT_EQ(g_xmlPatches.size(), c.patches);
    }
    EXPECT_TRUE(logLines().empty());  // the loader never logs
}

TEST_F(Loader, LongDisplayNamesAreCutToTheirBuffers) {
    // The product name: 98 characters, then a pair that would straddle the cut.
    loadManifest(write(L"locations.xml", "<locations><manufacturerName>" + std::string(150, 'e') +
                                             "</manufacturerName><defaultProductName>" +
                                             std::string(98, 's') +
                                             "\xF0\x9F\x98\x80tail"
                                             "</defaultProductName><x86><base_url>B</base_url>"
                                             "</x86></locations>")
                     .c_str());
    EXPECT_EQ(narrow(g_messageCaption), std::string(99, 'e'));
    EXPECT_EQ(narrow(g_productName), std::string(98, 's'));
}

TEST_F(Loader, OutOfMemoryHasDefinedOutcomes) {
    WideString file = write(L"locations.xml", manifest(std::string(kFiles) + kDeps));
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
        {false, L"B", E_OUTOFMEMORY, L"", L"", 0},
        // A caption that cannot be copied stays empty, an entry that cannot is dropped; the rest
        // loads.
        {false, L"M", S_OK, L"B", L"", 2},
        {false, L"cabs", S_OK, L"B", L"M", 1},
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
