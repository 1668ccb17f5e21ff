// The figures of a timer tick: percent, seconds left, speed and time-left texts.
#include <string>

#include "support.h"

namespace unit_test {
namespace {

class ProgressText : public ::testing::Test {
  protected:
    void SetUp() override { prepareRunState(); }
    void TearDown() override { loadUnitTexts(); }
    static std::wstring timeLeft(uint32_t seconds) {
        wchar_t text[kProgressTextChars];
        formatTimeLeft(text, kProgressTextChars, seconds);
        return text;
    }
};

TEST_F(ProgressText, PercentTruncatesAndIsNotClamped) {
    EXPECT_EQ(progressPercent(999, 1000), 99u);
    EXPECT_EQ(progressPercent(1500, 1000), 150u);
    EXPECT_EQ(progressPercent(5, 0), 0u);
    // Far more than announced: the low 32 bits of 429496729500, never an undefined conversion.
    EXPECT_EQ(progressPercent(0xFFFFFFFFu, 1), static_cast<uint32_t>(429496729500ull));
}

TEST_F(ProgressText, SecondsLeftFromTheWholeRateInKilobytesOf1024) {
    struct Case {
        uint32_t received, total;
        double rate;
        bool estimated;
        uint32_t seconds;  // left as it was without an estimate
    } const cases[] = {
        {1048576, 4194304, 256.9, true, 12},  // 256, not 256.9
        {0, 1000000, 1.0, true, 976},
        {0, 1000, 0.999, false, 99},  // no estimate below one kilobyte a second
        {5000, 4000, 10.0, true, 0},  // past the announced total nothing remains
        // Rates whose whole kilobytes would wrap a 32-bit divisor to 0.
        {0, 0xFFFFFFFFu, 4194304.0, true, 0},
        {0, 0xFFFFFFFFu, 1e300, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.received << "/" << c.total << " at " << c.rate);
        uint32_t seconds = 99;
        EXPECT_EQ(secondsLeft(c.received, c.total, c.rate, &seconds), c.estimated);
        EXPECT_EQ(seconds, c.seconds);
    }
}

TEST_F(ProgressText, SpeedSwitchesUnitAt1000ButDividesBy1024) {
    struct Case {
        double rate;
        const wchar_t* text;
    } const cases[] = {{0.5, L"0.50 KB/s"},
                       {256.9, L"256.90 KB/s"},
                       {999.99, L"999.99 KB/s"},
                       {1000.0, L"0.98 MB/s"},
                       {1536.0, L"1.50 MB/s"}};
    for (const Case& c : cases) {
        wchar_t unit[kUnitChars];
        LoadStringW(g_moduleInstance, rateUnitId(c.rate), unit, kUnitChars);
        wchar_t text[kProgressTextChars];
        EXPECT_TRUE(composeRateText(text, kProgressTextChars, c.rate, unit));
        EXPECT_STREQ(text, c.text);
    }
    // A unit too long for the text leaves the number alone; one that just fits is kept.
    wchar_t text[kProgressTextChars];
    EXPECT_FALSE(composeRateText(text, kProgressTextChars, 256.0, std::wstring(60, L'K').c_str()));
    EXPECT_STREQ(text, L"256.00");
    std::wstring fits(kProgressTextChars - 1 - 7, L'K');  // "256.00 " takes 7
    EXPECT_TRUE(composeRateText(text, kProgressTextChars, 256.0, fits.c_str()));
    EXPECT_EQ(wcslen(text), kProgressTextChars - 1);
}

TEST_F(ProgressText, TimeLeftInWordsSingularOnlyForOne) {
    struct Case {
        uint32_t seconds;
        const wchar_t* text;
    } const cases[] = {
        {0, L"0 seconds"},
        {1, L"1 second"},
        {60, L"1 minute and 0 seconds"},
        {61, L"1 minute and 1 second"},
        {3599, L"59 minutes and 59 seconds"},
        {3661, L"1 hour, 1 minute and 1 second"},
        {7322, L"2 hours, 2 minutes and 2 seconds"},
        {0xFFFFFFFFu, L"1193046 hours, 28 minutes and 15 seconds"},  // hours are not capped
    };
    for (const Case& c : cases) EXPECT_EQ(timeLeft(c.seconds), c.text);
}

TEST_F(ProgressText, TimeLeftWithWordsTooLongFallsBackToClockForm) {
    // Words a resource library may carry: each fits its own place, together they do not.
    std::wstring word(48, L'h');
    ASSERT_TRUE(textCopy(g_textHours, word.c_str()));
    ASSERT_TRUE(textCopy(g_textSeconds, word.c_str()));
    EXPECT_EQ(timeLeft(7322), L"2:02:02");
    EXPECT_EQ(timeLeft(5), L"0:00:05");
    EXPECT_EQ(timeLeft(61), L"1 minute and 1 second");  // still fits in words
    // A format that fails by itself (more text than fits) takes the same way.
    loadUnitTexts();
    std::wstring format = std::wstring(20, L'x') + L" %d %s, %d %s and %d %s";
    ASSERT_TRUE(textCopy(g_formatThreeUnits, format.c_str()));
    EXPECT_EQ(timeLeft(0xFFFFFFFFu), L"1193046:28:15");
}

}  // namespace
}  // namespace unit_test
