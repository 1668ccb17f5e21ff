// Placeholder until XML patching lands.
#include "manifest/xmlpatch.h"

void appendAffiliatePatch(const wchar_t*) {}
void applyXmlPatches(const wchar_t*) {}
