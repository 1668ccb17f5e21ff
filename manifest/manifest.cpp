#include "manifest/manifest.h"

#include <wchar.h>

#include "base/runstate.h"
#include "log/log.h"
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

// What an entry reader needs besides the entry: the memory, where a dropped entry is told, the
// section read (to name it) and the entry's place among the section's elements (from 1).
struct Reader {
    XmlMemory& memory;
    ManifestNote note;
    const wchar_t* section;
    int position;
};

// The line's own prefix is written as the log's fixed text, so that no log line starts with text
// taken from a document.
void logNote(const wchar_t* line) {
    const wchar_t kPrefix[] = L"[WENVAROTH] ";
    const size_t prefix = wcslen(kPrefix);
    writeLog(L"[WENVAROTH] %s", wcsncmp(line, kPrefix, prefix) == 0 ? line + prefix : line);
}

// Tells one dropped entry: its place, the value that names it (or "" when it names none) and why.
void noteDrop(const Reader& reader, const wchar_t* id, const wchar_t* format, ...) {
    wchar_t why[400];
    wchar_t line[700];
    va_list args;
    va_start(args, format);
    bool told = textFormatV(why, 400, format, args);
    va_end(args);
    if (!told) textCopy(why, L"(too long to tell)");
    if (textFormat(line, 700, L"[WENVAROTH] Dropped manifest entry %d of %s (%s): %s",
                   reader.position, reader.section, id != nullptr ? id : L"", why)) {
        reader.note(line);
    }
}

// The names of the entry's attributes that are not in `known` (a null-ended list), joined with
// ", ": a misspelt attribute shows up here beside the one found missing.
void unreadAttributes(IXMLDOMNode* entry, const wchar_t* const* known, wchar_t* out,
                      size_t capacity) {
    out[0] = L'\0';
    ComRef<IXMLDOMNamedNodeMap> attributes;
    long count = 0;
    if (entry->get_attributes(attributes.receive()) != S_OK || !attributes ||
        FAILED(attributes.get()->get_length(&count))) {
        return;
    }
    for (long i = 0; i < count; ++i) {
        ComRef<IXMLDOMNode> attribute;
        BstrHolder name;
        if (attributes.get()->get_item(i, attribute.receive()) != S_OK || !attribute ||
            attribute.get()->get_nodeName(name.receive()) != S_OK || name.get() == nullptr) {
            continue;
        }
        bool isKnown = false;
        for (const wchar_t* const* k = known; *k != nullptr; ++k) {
            if (wcscmp(*k, name.get()) == 0) isKnown = true;
        }
        if (isKnown) continue;
        // A list that no longer fits ends in "...": enough to see what to fix.
        if ((out[0] != L'\0' && !textAppend(out, capacity, L", ")) ||
            !textAppend(out, capacity, name.get())) {
            textAppend(out, capacity, L"...");
            return;
        }
    }
}

// Reads a required attribute: false, after a note, when it is absent or unreadable.
bool readRequired(const Reader& reader, IXMLDOMNode* entry, const wchar_t* id,
                  const wchar_t* const* known, const wchar_t* name, HeapText* value) {
    HRESULT hr = xmlReadAttribute(reader.memory, entry, name, value);
    if (hr == S_OK) return true;
    if (hr != S_FALSE) {
        noteDrop(reader, id, L"attribute %s unreadable (0x%08lX)", name,
                 static_cast<unsigned long>(hr));
        return false;
    }
    wchar_t unread[200];
    unreadAttributes(entry, known, unread, 200);
    if (unread[0] != L'\0') {
        noteDrop(reader, id, L"no attribute %s (attributes not read: %s)", name, unread);
    } else {
        noteDrop(reader, id, L"no attribute %s", name);
    }
    return false;
}

// The value that names an entry in a note: its identifying attribute, when it has one.
const wchar_t* entryId(const HeapText& text) { return text ? text.get() : L""; }

// One entry of a downloadable-files section; dropped when an attribute is missing or unreadable.
void readFileEntry(const Reader& reader, IXMLDOMNode* entry) {
    static const wchar_t* const kKnown[] = {L"name", L"relative_path", L"autorun", L"base_url",
                                            nullptr};
    XmlMemory& memory = reader.memory;
    DownloadableFile file;
    HeapText value;
    xmlReadAttribute(memory, entry, L"name", &file.name);
    const wchar_t* id = entryId(file.name);
    for (const wchar_t* const* name = kKnown; *name != nullptr; ++name) {
        if (!readRequired(reader, entry, id, kKnown, *name, &value)) return;
        if (name == kKnown + 1 && !isEmptyText(value)) file.relativePath = std::move(value);
        if (name == kKnown + 2) file.autorun = wcscmp(value.get(), L"true") == 0;
        if (name == kKnown + 3 && !isEmptyText(value)) file.baseUrl = std::move(value);
    }
    g_downloadableFiles.push_back(std::move(file));
}

void readDependencyEntry(const Reader& reader, IXMLDOMNode* entry) {
    static const wchar_t* const kKnown[] = {L"filename", L"product_code", L"arguments", L"os",
                                            nullptr};
    Dependency dependency;
    HeapText os;
    HeapText id;
    xmlReadAttribute(reader.memory, entry, L"filename", &id);
    const wchar_t* name = entryId(id);
    if (!readRequired(reader, entry, name, kKnown, L"filename", &dependency.fileName) ||
        !readRequired(reader, entry, name, kKnown, L"product_code", &dependency.productCode) ||
        !readRequired(reader, entry, name, kKnown, L"arguments", &dependency.arguments) ||
        !readRequired(reader, entry, name, kKnown, L"os", &os)) {
        return;
    }
    dependency.osFilter = osFilterFromName(os.get());
    // Kept only when it names a file and a product and serves some operating system.
    if (isEmptyText(dependency.fileName) || isEmptyText(dependency.productCode)) {
        noteDrop(reader, name, L"empty %s",
                 isEmptyText(dependency.fileName) ? L"filename" : L"product_code");
        return;
    }
    if (dependency.osFilter == 0) {
        noteDrop(reader, name, L"unknown os \"%s\" (all, xp, vista or win7, in lower case)",
                 os.get());
        return;
    }
    g_dependencies.push_back(std::move(dependency));
}

void readPatchEntry(const Reader& reader, IXMLDOMNode* entry) {
    static const wchar_t* const kKnown[] = {L"path", L"new_val", nullptr};
    XmlPatch patch;
    HeapText id;
    xmlReadAttribute(reader.memory, entry, L"path", &id);
    if (!readRequired(reader, entry, entryId(id), kKnown, L"path", &patch.path) ||
        !readRequired(reader, entry, entryId(id), kKnown, L"new_val", &patch.newValue)) {
        return;
    }
    g_xmlPatches.push_back(std::move(patch));
}

// A reader for the section that `query` ("//locations/" and the section's path) selects.
Reader sectionReader(XmlMemory& memory, ManifestNote note, const wchar_t* query) {
    return Reader{memory, note, query + wcslen(L"//locations/"), 0};
}

typedef void (*EntryReader)(const Reader&, IXMLDOMNode*);

// Visits every element among the child nodes of `section` in document order; text, comments and
// processing instructions are passed over. The result is that of the first-child step: anything
// but S_OK means the section had no entries to read.
HRESULT walkSection(Reader reader, IXMLDOMNode* section, EntryReader readEntry) {
    ComRef<IXMLDOMNode> entry;
    HRESULT hr = xmlFirstChild(section, &entry);
    if (hr != S_OK) return hr;
    do {
        DOMNodeType type = NODE_INVALID;
        if (entry.get()->get_nodeType(&type) != S_OK || type != NODE_ELEMENT) continue;
        ++reader.position;
        readEntry(reader, entry.get());
    } while (xmlNextSibling(&entry) == S_OK);
    return S_OK;
}

// Reads the entries of the first section that `query` ("//locations/" and the section's name)
// selects: S_OK when it had any, S_FALSE when it is absent or empty, a failure code otherwise.
HRESULT readSection(XmlMemory& memory, ManifestNote note, IXMLDOMNode* root, const wchar_t* query,
                    EntryReader readEntry) {
    ComRef<IXMLDOMNode> section;
    HRESULT hr = xmlSelectNode(memory, root, query, &section);
    return hr == S_OK ? walkSection(sectionReader(memory, note, query), section.get(), readEntry)
                      : hr;
}

}  // namespace

HRESULT loadManifest(const wchar_t* path, ManifestNote note) {
    XmlMemory memory;
    return loadManifestUsing(path, memory, note);
}

HRESULT loadManifestUsing(const wchar_t* path, XmlMemory& memory, ManifestNote note) {
    if (note == nullptr) note = logNote;
    XmlDocument document(memory);
    HRESULT hr = S_OK;
    XmlDocument::OpenResult opened = document.open(path, &hr);
    if (opened != XmlDocument::OpenResult::kLoaded) {
        wchar_t why[320] = {};
        wchar_t line[700];
        if (opened == XmlDocument::OpenResult::kNotLoaded) {
            document.describeLoadFailure(why, 320);
        } else {
            textFormat(why, 320, L"error 0x%08lX", static_cast<unsigned long>(hr));
        }
        if (textFormat(line, 700, L"[WENVAROTH] Cannot load the manifest %s: %s", path, why)) {
            note(line);
        }
        return hr;
    }
    IXMLDOMNode* root = document.root();
    const bool x64 = g_isWin64 != FALSE;

    // Without a base address nothing else of the manifest is of any use.
    hr = readBaseUrl(memory, root, x64 ? L"//locations/x64/base_url" : L"//locations/x86/base_url");
    if (hr != S_OK) return hr;

    readDisplayText(memory, root, L"//locations/manufacturerName", g_messageCaption, kNameChars);
    readDisplayText(memory, root, L"//locations/defaultProductName", g_productName, kNameChars);

    // A kit without files for this architecture has nothing to install, so an absent files
    // section ends the load just as an empty one does; only a failed query goes on.
    const wchar_t* files =
        x64 ? L"//locations/x64/downloadable_files" : L"//locations/x86/downloadable_files";
    ComRef<IXMLDOMNode> section;
    hr = xmlSelectNode(memory, root, files, &section);
    if (hr == S_FALSE) return hr;
    if (hr == S_OK) {
        hr = walkSection(sectionReader(memory, note, files), section.get(), readFileEntry);
        if (hr != S_OK) return hr;
    }

    // A kit that needs no prerequisite leaves its dependencies section out or empty; its patches
    // of "setup.xml" must still be read, so the two sections are read independently.
    HRESULT dependencies = readSection(
        memory, note, root, x64 ? L"//locations/x64/dependencies" : L"//locations/x86/dependencies",
        readDependencyEntry);
    HRESULT patches = readSection(memory, note, root, L"//locations/modifies", readPatchEntry);
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

const wchar_t* osFilterName(int32_t filter) {
    switch (filter) {
        case OS_FILTER_ALL:
            return L"all";
        case 1:
            return L"xp";
        case 3:
            return L"vista";
        case 4:
            return L"win7";
        default:
            return L"";
    }
}
