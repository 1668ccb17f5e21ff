#include "app/options.h"

#include <gtest/gtest.h>

namespace {

TEST(ParseOptions, EmptyAndBlankTextsGiveNoOptions) {
    EXPECT_TRUE(parseOptions(L"").empty());
    EXPECT_TRUE(parseOptions(L"    ").empty());
}

TEST(ParseOptions, NamesAndValues) {
    OptionMap options = parseOptions(L"/silent /log:C:\\x\\dl.txt /other:a:b:");
    EXPECT_EQ(options.size(), 3u);
    EXPECT_EQ(options.at(L"silent"), L"");
    EXPECT_EQ(options.at(L"log"), L"C:\\x\\dl.txt");
    EXPECT_EQ(options.at(L"other"), L"a:b");  // inner colons stay, one trailing colon goes
    EXPECT_EQ(parseOptions(L"/log:").at(L"log"), L"");
    EXPECT_EQ(parseOptions(L"/log:a:").at(L"log"), L"a");
}

TEST(ParseOptions, NamesAreCaseSensitiveAndNeedASlash) {
    OptionMap options = parseOptions(L"/Silent /SILENT -silent \"/silent\"");
    EXPECT_EQ(options.count(L"silent"), 0u);
    EXPECT_EQ(options.size(), 2u);
}

TEST(ParseOptions, FirstOccurrenceWins) {
    EXPECT_EQ(parseOptions(L"/log:a /log:b").at(L"log"), L"a");
}

TEST(ParseOptions, QuotedValuesKeepTheirSpaces) {
    EXPECT_EQ(parseOptions(L"/log:\"C:\\my  logs\\dl.txt\" /silent").at(L"log"),
              L"C:\\my  logs\\dl.txt");
    EXPECT_EQ(parseOptions(L"/log:\"\"").at(L"log"), L"");
    OptionMap unquoted = parseOptions(L"/log:C:\\my logs\\dl.txt");
    EXPECT_EQ(unquoted.at(L"log"), L"C:\\my");
    EXPECT_EQ(unquoted.size(), 1u);
    EXPECT_EQ(parseOptions(L"/log C:\\x.txt").at(L"log"), L"");
}

TEST(ParseOptions, ParentProgramPathIsNeverAnOption) {
    OptionMap options = parseOptions(L"\"C:\\Program Files\\Vendor App\\run.exe\" /silent");
    ASSERT_EQ(options.size(), 1u);
    EXPECT_EQ(options.count(L"silent"), 1u);
}

TEST(ParseOptions, UnterminatedQuoteSwallowsTheRest) {
    OptionMap options = parseOptions(L"/log:\"C:\\a.txt /silent");
    EXPECT_EQ(options.at(L"log"), L"C:\\a.txt /silen");
    EXPECT_EQ(options.count(L"silent"), 0u);
}

TEST(ParseOptions, TabsAreOrdinaryCharacters) {
    OptionMap options = parseOptions(L"/silent\t/log");
    EXPECT_EQ(options.size(), 1u);
    EXPECT_EQ(options.count(L"silent\t/log"), 1u);
}

}  // namespace
