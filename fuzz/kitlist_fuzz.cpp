// libFuzzer target for the kit-list reader, built natively on Linux. Besides the sanitizers'
// findings it checks what the worker relies on: a defined result, an all-or-nothing outcome, and
// limits on every token, and it compares the size column with a plain reading of its rule.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "download/kitlistparse.h"

namespace {

bool isSeparator(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r' || c == L'\v' || c == L'\f';
}

// The parser's own string type, taken from its signature.
template <typename T>
T tokenTypeOf(int32_t (*)(const T&));
using Token = decltype(tokenTypeOf(parseKitSize));

// An optional sign, then decimal digits up to the first non-digit; clamped to 32 bits.
int32_t expectedSize(const Token& token) {
    size_t at = 0;
    bool negative = false;
    if (at < token.size() && (token[at] == L'+' || token[at] == L'-'))
        negative = token[at++] == L'-';
    long double value = 0;
    for (; at < token.size() && token[at] >= L'0' && token[at] <= L'9'; ++at) {
        value = value * 10 + (token[at] - L'0');
        if (value > 4e9L) value = 4e9L;
    }
    if (negative) value = -value;
    if (value > 2147483647.0L) return INT32_MAX;
    if (value < -2147483648.0L) return INT32_MIN;
    return static_cast<int32_t>(value);
}

// The output types come from the parser's own signature, so the target follows its string type.
template <typename Code, typename Sizes>
void check(int (*parse)(const unsigned char*, size_t, Code*, Sizes*), const uint8_t* data,
           size_t size) {
    Code code;
    Sizes sizes;
    if (parse(data, size, nullptr, &sizes) != KITLIST_BAD_ARGUMENTS) abort();
    if (parse(data, size, &code, nullptr) != KITLIST_BAD_ARGUMENTS) abort();
    int result = parse(data, size, &code, &sizes);
    if (result == KITLIST_MALFORMED) {
        if (!code.empty() || !sizes.empty()) abort();  // rejected lists leave nothing behind
        return;
    }
    if (result != KITLIST_OK) abort();
    if (code.size() > KITLIST_MAX_PRODUCT_CODE) abort();
    for (wchar_t c : code) {
        if (isSeparator(c) || c > 0xFF) abort();
    }
    // A record takes at least six bytes: three one-byte tokens and their separators.
    if (sizes.size() > size / 6 + 1) abort();
    for (const auto& entry : sizes) {
        if (entry.first.empty() || entry.first.size() > KITLIST_MAX_NAME) abort();
        for (wchar_t c : entry.first) {
            if (isSeparator(c) || c > 0xFF) abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    check(parseKitList, data, size);
    // The size column on its own, with every byte a possible character of the token.
    Token token;
    for (size_t i = 0; i < size && i < 64; ++i) token.push_back(static_cast<wchar_t>(data[i]));
    if (parseKitSize(token) != expectedSize(token)) abort();
    return 0;
}
