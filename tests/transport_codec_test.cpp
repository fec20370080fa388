#include <gtest/gtest.h>

#include <string>

#include "transport/hex.h"
#include "transport/zlib_codec.h"

namespace parlix {
namespace {

TEST(StringToHex, WritesTwoUpperCaseDigitsPerByte) {
    struct Case {
        std::string in;
        std::string out;
    };
    const Case cases[] = {{"abc", "616263"},
                          {std::string(1, '\0'), "00"},
                          {"\x0F", "0F"},
                          {"\x10", "10"},
                          {"\xFF", "FF"},
                          {"", ""},
                          {std::string("\x00\xAB\x7F", 3), "00AB7F"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.out);
        EXPECT_EQ(StringToHex(c.in), c.out);
    }
}

TEST(HexToBytes, ReadsBackEveryByteAndRejectsMalformedText) {
    std::string all;
    for (int i = 0; i < 256; ++i) {
        all.push_back(static_cast<char>(i));
    }
    EXPECT_EQ(hexToBytes(StringToHex(all)), all);
    EXPECT_EQ(hexToBytes(""), "");
    EXPECT_FALSE(hexToBytes("ABC"));  // odd length
    EXPECT_FALSE(hexToBytes("0g"));
    EXPECT_FALSE(hexToBytes("ab"));  // the gateway's hex is upper case
    EXPECT_FALSE(isUpperHex("12 4"));
    EXPECT_TRUE(isUpperHex("0123456789ABCDEF"));
}

TEST(CompressString, LeavesEmptyTextEmpty) {
    std::string text;
    ZlibCodec{}.CompressString(text, 15);
    EXPECT_EQ(text, "");
}

TEST(CompressString, GivesADefaultLevelZlibStreamThatInflatesBack) {
    std::string original;
    for (int i = 0; i < 500; ++i) {
        original += "0123456789#user00001-261206-1504-" + std::to_string(i) + "#TEXT\r\nhello\r\n";
    }
    std::string text = original;
    ZlibCodec{}.CompressString(text, 15);
    EXPECT_EQ(StringToHex(text.substr(0, 2)), "789C");
    EXPECT_LT(text.size(), original.size());
    EXPECT_EQ(inflateZlibStream(text, original.size()), original);

    std::string otherLevel = original;
    ZlibCodec{}.CompressString(otherLevel, 1);
    EXPECT_EQ(otherLevel, text) << "the level argument must not change the output";
}

TEST(CompressString, KeepsEveryByteValueOfBinaryInput) {
    std::string original;
    for (int i = 0; i < 4096; ++i) {
        original.push_back(static_cast<char>((i * 7919) & 0xFF));
    }
    std::string text = original;
    ZlibCodec{}.CompressString(text, 15);
    EXPECT_EQ(inflateZlibStream(text, 1 << 20), original);
}

TEST(InflateZlibStream, RefusesTruncatedTrailingOrOversizedStreams) {
    std::string text(10000, 'x');
    ZlibCodec{}.CompressString(text, 15);
    EXPECT_FALSE(inflateZlibStream(text.substr(0, text.size() - 1), 1 << 20));
    EXPECT_FALSE(inflateZlibStream(text + "junk", 1 << 20));
    EXPECT_FALSE(inflateZlibStream(text, 9999));
    EXPECT_FALSE(inflateZlibStream("not zlib", 1 << 20));
    EXPECT_TRUE(inflateZlibStream(text, 10000));
}

}  // namespace
}  // namespace parlix
