// Loads "locations.xml" into the manifest model and the caption, product name and base address.
#pragma once

#include <windows.h>

#include "manifest/model.h"

class XmlMemory;

// Receives one line about what the loader could not take: a document that did not load (with the
// parser's position and reason) or an entry it dropped (which one, and the missing attribute or
// the unknown value). Each line starts with "[WENVAROTH] ".
typedef void (*ManifestNote)(const wchar_t* line);

// Reads the manifest once and shows nothing; what it could not take goes to `note`, by default
// the log. The x64 sections are read when g_isWin64 is set, the x86 sections otherwise. An absent
// base address or an absent or empty files section stops the reading (S_FALSE); the dependencies
// and the patches are read independently of each other, and the result is then the patches'
// (S_OK, or S_FALSE for none), or the failure code of a step that failed.
HRESULT loadManifest(const wchar_t* path, ManifestNote note = nullptr);
// The same, taking memory from `memory`.
HRESULT loadManifestUsing(const wchar_t* path, XmlMemory& memory, ManifestNote note = nullptr);

// The code of a dependency's "os" attribute: exact, case-sensitive "all", "xp", "vista", "win7";
// 0 for anything else, which drops the entry.
int32_t osFilterFromName(const wchar_t* text);
// The attribute value a code came from; "" for 0.
const wchar_t* osFilterName(int32_t filter);
