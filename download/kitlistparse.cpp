#include "download/kitlistparse.h"

#include <cstring>
#include <vector>

namespace {

bool isSeparator(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

}  // namespace

bool isProductCode(const WideString& token) {
    static const char kShape[] = "{........-....-....-....-............}";
    if (token.size() != sizeof kShape - 1) return false;
    for (size_t i = 0; i < token.size(); ++i) {
        wchar_t c = token[i];
        bool hex = (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
        if (kShape[i] == '.' ? !hex : c != static_cast<wchar_t>(kShape[i])) return false;
    }
    return true;
}

int32_t parseKitSize(const WideString& token) {
    size_t at = 0;
    bool negative = false;
    if (at < token.size() && (token[at] == L'+' || token[at] == L'-')) {
        negative = token[at] == L'-';
        ++at;
    }
    // Accumulated as a magnitude that stops growing once it passes the 32-bit range, so no
    // digit count can overflow it.
    int64_t magnitude = 0;
    for (; at < token.size() && token[at] >= L'0' && token[at] <= L'9'; ++at) {
        if (magnitude <= 2147483648LL) magnitude = magnitude * 10 + (token[at] - L'0');
    }
    if (negative) return magnitude >= 2147483648LL ? INT32_MIN : static_cast<int32_t>(-magnitude);
    return magnitude > 2147483647LL ? INT32_MAX : static_cast<int32_t>(magnitude);
}

bool isFileDigest(const WideString& token) {
    if (token.size() != 32) return false;
    bool allZero = true;
    for (wchar_t c : token) {
        bool hex = (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
        if (!hex) return false;
        if (c != L'0') allZero = false;
    }
    return !allZero;
}

int parseKitList(const unsigned char* data, size_t size, WideString* productCode,
                 std::map<WideString, KitListEntry>* entries) {
    return parseKitListReporting(data, size, productCode, entries, nullptr);
}

int parseKitListReporting(const unsigned char* data, size_t size, WideString* productCode,
                          std::map<WideString, KitListEntry>* entries, KitListReport* report) {
    if (productCode == nullptr || entries == nullptr || (data == nullptr && size != 0)) {
        return KITLIST_BAD_ARGUMENTS;
    }
    productCode->clear();
    entries->clear();
    KitListReport ignored;
    KitListReport& told = report != nullptr ? *report : ignored;
    told = KitListReport();
    static const wchar_t* const kTooLong[4] = {
        L"a product code longer than 39 characters", L"a file name longer than 255 characters",
        L"a size longer than 19 characters", L"a checksum longer than 32 characters"};
    static const unsigned char kByteOrderMark[3] = {0xEF, 0xBB, 0xBF};

    // Token limits by position: product code first, then name, size, checksum over and over.
    static const size_t kRecordLimits[3] = {KITLIST_MAX_NAME, KITLIST_MAX_SIZE_TOKEN,
                                            KITLIST_MAX_CHECKSUM};
    WideString code;
    std::map<WideString, KitListEntry> found;
    WideString token;
    WideString name;
    KitListEntry record;
    size_t tokenIndex = 0;  // tokens completed so far
    size_t at = 0;
    size_t line = 1;
    if (size >= 3 && memcmp(data, kByteOrderMark, 3) == 0) {
        told.byteOrderMark = true;
        at = 3;
    }
    while (at < size) {
        for (; at < size && isSeparator(data[at]); ++at) {
            if (data[at] == '\n') ++line;
        }
        if (at == size) break;
        size_t kind = tokenIndex == 0 ? 0 : 1 + (tokenIndex - 1) % 3;
        size_t limit = tokenIndex == 0 ? KITLIST_MAX_PRODUCT_CODE : kRecordLimits[kind - 1];
        token.clear();
        told.line = line;
        while (at < size && !isSeparator(data[at])) {
            if (token.size() == limit) {
                told.problem = kTooLong[kind];
                return KITLIST_MALFORMED;
            }
            token.push_back(static_cast<wchar_t>(data[at]));
            ++at;
        }
        if (tokenIndex == 0) {
            code = token;
        } else {
            switch ((tokenIndex - 1) % 3) {
                case 0:
                    name = token;
                    break;
                case 1:
                    record.size = parseKitSize(token);
                    break;
                default:
                    record.checksum = token;
                    found.emplace(name, record);  // keeps the first record of a name
                    break;
            }
        }
        ++tokenIndex;
    }
    if (tokenIndex > 0 && (tokenIndex - 1) % 3 != 0) {
        told.problem = (tokenIndex - 1) % 3 == 1
                           ? L"the list ends after a file name, without its size and checksum"
                           : L"the list ends after a size, without its checksum";
        return KITLIST_MALFORMED;
    }
    told.line = 0;
    productCode->swap(code);
    entries->swap(found);
    return KITLIST_OK;
}
