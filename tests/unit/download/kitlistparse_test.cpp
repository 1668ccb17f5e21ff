#include "download/kitlistparse.h"

#include <gtest/gtest.h>

namespace {

struct Parsed {
    int status;
    WideString code;
    std::map<WideString, int32_t> sizes;
};

Parsed parse(const std::string& text) {
    Parsed result;
    result.code = L"stale";
    result.sizes[L"stale"] = 1;
    result.status = parseKitList(reinterpret_cast<const unsigned char*>(text.data()), text.size(),
                                 &result.code, &result.sizes);
    return result;
}

TEST(KitListParse, ProductCodeAndRecords) {
    Parsed p = parse("{AB-CD}\nsetup.exe 1234 0123456789abcdef0123456789abcdef\r\ndata.cab 5 x\n");
    EXPECT_EQ(p.status, KITLIST_OK);
    EXPECT_EQ(p.code, L"{AB-CD}");
    EXPECT_EQ(p.sizes, (std::map<WideString, int32_t>{{L"setup.exe", 1234}, {L"data.cab", 5}}));
}

TEST(KitListParse, EmptyAndWhiteSpaceOnlyFilesGiveNothing) {
    for (const char* text : {"", " \t\r\n\v\f"}) {
        Parsed p = parse(text);
        EXPECT_EQ(p.status, KITLIST_OK);
        EXPECT_TRUE(p.code.empty());
        EXPECT_TRUE(p.sizes.empty());
    }
}

TEST(KitListParse, ProductCodeAloneGivesAnEmptyMap) {
    Parsed p = parse("{P}");
    EXPECT_EQ(p.status, KITLIST_OK);
    EXPECT_EQ(p.code, L"{P}");
    EXPECT_TRUE(p.sizes.empty());
}

TEST(KitListParse, RecordsMaySpanOrShareLines) {
    Parsed p = parse("{P} a\n1\nc b 2 d");
    EXPECT_EQ(p.status, KITLIST_OK);
    EXPECT_EQ(p.sizes, (std::map<WideString, int32_t>{{L"a", 1}, {L"b", 2}}));
}

TEST(KitListParse, FirstRecordOfANameWinsAndNamesAreCaseSensitive) {
    Parsed p = parse("{P} a 1 c a 2 c A 3 c");
    EXPECT_EQ(p.sizes, (std::map<WideString, int32_t>{{L"a", 1}, {L"A", 3}}));
}

TEST(KitListParse, ARecordCutShortRejectsTheWholeList) {
    for (const char* text : {"{P} a 1 c b", "{P} a 1 c b 2", "{P} a"}) {
        Parsed p = parse(text);
        EXPECT_EQ(p.status, KITLIST_MALFORMED) << text;
        EXPECT_TRUE(p.code.empty());
        EXPECT_TRUE(p.sizes.empty());
    }
}

TEST(KitListParse, TokensAtTheirLimitsAreAcceptedOneMoreIsRejected) {
    std::string code(39, 'P'), name(255, 'n'), size(19, '1'), sum(32, 'c');
    Parsed ok = parse(code + " " + name + " " + size + " " + sum);
    EXPECT_EQ(ok.status, KITLIST_OK);
    EXPECT_EQ(ok.code.size(), 39u);
    EXPECT_EQ(ok.sizes.begin()->first.size(), 255u);
    EXPECT_EQ(ok.sizes.begin()->second, INT32_MAX);
    for (const std::string& text : {code + "P", code + " " + name + "n 1 c",
                                    code + " a " + size + "1 c", code + " a 1 " + sum + "c"}) {
        Parsed p = parse(text);
        EXPECT_EQ(p.status, KITLIST_MALFORMED) << text.size();
        EXPECT_TRUE(p.code.empty());
        EXPECT_TRUE(p.sizes.empty());
    }
}

TEST(KitListParse, BytesBecomeCharactersOfTheSameNumber) {
    Parsed p = parse(std::string("{P} \xe9t\xff 7 c"));
    ASSERT_EQ(p.sizes.size(), 1u);
    EXPECT_EQ(p.sizes.begin()->first, WideString(L"\u00e9t\u00ff"));
}

TEST(KitListParse, NulBytesBelongToTokens) {
    Parsed p = parse(std::string("{P} a\0b 7 c", 11));
    ASSERT_EQ(p.status, KITLIST_OK);
    EXPECT_EQ(p.sizes.begin()->first, WideString(L"a\0b", 3));
}

TEST(KitListParse, MissingOutputsAreBadArguments) {
    WideString code;
    std::map<WideString, int32_t> sizes;
    EXPECT_EQ(parseKitList(nullptr, 0, nullptr, &sizes), KITLIST_BAD_ARGUMENTS);
    EXPECT_EQ(parseKitList(nullptr, 0, &code, nullptr), KITLIST_BAD_ARGUMENTS);
    EXPECT_EQ(parseKitList(nullptr, 3, &code, &sizes), KITLIST_BAD_ARGUMENTS);
    EXPECT_EQ(parseKitList(nullptr, 0, &code, &sizes), KITLIST_OK);
}

TEST(KitSize, Conversion) {
    EXPECT_EQ(parseKitSize(L"123abc"), 123);
    EXPECT_EQ(parseKitSize(L"abc"), 0);
    EXPECT_EQ(parseKitSize(L""), 0);
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
