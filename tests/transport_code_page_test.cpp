#include <gtest/gtest.h>

#include <stdexcept>

#include "transport/code_page.h"

namespace parlix {
namespace {

TEST(PayloadCodePage, MapsUtf8ToWindows1252Bytes) {
    EXPECT_EQ(toPayloadCodePage("plain ASCII ~#", "WINDOWS-1252"), "plain ASCII ~#");
    EXPECT_EQ(toPayloadCodePage("caf\xC3\xA9 \xE2\x82\xAC", "WINDOWS-1252"), "caf\xE9 \x80");
    EXPECT_EQ(toPayloadCodePage("\xC2\xA0", kDefaultPayloadCodePage), "\xA0");
}

TEST(PayloadCodePage, TurnsEachUnmappableCharacterIntoOneQuestionMark) {
    // Cyrillic (2 bytes), a CJK ideograph (3 bytes) and an emoji (4 bytes): one '?' each.
    EXPECT_EQ(toPayloadCodePage("a\xD0\x96"
                                "b\xE4\xB8\xAD"
                                "c\xF0\x9F\x98\x80"
                                "d",
                                "WINDOWS-1252"),
              "a?b?c?d");
    EXPECT_EQ(toPayloadCodePage("\xD0\x96\xD0\x96", "WINDOWS-1252"), "??");
}

TEST(PayloadCodePage, TurnsMalformedUtf8IntoQuestionMarks) {
    EXPECT_EQ(toPayloadCodePage("a\xFF"
                                "b",
                                "WINDOWS-1252"),
              "a?b");
    EXPECT_EQ(toPayloadCodePage("a\xC3", "WINDOWS-1252"), "a?");  // cut off at the end
}

TEST(PayloadCodePage, ReadsBackToUtf8) {
    EXPECT_EQ(fromPayloadCodePage("caf\xE9 \x80", "WINDOWS-1252"), "caf\xC3\xA9 \xE2\x82\xAC");
    EXPECT_EQ(fromPayloadCodePage("x\x81y", "WINDOWS-1252"), "x?y");  // 0x81 is unassigned
}

TEST(PayloadCodePage, HonoursAnotherCodePageAndRefusesUnknownOnes) {
    EXPECT_EQ(toPayloadCodePage("\xD0\x96", "CP1251"), "\xC6");
    EXPECT_THROW(toPayloadCodePage("x", "NO-SUCH-CODEPAGE"), std::invalid_argument);
    EXPECT_FALSE(CodePageConverter::open("UTF-8", "NO-SUCH-CODEPAGE"));
}

TEST(CodePageConverter, CanBeReusedAndMoved) {
    auto conv = CodePageConverter::open("UTF-8", "WINDOWS-1252");
    ASSERT_TRUE(conv);
    CodePageConverter c = std::move(conv).value();
    EXPECT_EQ(c.convert("\xD0\x96"), "?");
    EXPECT_EQ(c.convert("\xC3\xA9"), "\xE9");
    std::string big(10000, 'x');
    big += "\xC3\xA9";
    EXPECT_EQ(c.convert(big), std::string(10000, 'x') + "\xE9");
}

}  // namespace
}  // namespace parlix
