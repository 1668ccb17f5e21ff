// The figures of a timer tick: percent, seconds left, speed and time-left texts.
#include <string>

#include "support.h"

namespace ui_test {
namespace {

class ProgressText : public ::testing::Test {
  protected:
    void SetUp() override { prepareRunState(); }
    void TearDown() override {
        prepareRunState();
        reloadWords();
    }
    static void reloadWords() {
        LoadStringW(g_moduleInstance, IDS_HOURS, g_textHours, kUnitChars);
        LoadStringW(g_moduleInstance, IDS_SECONDS, g_textSeconds, kUnitChars);
        LoadStringW(g_moduleInstance, IDS_FORMAT_THREE_UNITS, g_formatThreeUnits, kUnitChars);
    }
    static std::wstring rateText(double rate) {
        wchar_t unit[kUnitChars];
        LoadStringW(g_moduleInstance, rateUnitId(rate), unit, kUnitChars);
        wchar_t text[kProgressTextChars];
        EXPECT_TRUE(composeRateText(text, kProgressTextChars, rate, unit));
        return text;
    }
    static std::wstring timeLeft(uint32_t seconds) {
        wchar_t text[kProgressTextChars];
        formatTimeLeft(text, kProgressTextChars, seconds);
        return text;
    }
};

TEST_F(ProgressText, PercentTruncatesAndIsNotClamped) {
    EXPECT_EQ(progressPercent(1048576, 4194304), 25u);
    EXPECT_EQ(progressPercent(999, 1000), 99u);
    EXPECT_EQ(progressPercent(0, 1000), 0u);
    EXPECT_EQ(progressPercent(1500, 1000), 150u);
    // Far more than announced: the low 32 bits of 429496729500, never an undefined conversion.
    EXPECT_EQ(progressPercent(0xFFFFFFFFu, 1), static_cast<uint32_t>(429496729500ull));
}

TEST_F(ProgressText, SecondsLeftUseTheWholeRateInKilobytesOf1024) {
    uint32_t seconds = 99;
    ASSERT_TRUE(secondsLeft(1048576, 4194304, 256.0, &seconds));
    EXPECT_EQ(seconds, 12u);
    ASSERT_TRUE(secondsLeft(1048576, 4194304, 256.9, &seconds));
    EXPECT_EQ(seconds, 12u);  // 256, not 256.9
    ASSERT_TRUE(secondsLeft(0, 1000000, 1.0, &seconds));
    EXPECT_EQ(seconds, 976u);
}

TEST_F(ProgressText, NoEstimateBelowOneKilobyteASecond) {
    uint32_t seconds = 99;
    EXPECT_FALSE(secondsLeft(0, 1000, 0.999, &seconds));
    EXPECT_FALSE(secondsLeft(0, 1000, 0.0, &seconds));
    EXPECT_EQ(seconds, 99u);
}

TEST_F(ProgressText, PastTheAnnouncedTotalNothingRemains) {
    uint32_t seconds = 99;
    ASSERT_TRUE(secondsLeft(5000, 4000, 10.0, &seconds));
    EXPECT_EQ(seconds, 0u);
    ASSERT_TRUE(secondsLeft(4000, 4000, 10.0, &seconds));
    EXPECT_EQ(seconds, 0u);
    // A rate whose whole kilobytes would wrap a 32-bit divisor to 0.
    ASSERT_TRUE(secondsLeft(0, 0xFFFFFFFFu, 4194304.0, &seconds));
    EXPECT_EQ(seconds, 0u);
    ASSERT_TRUE(secondsLeft(0, 0xFFFFFFFFu, 1e300, &seconds));
    EXPECT_EQ(seconds, 0u);
}

TEST_F(ProgressText, SpeedSwitchesUnitAt1000ButDividesBy1024) {
    EXPECT_EQ(rateText(256.0), L"256.00 KB/s");
    EXPECT_EQ(rateText(999.99), L"999.99 KB/s");
    EXPECT_EQ(rateText(1000.0), L"0.98 MB/s");
    EXPECT_EQ(rateText(1536.0), L"1.50 MB/s");
    EXPECT_EQ(rateText(256.9), L"256.90 KB/s");
    EXPECT_EQ(rateText(0.5), L"0.50 KB/s");
    EXPECT_EQ(rateUnitId(999.99), static_cast<UINT>(IDS_KBPS));
    EXPECT_EQ(rateUnitId(1000.0), static_cast<UINT>(IDS_MBPS));
}

TEST_F(ProgressText, SpeedWithAUnitTooLongKeepsTheNumber) {
    wchar_t text[kProgressTextChars];
    std::wstring unit(60, L'K');
    EXPECT_FALSE(composeRateText(text, kProgressTextChars, 256.0, unit.c_str()));
    EXPECT_STREQ(text, L"256.00");
    std::wstring fits(kProgressTextChars - 1 - 7, L'K');  // "256.00 " takes 7
    EXPECT_TRUE(composeRateText(text, kProgressTextChars, 256.0, fits.c_str()));
    EXPECT_EQ(wcslen(text), kProgressTextChars - 1);
}

TEST_F(ProgressText, TimeLeftInWordsSingularOnlyForOne) {
    EXPECT_EQ(timeLeft(0), L"0 seconds");
    EXPECT_EQ(timeLeft(1), L"1 second");
    EXPECT_EQ(timeLeft(59), L"59 seconds");
    EXPECT_EQ(timeLeft(60), L"1 minute and 0 seconds");
    EXPECT_EQ(timeLeft(61), L"1 minute and 1 second");
    EXPECT_EQ(timeLeft(120), L"2 minutes and 0 seconds");
    EXPECT_EQ(timeLeft(3599), L"59 minutes and 59 seconds");
    EXPECT_EQ(timeLeft(3600), L"1 hour, 0 minutes and 0 seconds");
    EXPECT_EQ(timeLeft(3661), L"1 hour, 1 minute and 1 second");
    EXPECT_EQ(timeLeft(7322), L"2 hours, 2 minutes and 2 seconds");
    // Hours are not capped.
    EXPECT_EQ(timeLeft(0xFFFFFFFFu), L"1193046 hours, 28 minutes and 15 seconds");
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
    reloadWords();
    std::wstring format = std::wstring(20, L'x') + L" %d %s, %d %s and %d %s";
    ASSERT_TRUE(textCopy(g_formatThreeUnits, format.c_str()));
    EXPECT_EQ(timeLeft(0xFFFFFFFFu), L"1193046:28:15");
}

}  // namespace
}  // namespace ui_test
