// The whole run on the main thread, from the options to the clean-up.
#pragma once

#include <windows.h>

int runMain(HINSTANCE instance);

// Loads the time-unit words and formats of the time-left text into their globals.
void loadUnitTexts();

// The text between the first "[" and the first "]" after it in the file name of parentPath.
// False (tag empty) when there is no such pair or the tag does not fit.
bool takeAffiliateTag(const wchar_t* parentPath, wchar_t* tag, size_t capacity);

// The free-space check's verdict for `available` bytes: true when it passes; otherwise the
// shortfall in MiB to report, rounded up so that the message never asks to free 0 MB.
bool hasEnoughSpace(ULONGLONG available, unsigned* shortfallMiB);
