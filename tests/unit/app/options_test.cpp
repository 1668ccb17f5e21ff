#include "app/options.h"

#include <gtest/gtest.h>

namespace {

TEST(ParseOptions, NamesAndValues) {
    struct Case {
        const wchar_t* text;
        OptionMap options;
    } const cases[] = {
        {L"", {}},
        {L"    ", {}},
        // Inner colons stay, one trailing colon goes.
        {L"/silent /log:C:\\x\\dl.txt /other:a:b:",
         {{L"silent", L""}, {L"log", L"C:\\x\\dl.txt"}, {L"other", L"a:b"}}},
        {L"/log:", {{L"log", L""}}},
        {L"/log:a:", {{L"log", L"a"}}},
        // Names are case-sensitive and need a slash outside quotes.
        {L"/Silent /SILENT -silent \"/silent\"", {{L"Silent", L""}, {L"SILENT", L""}}},
        {L"/log:a /log:b", {{L"log", L"a"}}},  // the first occurrence wins
        {L"/log:\"C:\\my  logs\\dl.txt\" /silent",
         {{L"log", L"C:\\my  logs\\dl.txt"}, {L"silent", L""}}},
        {L"/log:\"\"", {{L"log", L""}}},
        {L"/log:C:\\my logs\\dl.txt", {{L"log", L"C:\\my"}}},
        {L"/log C:\\x.txt", {{L"log", L""}}},
        // The parent's program path is never an option.
        {L"\"C:\\Program Files\\Vendor App\\run.exe\" /silent", {{L"silent", L""}}},
        // An unterminated quote swallows the rest.
        {L"/log:\"C:\\a.txt /silent", {{L"log", L"C:\\a.txt /silen"}}},
        {L"/silent\t/log", {{L"silent\t/log", L""}}},  // tabs are ordinary characters
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text));
        EXPECT_EQ(parseOptions(c.text), c.options);
    }
}

}  // namespace
