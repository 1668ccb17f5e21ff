// Placeholder until the manifest loader lands.
#include "manifest/manifest.h"

HRESULT loadManifest(const wchar_t*) { return E_NOTIMPL; }
int32_t osFilterFromName(const wchar_t*) { return 0; }
bool isUsableDependency(const Dependency&) { return false; }
