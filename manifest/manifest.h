// Loads "locations.xml" into the manifest model and the caption, product name and base address.
#pragma once

#include <windows.h>

#include "manifest/model.h"

HRESULT loadManifest(const wchar_t* path);
int32_t osFilterFromName(const wchar_t* text);
bool isUsableDependency(const Dependency& record);
