// Replaces node texts of the kit's settings file before its installer starts.
#pragma once

#include <cstddef>

class XmlMemory;

// Appends the patch that writes the affiliate tag into "/setup/install/affiliate_source", after
// the manifest's own patches, so that it wins over a manifest patch of the same node. A text
// whose memory cannot be obtained stays null, and the patch is then skipped.
void appendAffiliatePatch(const wchar_t* tag);

// Writes `size` bytes of a saved document as the file `path`; false (the system's error set) when
// it cannot.
typedef bool (*XmlFileWriter)(const wchar_t* path, const void* bytes, size_t size);

// Loads `filePath`, replaces the text of the node of every valid patch of g_xmlPatches (in list
// order, so a later patch of the same node wins) and saves the document whenever it was loaded:
// through `writer` when given, else back to the same path. Leaves g_xmlPatches as it found it.
void applyXmlPatches(const wchar_t* filePath, XmlFileWriter writer = nullptr);
// The same, taking memory from `memory`.
void applyXmlPatchesUsing(const wchar_t* filePath, XmlMemory& memory,
                          XmlFileWriter writer = nullptr);
