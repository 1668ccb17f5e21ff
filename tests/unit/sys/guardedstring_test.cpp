#include "sys/guardedstring.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// One string assigned texts in turn: it doubles while small, grows by at least 1024 once large,
// never shrinks, and keeps text, length and terminator in step across every regrowth.
TEST(GuardedString, GrowsInStepsAndKeepsItsText) {
    struct Case {
        size_t chars, capacity;
    } const cases[] = {{64, 64},     {65, 128},    {200, 256},  {3, 256},
                       {1000, 1000}, {1025, 2000}, {2001, 3024}};
    GuardedString s;
    EXPECT_EQ(s.capacity(), 64u);
    EXPECT_STREQ(s.c_str(), L"");
    wchar_t fill = L'a';
    for (const Case& c : cases) {
        SCOPED_TRACE(c.chars);
        std::wstring text(c.chars, fill++);
        s.assign(text.c_str());
        EXPECT_EQ(s.capacity(), c.capacity);
        EXPECT_EQ(s.length(), c.chars);
        EXPECT_EQ(std::wstring(s.c_str()), text);
    }
    s.assign(nullptr);
    EXPECT_EQ(s.length(), 0u);
    EXPECT_STREQ(s.c_str(), L"");
}

}  // namespace
