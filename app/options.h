// The options "log" and "silent", read from the parent's command line.
#pragma once

#include <map>

#include "base/widestring.h"

// Names compare by UTF-16 code units (case-sensitive); the first occurrence of a name wins.
using OptionMap = std::map<WideString, WideString>;

OptionMap parseOptions(WideString text);
