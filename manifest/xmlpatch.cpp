#include "manifest/xmlpatch.h"

#include "base/runstate.h"
#include "log/log.h"
#include "manifest/model.h"
#include "manifest/xmldoc.h"

void appendAffiliatePatch(const wchar_t* tag) {
    XmlPatch patch;
    patch.path.reset(newTextCopy(L"/setup/install/affiliate_source"));
    patch.newValue.reset(newTextCopy(tag));
    g_xmlPatches.push_back(std::move(patch));
}

namespace {

// The document saved into memory and handed to `writer` as a whole.
HRESULT saveThrough(XmlDocument& document, const wchar_t* path, XmlFileWriter writer) {
    ComRef<IStream> stream;
    HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, stream.receive());
    if (SUCCEEDED(hr)) hr = document.save(stream.get());
    STATSTG saved = {};
    HGLOBAL memory = nullptr;
    if (SUCCEEDED(hr)) hr = stream.get()->Stat(&saved, STATFLAG_NONAME);
    if (SUCCEEDED(hr)) hr = GetHGlobalFromStream(stream.get(), &memory);
    if (FAILED(hr)) return hr;
    void* bytes = GlobalLock(memory);
    bool written = bytes != nullptr && writer(path, bytes, saved.cbSize.QuadPart);
    DWORD error = GetLastError();
    if (bytes != nullptr) GlobalUnlock(memory);
    return written ? S_OK : HRESULT_FROM_WIN32(error);
}

}  // namespace

void applyXmlPatches(const wchar_t* filePath, XmlFileWriter writer) {
    XmlMemory memory;
    applyXmlPatchesUsing(filePath, memory, writer);
}

void applyXmlPatchesUsing(const wchar_t* filePath, XmlMemory& memory, XmlFileWriter writer) {
    writeLog(L"[WENVAROTH] Applying xmlpatches on file %s", filePath);
    XmlDocument document(memory);
    HRESULT hr = S_OK;
    switch (document.open(filePath, &hr)) {
        case XmlDocument::OpenResult::kLoaded:
            break;
        case XmlDocument::OpenResult::kNotCreated:
            // Without the XML class there is nothing to say beyond the first line; without memory
            // for the path the file could not be loaded, and the log should say so.
            if (hr == E_OUTOFMEMORY) writeLog(L"[WENVAROTH] Cannot load xml %s", filePath);
            return;
        case XmlDocument::OpenResult::kNotSet:
            return;
        case XmlDocument::OpenResult::kNotLoaded: {
            wchar_t reason[320];
            document.describeLoadFailure(reason, 320);
            writeLog(L"[WENVAROTH] Cannot load xml %s", filePath);
            writeLog(L"[WENVAROTH] The parser's reason: %s", reason);
            return;
        }
    }

    for (const XmlPatch& patch : g_xmlPatches) {
        // A patch without a path or a value (an empty tag, a failed copy) changes nothing.
        if (isEmptyText(patch.path) || isEmptyText(patch.newValue)) continue;
        writeLog(L"[WENVAROTH] Found valid patch: node <%s> value <%s>", patch.path.get(),
                 patch.newValue.get());
        // A path that matches nothing changes nothing, just like a rejected one, and the log
        // must not let it pass for a change.
        ComRef<IXMLDOMNode> node;
        if (xmlSelectNode(memory, document.root(), patch.path.get(), &node) != S_OK) {
            writeLog(L"[WENVAROTH] Cannot access node %s", patch.path.get());
            continue;
        }
        hr = xmlSetText(memory, node.get(), patch.newValue.get());
        if (FAILED(hr)) {
            writeLog(L"[WENVAROTH] Cannot set node %s (0x%08lX)", patch.path.get(),
                     static_cast<unsigned long>(hr));
        }
    }

    // The installer reads the file as it is on disk; a save that failed leaves the kit's own
    // settings in place, which the log must show rather than hide.
    hr = writer != nullptr ? saveThrough(document, filePath, writer) : document.save();
    if (FAILED(hr)) {
        writeLog(L"[WENVAROTH] Cannot save xml %s (0x%08lX)", filePath,
                 static_cast<unsigned long>(hr));
    }
}
