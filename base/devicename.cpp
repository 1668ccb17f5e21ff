#include "base/devicename.h"

#include <initializer_list>

namespace {

wchar_t upper(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c; }

bool sameName(const wchar_t* name, size_t length, const wchar_t* device) {
    size_t at = 0;
    for (; at < length && device[at] != L'\0'; ++at) {
        if (upper(name[at]) != device[at]) return false;
    }
    return at == length && device[at] == L'\0';
}

bool isPortDigit(wchar_t c) {
    return (c >= L'0' && c <= L'9') || c == 0xB9 || c == 0xB2 || c == 0xB3;
}

}  // namespace

bool isDeviceName(const wchar_t* name, size_t length) {
    if (name == nullptr) return false;
    size_t stem = 0;
    while (stem < length && name[stem] != L'.' && name[stem] != L':') ++stem;
    while (stem > 0 && name[stem - 1] == L' ') --stem;
    for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"}) {
        if (sameName(name, stem, device)) return true;
    }
    return stem == 4 && (sameName(name, 3, L"COM") || sameName(name, 3, L"LPT")) &&
           isPortDigit(name[3]);
}
