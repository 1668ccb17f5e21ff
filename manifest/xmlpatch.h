// Replaces node texts of the kit's settings file before its installer starts.
#pragma once

// Appends the patch that writes the affiliate tag into "/setup/install/affiliate_source".
void appendAffiliatePatch(const wchar_t* tag);
void applyXmlPatches(const wchar_t* filePath);
