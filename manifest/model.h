// The in-memory model of the deployment manifest: three ordered lists of records that own their
// texts. A text field is null where the manifest gave an empty value (relativePath, baseUrl) or
// where memory for the copy could not be obtained.
#pragma once

#include <cstdint>
#include <vector>

#include "base/text.h"

struct DownloadableFile {
    HeapText name;
    HeapText relativePath;  // null: no extra segment
    HeapText baseUrl;       // null: g_baseUrl applies
    bool autorun = false;
    int32_t size = 0;
};

struct Dependency {
    HeapText fileName;
    HeapText productCode;
    HeapText arguments;
    int32_t osFilter = 0;
};

struct XmlPatch {
    HeapText path;
    HeapText newValue;
};

// The manifest's lists, in document order: written by the main thread before the worker starts,
// only read afterwards (the worker writes the sizes of g_downloadableFiles).
extern std::vector<DownloadableFile> g_downloadableFiles;
extern std::vector<Dependency> g_dependencies;
extern std::vector<XmlPatch> g_xmlPatches;

// True for a null text (absent, or its copy failed) and for an empty one: the one rule by which
// entries, dependencies and patches tell a usable text from a missing one.
inline bool isEmptyText(const HeapText& text) { return !text || text.get()[0] == L'\0'; }

// Operating-system codes of a dependency's "os" attribute; 0 drops the entry.
constexpr int32_t OS_FILTER_ALL = 5;

// A deep copy; false (and an untouched target) when memory for a text cannot be obtained.
bool copyDownloadableFile(const DownloadableFile& from, DownloadableFile* to);
