// Checks that keep every write inside the kit folder: a manifest's file name or relative path is
// used only when it cannot name anything outside the folder it is joined to. No Windows headers,
// so the checks compile in the native fuzz build too.
#pragma once

// A single path segment: not empty, not "." or "..", no "\" "/" ":" (so no drive letter, no
// alternate stream), none of * ? " < > |, no control character, and not ending with "." or
// blank (Windows drops those, so "..." or ".. " would reach the parent folder), and no device name
// (CON, PRN, AUX, NUL, COM0-9, LPT0-9, with or without an extension, in any letter case).
bool isSafePathSegment(const wchar_t* segment);

// A relative folder path: one or more safe segments separated by single "\" or "/"; no leading
// separator (absolute or UNC path), no trailing separator, no empty segment.
bool isSafeRelativePath(const wchar_t* path);
