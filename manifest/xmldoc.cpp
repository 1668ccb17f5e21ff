#include "manifest/xmldoc.h"

#include <objbase.h>

#include "log/log.h"

namespace {

// The MSXML 3.0 document class and its document interface.
const CLSID kDomDocument30 = {
    0xF5078F32, 0xC551, 0x11D3, {0x89, 0xB9, 0x00, 0x00, 0xF8, 0x1F, 0xE2, 0x21}};
const IID kXmlDomDocument = {
    0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

// Turns the platform's answer to a "give me one node" call into the three outcomes the callers
// tell apart, whatever odd combination of result and pointer came back.
HRESULT nodeOutcome(HRESULT result, ComRef<IXMLDOMNode>* node) {
    if (result == S_OK && *node) return S_OK;
    node->reset();
    return FAILED(result) ? result : S_FALSE;
}

}  // namespace

XmlDocument::XmlDocument(XmlMemory& memory) : m_memory(memory) {
    m_comResult = CoInitialize(nullptr);
    VariantInit(&m_path);
}

XmlDocument::~XmlDocument() {
    m_document.reset();
    VariantClear(&m_path);
    // A thread already in another apartment refuses CoInitialize; only a successful call is paired.
    if (SUCCEEDED(m_comResult)) CoUninitialize();
}

XmlDocument::OpenResult XmlDocument::open(const wchar_t* path, HRESULT* result) {
    m_loaded = false;
    VariantClear(&m_path);
    BSTR pathText = path != nullptr ? m_memory.allocString(path) : nullptr;
    if (pathText == nullptr) {
        *result = E_OUTOFMEMORY;
        return OpenResult::kNotCreated;
    }
    m_path.vt = VT_BSTR;
    m_path.bstrVal = pathText;

    HRESULT hr = CoCreateInstance(kDomDocument30, nullptr, CLSCTX_INPROC_SERVER, kXmlDomDocument,
                                  reinterpret_cast<void**>(m_document.receive()));
    if (FAILED(hr) || !m_document) {
        m_document.reset();
        *result = FAILED(hr) ? hr : E_POINTER;
        return OpenResult::kNotCreated;
    }
    IXMLDOMDocument* document = m_document.get();
    hr = xmlReadAsData(document);
    if (FAILED(hr)) {
        writeLog(L"[WENVAROTH] Cannot set xml %s to be read as data (0x%08lX)", path,
                 static_cast<unsigned long>(hr));
        *result = hr;
        return OpenResult::kNotSet;
    }

    VARIANT_BOOL loaded = VARIANT_FALSE;
    hr = document->load(m_path, &loaded);
    *result = hr;
    // A document that is not well-formed comes back with a success code and a false flag.
    if (FAILED(hr) || loaded == VARIANT_FALSE) {
        if (SUCCEEDED(hr)) *result = S_FALSE;
        return OpenResult::kNotLoaded;
    }
    m_loaded = true;
    return OpenResult::kLoaded;
}

HRESULT XmlDocument::save(IStream* stream) {
    if (!m_loaded) return E_UNEXPECTED;
    if (stream == nullptr) return m_document.get()->save(m_path);
    VARIANT target;
    target.vt = VT_UNKNOWN;
    target.punkVal = stream;
    return m_document.get()->save(target);
}

void XmlDocument::describeLoadFailure(wchar_t* out, size_t capacity) const {
    if (out == nullptr || capacity == 0) return;
    out[0] = L'\0';
    ComRef<IXMLDOMParseError> error;
    long code = 0, line = 0, column = 0;
    BstrHolder reason;
    if (!m_document || FAILED(m_document.get()->get_parseError(error.receive())) || !error) {
        textCopy(out, capacity, L"the parser gives no reason");
        return;
    }
    IXMLDOMParseError* parse = error.get();
    if (FAILED(parse->get_errorCode(&code))) code = 0;
    if (FAILED(parse->get_line(&line))) line = 0;
    if (FAILED(parse->get_linepos(&column))) column = 0;
    if (FAILED(parse->get_reason(reason.receive()))) reason.reset();
    // The platform's reasons end with a line break, which would split the log line.
    // A reason longer than the place for it is cut: it is read by a person, never parsed.
    wchar_t text[200] = {};
    const wchar_t* from = reason.get() != nullptr ? reason.get() : L"";
    size_t length = 0;
    for (; length + 1 < 200 && from[length] != L'\0'; ++length) {
        text[length] = from[length] < 32 ? L' ' : from[length];
    }
    while (length > 0 && text[length - 1] == L' ') text[--length] = L'\0';
    textFormat(out, capacity, L"line %ld, column %ld, error 0x%08lX: %s", line, column,
               static_cast<unsigned long>(code), text);
}

HRESULT xmlReadAsData(IXMLDOMDocument* document) {
    if (document == nullptr) return E_POINTER;
    // The callers query the document straight after loading, so parsing must be over when load
    // returns; the class's default would allow it to go on in the background. Both documents come
    // from places other programs write to, and this process runs elevated: by default the class
    // would fetch a DTD or an external entity the document names (a wait on a host nobody bounds,
    // or a local file read into a document that is then saved into the kit) and refuse a document
    // its DTD does not describe. Internal DTD subsets and entities are still read.
    HRESULT hr = document->put_async(VARIANT_FALSE);
    if (SUCCEEDED(hr)) hr = document->put_resolveExternals(VARIANT_FALSE);
    if (SUCCEEDED(hr)) hr = document->put_validateOnParse(VARIANT_FALSE);
    return hr;
}

HRESULT xmlSelectNode(XmlMemory& memory, IXMLDOMNode* context, const wchar_t* query,
                      ComRef<IXMLDOMNode>* node) {
    node->reset();
    if (context == nullptr || query == nullptr) return E_POINTER;
    BstrHolder queryText(memory.allocString(query));
    if (queryText.get() == nullptr) return E_OUTOFMEMORY;
    return nodeOutcome(context->selectSingleNode(queryText.get(), node->receive()), node);
}

HRESULT xmlReadText(XmlMemory& memory, IXMLDOMNode* node, HeapText* text) {
    text->reset();
    if (node == nullptr) return E_POINTER;
    BstrHolder value;
    HRESULT hr = node->get_text(value.receive());
    if (hr != S_OK) return FAILED(hr) ? hr : E_FAIL;
    // A null BSTR is the platform's way of writing an empty text.
    const wchar_t* characters = value.get() != nullptr ? value.get() : L"";
    text->reset(memory.copyText(characters, SysStringLen(value.get())));
    return *text ? S_OK : E_OUTOFMEMORY;
}

HRESULT xmlReadAttribute(XmlMemory& memory, IXMLDOMNode* element, const wchar_t* name,
                         HeapText* text) {
    text->reset();
    if (element == nullptr || name == nullptr) return E_POINTER;
    ComRef<IXMLDOMNamedNodeMap> attributes;
    HRESULT hr = element->get_attributes(attributes.receive());
    if (FAILED(hr)) return hr;
    if (hr != S_OK || !attributes) return S_FALSE;

    BstrHolder attributeName(memory.allocString(name));
    if (attributeName.get() == nullptr) return E_OUTOFMEMORY;
    ComRef<IXMLDOMNode> attribute;
    hr = nodeOutcome(attributes.get()->getNamedItem(attributeName.get(), attribute.receive()),
                     &attribute);
    if (hr != S_OK) return hr;
    return xmlReadText(memory, attribute.get(), text);
}

HRESULT xmlFirstChild(IXMLDOMNode* node, ComRef<IXMLDOMNode>* child) {
    child->reset();
    if (node == nullptr) return E_POINTER;
    return nodeOutcome(node->get_firstChild(child->receive()), child);
}

HRESULT xmlNextSibling(ComRef<IXMLDOMNode>* node) {
    if (!*node) return E_POINTER;
    ComRef<IXMLDOMNode> next;
    HRESULT hr = nodeOutcome(node->get()->get_nextSibling(next.receive()), &next);
    node->take(next);
    return hr;
}

HRESULT xmlSetText(XmlMemory& memory, IXMLDOMNode* node, const wchar_t* text) {
    if (node == nullptr || text == nullptr) return E_POINTER;
    BstrHolder value(memory.allocString(text));
    if (value.get() == nullptr) return E_OUTOFMEMORY;
    return node->put_text(value.get());
}
