// Access to XML files through the platform's MSXML 3.0 document object. The loader and the patcher
// use only the operations below; each call reports "not found" (S_FALSE, null result) apart from a
// failure (negative HRESULT), because the callers give the two different outcomes.
//
// Every interface pointer, BSTR and VARIANT has exactly one owner here and is released on every way
// out. Nothing in this layer throws.
#pragma once

#include <windows.h>
#include <msxml2.h>
#include <oleauto.h>

#include "base/text.h"

// Where an XML operation obtains memory for the strings it hands to the parser and the texts it
// copies out of it. The operations take it as an argument so that the out-of-memory outcomes can
// be exercised; the product uses the system allocators.
class XmlMemory {
  public:
    virtual ~XmlMemory() = default;
    // A BSTR copy of `text`; null when memory cannot be obtained.
    virtual BSTR allocString(const wchar_t* text) { return SysAllocString(text); }
    // A heap copy of `length` characters, terminated; null when memory cannot be obtained.
    virtual wchar_t* copyText(const wchar_t* text, size_t length) {
        return newTextCopy(text, length);
    }
};

// Owns one reference-counted interface: releases the previous pointer before a new one is stored,
// and the current one when the holder goes out of scope.
template <class T>
class ComRef {
  public:
    ComRef() = default;
    ~ComRef() { reset(); }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;

    T* get() const { return m_pointer; }
    explicit operator bool() const { return m_pointer != nullptr; }
    void reset() {
        if (m_pointer != nullptr) m_pointer->Release();
        m_pointer = nullptr;
    }
    // The out-argument of a call that hands over a new reference; whatever was held is released
    // first, so a query result being replaced never leaks.
    T** receive() {
        reset();
        return &m_pointer;
    }
    // Takes over the reference held by `other`.
    void take(ComRef& other) {
        if (this == &other) return;
        reset();
        m_pointer = other.m_pointer;
        other.m_pointer = nullptr;
    }

  private:
    T* m_pointer = nullptr;
};

// Owns one BSTR.
class BstrHolder {
  public:
    BstrHolder() = default;
    explicit BstrHolder(BSTR text) : m_text(text) {}
    ~BstrHolder() { reset(); }
    BstrHolder(const BstrHolder&) = delete;
    BstrHolder& operator=(const BstrHolder&) = delete;

    BSTR get() const { return m_text; }
    void reset() {
        if (m_text != nullptr) SysFreeString(m_text);
        m_text = nullptr;
    }
    BSTR* receive() {
        reset();
        return &m_text;
    }

  private:
    BSTR m_text = nullptr;
};

// One document for the length of one operation. The constructor begins COM; the destructor
// releases the document, clears the path VARIANT and ends COM, in that order, on every way out.
// Node holders of the caller must be declared after the XmlDocument, so that they are released
// before COM ends.
class XmlDocument {
  public:
    enum class OpenResult {
        kLoaded,
        kNotCreated,  // no memory for the path, or the document class is not available
        kNotSet,      // the document refused to read the file as plain data (logged)
        kNotLoaded,   // missing, unreadable or not well-formed
    };

    explicit XmlDocument(XmlMemory& memory);
    ~XmlDocument();
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    // Builds the path VARIANT, creates the document, sets it to read the file as data (parsed to
    // the end before load returns, no definition fetched from elsewhere, no validation) and loads
    // the file. `result` receives the HRESULT of the step that decided the outcome (E_OUTOFMEMORY
    // when the path could not be copied).
    OpenResult open(const wchar_t* path, HRESULT* result);
    // Writes the document back to the path it was loaded from, or into `stream` when given.
    HRESULT save(IStream* stream = nullptr);
    // After open() gave kNotLoaded: what the parser said, as "line L, column C, error 0xE: reason"
    // into `out` (cut to `capacity` characters). The platform's parser may give no position
    // (line and column 0) or a reason of its own making.
    void describeLoadFailure(wchar_t* out, size_t capacity) const;

    // The document as a node, for queries; null until open() has loaded it.
    IXMLDOMNode* root() const { return m_loaded ? m_document.get() : nullptr; }
    XmlMemory& memory() const { return m_memory; }

  private:
    XmlMemory& m_memory;
    HRESULT m_comResult;
    VARIANT m_path;
    ComRef<IXMLDOMDocument> m_document;
    bool m_loaded = false;
};

// Sets a new document to read its file as data: parsed to the end before load returns, no DTD or
// external entity fetched from elsewhere, no validation. The first failing setting's result.
HRESULT xmlReadAsData(IXMLDOMDocument* document);

// The first node that `query` selects below `context`. S_OK and a node; S_FALSE and null when
// nothing matches; a negative HRESULT when the query is rejected or memory is short.
HRESULT xmlSelectNode(XmlMemory& memory, IXMLDOMNode* context, const wchar_t* query,
                      ComRef<IXMLDOMNode>* node);

// The node's text (an attribute's value, an element's text content) as a heap copy of exactly
// length + 1 characters. S_OK and a text; E_OUTOFMEMORY and null when the copy cannot be made;
// any other outcome of the platform is a failure (negative HRESULT, or E_FAIL for a success code
// other than S_OK).
HRESULT xmlReadText(XmlMemory& memory, IXMLDOMNode* node, HeapText* text);

// Looks up one attribute of an element and copies its value: S_OK and a text when the attribute is
// present (also when its value is empty); S_FALSE and null when it is absent or the node carries no
// attributes at all (text, comment, processing instruction); a negative HRESULT on failure.
HRESULT xmlReadAttribute(XmlMemory& memory, IXMLDOMNode* element, const wchar_t* name,
                         HeapText* text);

// The child walk: S_OK and a node; S_FALSE and null after the last one (or for no children).
HRESULT xmlFirstChild(IXMLDOMNode* node, ComRef<IXMLDOMNode>* child);
HRESULT xmlNextSibling(ComRef<IXMLDOMNode>* node);

// Replaces the node's text: for an element all of its content, for an attribute its value.
HRESULT xmlSetText(XmlMemory& memory, IXMLDOMNode* node, const wchar_t* text);
