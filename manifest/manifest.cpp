#include "manifest/manifest.h"

#include <wchar.h>

#include "base/runstate.h"
#include "manifest/xmldoc.h"

namespace {

// Copies a display text into a fixed buffer, cut to what the buffer holds. A caption or product
// name that is a little too long is still far more useful shown shortened than not at all; the cut
// never leaves half of a surrogate pair behind.
void copyDisplayText(wchar_t* dst, size_t capacity, const wchar_t* src) {
    size_t length = wcslen(src);
    if (length >= capacity) {
        length = capacity - 1;
        if (src[length - 1] >= 0xD800 && src[length - 1] <= 0xDBFF) --length;
    }
    wmemcpy(dst, src, length);
    dst[length] = L'\0';
}

// The text of the first element that `query` selects, into a fixed buffer. A failed query, an
// absent element or an unreadable text leaves the buffer as it was.
void readDisplayText(XmlMemory& memory, IXMLDOMNode* root, const wchar_t* query, wchar_t* dst,
                     size_t capacity) {
    ComRef<IXMLDOMNode> node;
    if (xmlSelectNode(memory, root, query, &node) != S_OK) return;
    HeapText text;
    if (xmlReadText(memory, node.get(), &text) != S_OK) return;
    copyDisplayText(dst, capacity, text.get());
}

HRESULT readBaseUrl(XmlMemory& memory, IXMLDOMNode* root, const wchar_t* query) {
    ComRef<IXMLDOMNode> node;
    HRESULT hr = xmlSelectNode(memory, root, query, &node);
    if (hr != S_OK) return hr;
    HeapText text;
    hr = xmlReadText(memory, node.get(), &text);
    if (hr == E_OUTOFMEMORY) {
        // The base address is known to exist; an empty text tells the users of it so.
        free(g_baseUrl);
        g_baseUrl = memory.copyText(L"", 0);
        return hr;
    }
    if (hr != S_OK) return hr;
    free(g_baseUrl);
    g_baseUrl = text.release();
    return S_OK;
}

// One entry of a downloadable-files section; dropped when an attribute is missing or unreadable.
void readFileEntry(XmlMemory& memory, IXMLDOMNode* entry) {
    DownloadableFile file;
    HeapText value;
    if (xmlReadAttribute(memory, entry, L"name", &file.name) != S_OK) return;
    if (xmlReadAttribute(memory, entry, L"relative_path", &value) != S_OK) return;
    if (!isEmptyText(value)) file.relativePath = std::move(value);
    if (xmlReadAttribute(memory, entry, L"autorun", &value) != S_OK) return;
    file.autorun = wcscmp(value.get(), L"true") == 0;
    if (xmlReadAttribute(memory, entry, L"base_url", &value) != S_OK) return;
    if (!isEmptyText(value)) file.baseUrl = std::move(value);
    g_downloadableFiles.push_back(std::move(file));
}

void readDependencyEntry(XmlMemory& memory, IXMLDOMNode* entry) {
    Dependency dependency;
    HeapText os;
    if (xmlReadAttribute(memory, entry, L"filename", &dependency.fileName) != S_OK ||
        xmlReadAttribute(memory, entry, L"product_code", &dependency.productCode) != S_OK ||
        xmlReadAttribute(memory, entry, L"arguments", &dependency.arguments) != S_OK ||
        xmlReadAttribute(memory, entry, L"os", &os) != S_OK) {
        return;
    }
    dependency.osFilter = osFilterFromName(os.get());
    // Kept only when it names a file and a product and serves some operating system.
    if (isEmptyText(dependency.fileName) || isEmptyText(dependency.productCode) ||
        dependency.osFilter == 0) {
        return;
    }
    g_dependencies.push_back(std::move(dependency));
}

void readPatchEntry(XmlMemory& memory, IXMLDOMNode* entry) {
    XmlPatch patch;
    if (xmlReadAttribute(memory, entry, L"path", &patch.path) != S_OK ||
        xmlReadAttribute(memory, entry, L"new_val", &patch.newValue) != S_OK) {
        return;
    }
    g_xmlPatches.push_back(std::move(patch));
}

// Visits every child node of `section` in document order. Nodes that carry no attributes
// (text, comments, processing instructions) are passed over by the readers, which find no
// attribute on them. The result is that of the first-child step: anything but S_OK means the
// section had no entries to read.
HRESULT walkSection(XmlMemory& memory, IXMLDOMNode* section,
                    void (*readEntry)(XmlMemory&, IXMLDOMNode*)) {
    ComRef<IXMLDOMNode> entry;
    HRESULT hr = xmlFirstChild(section, &entry);
    if (hr != S_OK) return hr;
    do {
        readEntry(memory, entry.get());
    } while (xmlNextSibling(&entry) == S_OK);
    return S_OK;
}

// Reads the entries of the first section that `query` selects: S_OK when it had any, S_FALSE when
// it is absent or empty, a failure code otherwise.
HRESULT readSection(XmlMemory& memory, IXMLDOMNode* root, const wchar_t* query,
                    void (*readEntry)(XmlMemory&, IXMLDOMNode*)) {
    ComRef<IXMLDOMNode> section;
    HRESULT hr = xmlSelectNode(memory, root, query, &section);
    return hr == S_OK ? walkSection(memory, section.get(), readEntry) : hr;
}

}  // namespace

HRESULT loadManifest(const wchar_t* path) {
    XmlMemory memory;
    return loadManifestUsing(path, memory);
}

HRESULT loadManifestUsing(const wchar_t* path, XmlMemory& memory) {
    XmlDocument document(memory);
    HRESULT hr = S_OK;
    if (document.open(path, &hr) != XmlDocument::OpenResult::kLoaded) return hr;
    IXMLDOMNode* root = document.root();
    const bool x64 = g_isWin64 != FALSE;

    // Without a base address nothing else of the manifest is of any use.
    hr = readBaseUrl(memory, root, x64 ? L"//locations/x64/base_url" : L"//locations/x86/base_url");
    if (hr != S_OK) return hr;

    readDisplayText(memory, root, L"//locations/manufacturerName", g_messageCaption, kNameChars);
    readDisplayText(memory, root, L"//locations/defaultProductName", g_productName, kNameChars);

    // A kit without files for this architecture has nothing to install, so an absent files
    // section ends the load just as an empty one does; only a failed query goes on.
    ComRef<IXMLDOMNode> section;
    hr = xmlSelectNode(
        memory, root,
        x64 ? L"//locations/x64/downloadable_files" : L"//locations/x86/downloadable_files",
        &section);
    if (hr == S_FALSE) return hr;
    if (hr == S_OK) {
        hr = walkSection(memory, section.get(), readFileEntry);
        if (hr != S_OK) return hr;
    }

    // A kit that needs no prerequisite leaves its dependencies section out or empty; its patches
    // of "setup.xml" must still be read, so the two sections are read independently.
    HRESULT dependencies = readSection(
        memory, root, x64 ? L"//locations/x64/dependencies" : L"//locations/x86/dependencies",
        readDependencyEntry);
    HRESULT patches = readSection(memory, root, L"//locations/modifies", readPatchEntry);
    return FAILED(dependencies) ? dependencies : patches;
}

int32_t osFilterFromName(const wchar_t* text) {
    if (text == nullptr) return 0;
    if (wcscmp(text, L"all") == 0) return OS_FILTER_ALL;
    if (wcscmp(text, L"xp") == 0) return 1;
    if (wcscmp(text, L"vista") == 0) return 3;
    if (wcscmp(text, L"win7") == 0) return 4;
    return 0;
}
