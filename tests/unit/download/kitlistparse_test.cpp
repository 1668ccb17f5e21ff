#include "download/kitlistparse.h"

#include <gtest/gtest.h>

#include "download/digest.h"

namespace {

using Sizes = std::map<WideString, int32_t>;
const wchar_t kNoSize[] = L"the list ends after a file name, without its size and checksum";
const wchar_t kNoChecksum[] = L"the list ends after a size, without its checksum";

Sizes sizesOf(const std::map<WideString, KitListEntry>& entries) {
    Sizes sizes;
    for (const auto& entry : entries) sizes.emplace(entry.first, entry.second.size);
    return sizes;
}

TEST(KitListParse, CodeAndFirstSizeOfEveryName) {
    // Tokens at their limits: a 39-character code, 255-character name, 19-digit size, 32-char sum.
    const std::string code(39, 'P'), name(255, 'n'), size(19, '1'), sum(32, 'c');
    struct Case {
        std::string text;
        int status;
        WideString code;
        Sizes sizes;
        size_t line = 0;  // where a malformed list went wrong
        std::wstring problem = L"";
        bool byteOrderMark = false;
    } const cases[] = {
        {"{AB-CD}\nsetup.exe 1234 0123456789abcdef0123456789abcdef\r\ndata.cab 5 x\n",
         KITLIST_OK,
         L"{AB-CD}",
         {{L"setup.exe", 1234}, {L"data.cab", 5}}},
        {" \t\r\n\v\f", KITLIST_OK, L"", {}},
        {"{P}", KITLIST_OK, L"{P}", {}},
        {"{P} a\n1\nc b 2 d", KITLIST_OK, L"{P}", {{L"a", 1}, {L"b", 2}}},  // records span lines
        {"{P} a 1 c a 2 c A 3 c", KITLIST_OK, L"{P}", {{L"a", 1}, {L"A", 3}}},  // first one wins
        {"{P} \xe9t\xff 7 c", KITLIST_OK, L"{P}", {{L"\u00e9t\u00ff", 7}}},     // byte = character
        {std::string("{P} a\0b 7 c", 11), KITLIST_OK, L"{P}", {{WideString(L"a\0b", 3), 7}}},
        {code + " " + name + " " + size + " " + sum,
         KITLIST_OK,
         WideString(code.begin(), code.end()),
         {{WideString(name.begin(), name.end()), INT32_MAX}}},
        // A UTF-8 byte order mark is skipped at the start only, and only whole.
        {"\xEF\xBB\xBF{P} a 1 c", KITLIST_OK, L"{P}", {{L"a", 1}}, 0, L"", true},
        {"\xEF\xBB{P}", KITLIST_OK, L"\u00ef\u00bb{P}", {}},
        {" \xEF\xBB\xBF{P}", KITLIST_OK, L"\u00ef\u00bb\u00bf{P}", {}},
        // A record cut short or a token over its limit rejects the whole list, at its line.
        {"{P} a 1 c b", KITLIST_MALFORMED, L"", {}, 1, kNoSize},
        {"{P}\n\na 1 c\r\nb 2\n\n", KITLIST_MALFORMED, L"", {}, 4, kNoChecksum},
        {"\xEF\xBB\xBF{P}\na", KITLIST_MALFORMED, L"", {}, 2, kNoSize, true},
        {code + "P", KITLIST_MALFORMED, L"", {}, 1, L"a product code longer than 39 characters"},
        {code + "\n\n" + name + "n 1 c",
         KITLIST_MALFORMED,
         L"",
         {},
         3,
         L"a file name longer than 255 characters"},
        {code + " a " + size + "1 c",
         KITLIST_MALFORMED,
         L"",
         {},
         1,
         L"a size longer than 19 characters"},
        {code + " a 1\n" + sum + "c",
         KITLIST_MALFORMED,
         L"",
         {},
         2,
         L"a checksum longer than 32 characters"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.size() > 60 ? std::to_string(c.text.size()) + " bytes" : c.text);
        WideString parsedCode = L"stale";
        std::map<WideString, KitListEntry> parsed{{L"stale", {1, L"c"}}};
        KitListReport report;
        EXPECT_EQ(parseKitListReporting(reinterpret_cast<const unsigned char*>(c.text.data()),
                                        c.text.size(), &parsedCode, &parsed, &report),
                  c.status);
        EXPECT_EQ(parsedCode, c.code);
        EXPECT_EQ(sizesOf(parsed), c.sizes);
        EXPECT_EQ(report.line, c.line);
        EXPECT_EQ(std::wstring(report.problem != nullptr ? report.problem : L""), c.problem);
        EXPECT_EQ(report.byteOrderMark, c.byteOrderMark);
    }
    // The checksum column is kept as written, with the record's first occurrence.
    const std::string list = "{P} a 1 0123456789ABCDEF0123456789abcdef a 2 x b 3 -";
    WideString listCode;
    std::map<WideString, KitListEntry> parsed;
    ASSERT_EQ(parseKitList(reinterpret_cast<const unsigned char*>(list.data()), list.size(),
                           &listCode, &parsed),
              KITLIST_OK);
    EXPECT_EQ(parsed[L"a"].checksum, L"0123456789ABCDEF0123456789abcdef");
    EXPECT_EQ(parsed[L"b"].checksum, L"-");
}

// Only 32 hexadecimal digits that are not all zeros are a digest to check.
TEST(KitListParse, DigestTokens) {
    const WideString digits = L"0123456789abcdef0123456789ABCDEF";
    struct Case {
        WideString token;
        bool digest;
    } const cases[] = {
        {digits, true},
        {WideString(31, L'0') + L"1", true},
        {WideString(32, L'0'), false},  // the placeholder of a list made without digests
        {digits.substr(1), false},      // 31 digits
        {digits + L"0", false},         // 33
        {digits.substr(1) + L"g", false},
        {L"00", false},
        {L"-", false},
        {L"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(isFileDigest(c.token), c.digest) << std::string(c.token.begin(), c.token.end());
}

// The platform's hash gives the digests every other tool gives for the same bytes.
TEST(Md5Digest, KnownDigests) {
    struct Case {
        std::string bytes;
        const wchar_t* hex;
    } const cases[] = {
        {"", L"d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", L"900150983cd24fb0d6963f7d28e17f72"},
        {std::string(300000, 'x'), nullptr},
    };
    for (const Case& c : cases) {
        Md5 whole, parts;
        wchar_t one[kDigestChars], split[kDigestChars];
        ASSERT_TRUE(whole.ready());
        EXPECT_TRUE(whole.add(c.bytes.data(), c.bytes.size()));
        EXPECT_TRUE(whole.finish(one));
        if (c.hex != nullptr) {
            EXPECT_STREQ(one, c.hex);
        }
        // In steps, as a copy feeds it.
        size_t half = c.bytes.size() / 2;
        EXPECT_TRUE(parts.add(c.bytes.data(), half));
        EXPECT_TRUE(parts.add(c.bytes.data() + half, c.bytes.size() - half));
        EXPECT_TRUE(parts.finish(split));
        EXPECT_STREQ(split, one);
    }
}

TEST(KitListParse, ProductCodeIsABracedGuid) {
    EXPECT_TRUE(isProductCode(L"{7d3c2a10-5b1e-4c7a-9E61-0A1B2C3D4E5F}"));  // either case
    for (const wchar_t* code :
         {L"", L"<html>", L"{CODE}", L"7D3C2A10-5B1E-4C7A-9E61-0A1B2C3D4E5F",
          L"{7D3C2A10-5B1E-4C7A-9E61-0A1B2C3D4E5F", L"{7D3C2A10-5B1E-4C7A-9E61-0A1B2C3D4E5G}",
          L"{7D3C2A10-5B1E-4C7A-9E61+0A1B2C3D4E5F}", L"{7D3C2A10-5B1E-4C7A-9E61-0A1B2C3D4E5F}}"}) {
        EXPECT_FALSE(isProductCode(code)) << code;
    }
}

// Sizes saturate at the 32-bit range whatever the number of digits.
TEST(KitSize, Conversion) {
    EXPECT_EQ(parseKitSize(L"123abc"), 123);
    EXPECT_EQ(parseKitSize(L"abc"), 0);
    EXPECT_EQ(parseKitSize(L"-42"), -42);
    EXPECT_EQ(parseKitSize(L"+42"), 42);
    EXPECT_EQ(parseKitSize(L"-"), 0);
    EXPECT_EQ(parseKitSize(L"2147483647"), INT32_MAX);
    EXPECT_EQ(parseKitSize(L"2147483648"), INT32_MAX);
    EXPECT_EQ(parseKitSize(L"9999999999999999999"), INT32_MAX);
    EXPECT_EQ(parseKitSize(L"-2147483648"), INT32_MIN);
    EXPECT_EQ(parseKitSize(L"-9999999999999999999"), INT32_MIN);
}

}  // namespace
