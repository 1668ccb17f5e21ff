// libFuzzer target for the option parser, built natively on Linux. The parser sees the parent's
// command line as UTF-16 code units, so the input is read two bytes at a time (little-endian) and
// widened; wchar_t is 32 bits here, which holds every code unit unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    WideString text;
    text.reserve(size / 2);
    for (size_t i = 0; i + 1 < size; i += 2) {
        text.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
    }
    OptionMap options = parseOptions(text);
    // Every name the parser reports came from a piece that started with "/", so neither the
    // number of names nor the length of any name or value can exceed the input.
    if (options.size() > text.size()) abort();
    for (const auto& option : options) {
        if (option.first.size() + option.second.size() > text.size()) abort();
    }
    return 0;
}
