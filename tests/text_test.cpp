#include <gtest/gtest.h>

#include "base/date_time.h"
#include "base/text.h"

namespace parlix {
namespace {

TEST(Text, TrimRemovesOnlyBlanks) {
    EXPECT_EQ(trimSpaces("  a b  "), "a b");
    EXPECT_EQ(trimSpaces("\r\nEND\r\n"), "\r\nEND\r\n");
    EXPECT_EQ(trimSpaces("   "), "");
}

TEST(Text, SplitKeepsEmptyPieces) {
    EXPECT_EQ(split("a||b||", "||"), (std::vector<std::string>{"a", "b", ""}));
    EXPECT_EQ(split("", ","), (std::vector<std::string>{""}));
    EXPECT_EQ(split("logonyes", "||").size(), 1u);
}

TEST(Text, ReplaceIsOnePassLeftToRight) {
    EXPECT_EQ(replaceAll("a~~~b", "~~", "~"), "a~~b");
    EXPECT_EQ(replaceAll("aaa", "a", "aa"), "aaaaaa");
}

TEST(Text, LeadingNumberReadsLikeAConversion) {
    EXPECT_EQ(leadingNumber("12abc"), 12);
    EXPECT_EQ(leadingNumber(""), 0);
    EXPECT_EQ(leadingNumber("x"), 0);
    EXPECT_EQ(leadingNumber(" 1"), 1);
}

TEST(Text, WholeNumberConversionRoundsAndChecksRange) {
    EXPECT_EQ(toWholeNumber(" 8080 ", 16), 8080);
    EXPECT_EQ(toWholeNumber("2.5", 16), 2);
    EXPECT_EQ(toWholeNumber("3.5", 16), 4);
    EXPECT_EQ(toWholeNumber("32767", 16), 32767);
    EXPECT_FALSE(toWholeNumber("32768", 16).has_value());
    EXPECT_EQ(toWholeNumber("32768", 32), 32768);
    EXPECT_FALSE(toWholeNumber("12abc", 32).has_value());
    EXPECT_FALSE(toWholeNumber("", 32).has_value());
}

TEST(Text, ShortestDecimalKeepsAllDigitsNeeded) {
    EXPECT_EQ(shortestDecimal(1234.5678), "1234.5678");
    EXPECT_EQ(shortestDecimal(50000), "50000");
}

TEST(DateTimeText, GeneralFormAndClockCaptionUseTheTwelveHourClock) {
    EXPECT_EQ(generalDateTime({2026, 12, 6, 15, 4, 5, 0}), "12/6/2026 3:04:05 PM");
    EXPECT_EQ(generalDateTime({2026, 1, 2, 0, 7, 9, 0}), "1/2/2026 12:07:09 AM");
    EXPECT_EQ(clockCaption({2026, 12, 6, 15, 45, 7, 0}), "03:45:07:PM");
    EXPECT_EQ(clockCaption({2026, 12, 6, 12, 0, 0, 0}), "12:00:00:PM");
}

TEST(DateTimeText, IsoFormsAndValidation) {
    DateTime t{2026, 2, 3, 4, 5, 6, 0};
    EXPECT_EQ(isoDateTime(t), "2026-02-03 04:05:06");
    EXPECT_TRUE(parseIsoDateTime("2024-02-29 23:59:59").has_value());
    EXPECT_FALSE(parseIsoDateTime("2023-02-29 10:00:00").has_value());
    EXPECT_FALSE(parseIsoDateTime("2023-02-28 10:00").has_value());
    EXPECT_FALSE(parseIsoDateTime("2023-02-28 10:00:00x").has_value());
}

}  // namespace
}  // namespace parlix
