#include "sys/guardedstring.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(GuardedString, GrowsByTheDocumentedSteps) {
    GuardedString s;
    EXPECT_EQ(s.capacity(), 64u);
    EXPECT_STREQ(s.c_str(), L"");
    s.assign(std::wstring(64, L'a').c_str());
    EXPECT_EQ(s.capacity(), 64u);
    s.assign(std::wstring(65, L'b').c_str());
    EXPECT_EQ(s.capacity(), 128u);
    s.assign(std::wstring(300, L'c').c_str());
    EXPECT_EQ(s.capacity(), 300u);
    s.assign(std::wstring(1024, L'd').c_str());
    EXPECT_EQ(s.capacity(), 1024u);
    s.assign(std::wstring(1025, L'e').c_str());
    EXPECT_EQ(s.capacity(), 2048u);
    EXPECT_EQ(s.length(), 1025u);
    EXPECT_EQ(std::wstring(s.c_str()), std::wstring(1025, L'e'));
}

TEST(GuardedString, AssignKeepsTextAndLengthInStep) {
    GuardedString s;
    s.assign(L"first text");
    s.assign(L"two");
    EXPECT_EQ(s.length(), 3u);
    EXPECT_STREQ(s.c_str(), L"two");
    s.assign(nullptr);
    EXPECT_EQ(s.length(), 0u);
    EXPECT_STREQ(s.c_str(), L"");
}

TEST(GuardedString, MovesOwnership) {
    GuardedString a;
    a.assign(L"moved");
    GuardedString b(std::move(a));
    EXPECT_STREQ(b.c_str(), L"moved");
    EXPECT_STREQ(a.c_str(), L"");  // NOLINT: the moved-from string is empty, not dangling
    GuardedString c;
    c = std::move(b);
    EXPECT_STREQ(c.c_str(), L"moved");
}

}  // namespace
