// Loads "locations.xml" into the manifest model and the caption, product name and base address.
#pragma once

#include <windows.h>

#include "manifest/model.h"

class XmlMemory;

// Reads the manifest once; writes no log line and shows nothing. The x64 sections are read when
// g_isWin64 is set, the x86 sections otherwise. The result is that of the step at which reading
// stopped: S_OK when every section was read, S_FALSE when a required element was absent, the
// failure code otherwise.
HRESULT loadManifest(const wchar_t* path);
// The same, taking memory from `memory`.
HRESULT loadManifestUsing(const wchar_t* path, XmlMemory& memory);

// The code of a dependency's "os" attribute: exact, case-sensitive "all", "xp", "vista", "win7";
// 0 for anything else, which drops the entry.
int32_t osFilterFromName(const wchar_t* text);
