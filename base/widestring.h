// The program's owned wide string, usable by portable code too (no platform headers).
#pragma once

#include <string>

// Its traits type of its own makes the compiler build the string code into the program, compiled
// without exceptions, instead of linking the C++ library's prebuilt copy, which would drag the
// whole exception runtime into the executable.
struct WideCharTraits : std::char_traits<wchar_t> {};
using WideString = std::basic_string<wchar_t, WideCharTraits>;
