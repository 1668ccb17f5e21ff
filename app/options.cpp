#include "app/options.h"

#include <vector>

namespace {

// Splits at U+0020 only; two spaces in a row give an empty piece between them.
std::vector<WideString> splitPieces(const WideString& text) {
    std::vector<WideString> pieces;
    if (text.empty()) return pieces;
    size_t start = 0;
    for (;;) {
        size_t space = text.find(L' ', start);
        if (space == WideString::npos) {
            pieces.push_back(text.substr(start));
            break;
        }
        pieces.push_back(text.substr(start, space - start));
        start = space + 1;
        if (start >= text.size()) break;
    }
    return pieces;
}

bool hasQuote(const WideString& piece) { return piece.find(L'"') != WideString::npos; }

}  // namespace

OptionMap parseOptions(WideString text) {
    OptionMap options;
    std::vector<WideString> pieces = splitPieces(text);
    for (size_t i = 0; i < pieces.size(); ++i) {
        WideString piece = pieces[i];
        // A quoted value may hold spaces: join pieces until one with the closing quote.
        if (hasQuote(piece) && piece.back() != L'"') {
            while (i + 1 < pieces.size()) {
                ++i;
                piece += L' ';
                piece += pieces[i];
                if (hasQuote(pieces[i])) break;
            }
        }
        if (piece.empty() || piece[0] != L'/') continue;
        WideString rest = piece.substr(1);
        WideString name = rest;
        WideString value;
        size_t colon = rest.find(L':');
        if (colon != WideString::npos) {
            name = rest.substr(0, colon);
            value = rest.substr(colon + 1);
            if (!value.empty() && value.back() == L':') value.pop_back();
        }
        if (!value.empty() && value[0] == L'"') {
            value = value.size() >= 2 ? value.substr(1, value.size() - 2) : WideString();
        }
        options.emplace(name, value);
    }
    return options;
}
