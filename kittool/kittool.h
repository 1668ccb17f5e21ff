// The vendor's kit tool: writes a kit list from a kit folder and checks a kit against the
// manifest, with the program's own readers and rules, so that its verdict is the program's.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "base/widestring.h"

// Texts with traits of their own, so that the string code is compiled here rather than taken
// from the C++ library's prebuilt copy, which would bring its exception runtime along.
struct NarrowCharTraits : std::char_traits<char> {};
using NarrowString = std::basic_string<char, NarrowCharTraits>;

// Exit codes of every command.
constexpr int kClean = 0;
constexpr int kFindings = 1;
constexpr int kUsageOrReadError = 2;

// One line to standard output, as UTF-8.
void say(const wchar_t* format, ...);
// A finding: one line, counted.
void finding(const wchar_t* format, ...);
int findingCount();

// One file below a kit folder: its path relative to the folder ("data\data1.cab"), its leaf name
// and its size.
struct KitFile {
    WideString relative;
    WideString name;
    unsigned long long size = 0;
};

// The files below `root`, but not the top-level "dependencies" folder (prerequisites, not kit
// files) nor the top-level kit list; folders that are links are not entered. False when a folder
// cannot be read.
bool listKitFiles(const WideString& root, std::vector<KitFile>* files);
// The file's size and MD5 digest (32 lower-case hexadecimal digits); false when it cannot be read.
bool digestFile(const WideString& path, unsigned long long* size, WideString* digest);
// The whole content of a small file; false when it cannot be read.
bool readWholeFile(const WideString& path, std::vector<unsigned char>* bytes);
// A body fetched from `url` (a success answer only); false, with `why` set, otherwise.
bool fetchUrl(const WideString& url, std::vector<unsigned char>* bytes, WideString* why);

int makeKitList(const WideString& kitFolder, const WideString& productCode);
int checkKit(const WideString& appFolder, const WideString& kit, unsigned tempChars);
