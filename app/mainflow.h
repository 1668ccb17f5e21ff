// The whole run on the main thread, from the options to the clean-up.
#pragma once

#include <windows.h>

int runMain(HINSTANCE instance);

// True when `path` can only name a file: false for the device and raw namespaces ("\\.\",
// "\\?\", "\??\") and for a reserved device name (CON, NUL, COM1, ...) as its last part.
bool isPlainFilePath(const wchar_t* path);

// True when `text` has exactly the conversions of `reference` ("%s", "%d", ...), in the same
// order ("%%" is a literal and no conversion); false for a conversion that breaks off.
bool sameConversions(const wchar_t* text, const wchar_t* reference);

// String `id` for use as a format, into `format`: the resource library's text only when its
// conversions are those of the executable's own text for the id (logged otherwise), so no text
// from outside the executable can make a formatter read or write through a wrong argument; the
// executable's own text when the library's does not fit. False when neither fits.
bool loadResourceFormat(UINT id, wchar_t* format, size_t capacity);

// Loads the time-unit words and formats of the time-left text into their globals.
void loadUnitTexts();

// The text between the first "[" and the first "]" after it in the file name of parentPath.
// False (tag empty) when there is no such pair or the tag does not fit.
bool takeAffiliateTag(const wchar_t* parentPath, wchar_t* tag, size_t capacity);

// The free-space check's verdict for `available` bytes: true when it passes; otherwise the
// shortfall in MiB to report, rounded up so that the message never asks to free 0 MB.
bool hasEnoughSpace(ULONGLONG available, unsigned* shortfallMiB);
