// Loads "locations.xml" into the manifest model and the caption, product name and base address.
#pragma once

#include <windows.h>

#include "manifest/model.h"

class XmlMemory;

// Reads the manifest once; writes no log line and shows nothing. The x64 sections are read when
// g_isWin64 is set, the x86 sections otherwise. An absent base address or an absent or empty files
// section stops the reading (S_FALSE); the dependencies and the patches are read independently of
// each other, and the result is then the patches' (S_OK, or S_FALSE for none), or the failure code
// of a step that failed.
HRESULT loadManifest(const wchar_t* path);
// The same, taking memory from `memory`.
HRESULT loadManifestUsing(const wchar_t* path, XmlMemory& memory);

// The code of a dependency's "os" attribute: exact, case-sensitive "all", "xp", "vista", "win7";
// 0 for anything else, which drops the entry.
int32_t osFilterFromName(const wchar_t* text);
