#include <gtest/gtest.h>

#include <array>
#include <stdexcept>
#include <tuple>

#include "base/text.h"
#include "support/expect.h"
#include "support/temp_dir.h"
#include "transport/code_page.h"
#include "transport/gateway_url.h"
#include "transport/hex.h"
#include "transport/rowset_document.h"
#include "transport/transport_config.h"
#include "transport/zlib_codec.h"

namespace parlix {
namespace {

using test::expectPairs;

// Every character the code page lacks and every malformed sequence becomes exactly one '?'.
TEST(PayloadCodePage, MapsUtf8ToTheCodePage) {
    // Two cases a row: text, what it becomes, text, what it becomes.
    const std::array<std::string, 4> rows[] = {
        {"ASCII ~#", "ASCII ~#", "caf\xC3\xA9 \xE2\x82\xAC \xC2\xA0", "caf\xE9 \x80 \xA0"},
        {"\xD0\x96\xE4\xB8\xAD\xF0\x9F\x98\x80", "???", "a\xFF", "a?"},  // 2, 3, 4 bytes it lacks
        {"\xC0\xAF\xC1\xBF", "????", "a\xC3", "a?"},            // overlong; cut off at the end
        {"\xE2\x82x", "??x", "\xE0\xA0\x80", "?"},              // cut off inside; U+0800
        {"\xE0\x9F\xBF", "???", "\xED\x9F\xBF", "?"},           // the same overlong; U+D7FF
        {"\xED\xA0\x80", "???", "\xF0\x90\x80\x80", "?"},       // a surrogate; U+10000
        {"\xF0\x8F\xBF\xBF", "????", "\xF4\x8F\xBF\xBF", "?"},  // the same overlong; U+10FFFF
        {"\xEF\xBF\xBD", "?", "\xEE\x80\x80", "?"},             // U+FFFD; U+E000
        {"\xF4\x90\x80\x80", "????", std::string(5000, 'x') + "\xC3\xA9",
         std::string(5000, 'x') + "\xE9"}};  // beyond U+10FFFF; longer than iconv's buffer
    CodePageConverter reused = CodePageConverter::open("UTF-8", kDefaultPayloadCodePage).value();
    for (const auto& row : rows) {
        for (size_t i = 0; i < 4; i += 2) {
            EXPECT_EQ(toPayloadCodePage(row[i], "WINDOWS-1252"), row[i + 1]) << row[i];
            EXPECT_EQ(reused.convert(row[i]), row[i + 1]) << row[i];
        }
    }
    reused = CodePageConverter::open("UTF-8", "CP1251").value();
    CodePageConverter back = CodePageConverter::open("WINDOWS-1252", "UTF-8").value();
    expectPairs({reused.convert("\xD0\x96"), "\xC6", toPayloadCodePage("\xD0\x96", "CP1251"),
                 "\xC6", back.convert("caf\xE9 \x80"), "caf\xC3\xA9 \xE2\x82\xAC",
                 back.convert("x\x81y"), "x?y"});  // 0x81 is unassigned
    EXPECT_THROW(toPayloadCodePage("x", "NO-SUCH-CODEPAGE"), std::invalid_argument);
}

TEST(HexAndZlib, PayloadsTravelAsUpperCaseHexOfADefaultLevelZlibStream) {
    std::string original;
    for (int i = 0; i < 4096; ++i) {
        original.push_back(static_cast<char>((i * 7919) & 0xFF));
    }
    const std::string hex = StringToHex(original.substr(0, 256));
    EXPECT_EQ(hex.substr(0, 8) + hex.substr(hex.size() - 8), "00EFDECD44332211");
    EXPECT_EQ(hexToBytes(StringToHex(original)), original);
    for (const char* bad : {"0g", "ab", "0:", "@0", "G0", "0/"}) {
        EXPECT_FALSE(hexToBytes(bad) || isUpperHex(bad)) << bad;
    }
    EXPECT_FALSE(hexToBytes("ABC"));
    EXPECT_TRUE(isUpperHex("0123456789ABCDEF"));
    original += std::string(10000, 'x');
    std::string text = original;
    ZlibCodec{}.CompressString(text, 15);
    EXPECT_EQ(StringToHex(text.substr(0, 2)), "789C");
    EXPECT_LT(text.size(), original.size());
    EXPECT_EQ(inflateZlibStream(text, original.size()), original);
    std::string otherLevel = original;
    ZlibCodec{}.CompressString(otherLevel, 1);
    EXPECT_EQ(otherLevel, text) << "the level argument must not change the output";
    std::string empty;
    ZlibCodec{}.CompressString(empty, 15);
    EXPECT_EQ(empty, "");
    for (const std::string& bad :
         {text.substr(0, text.size() - 1), text + "junk", std::string("not zlib"), std::string()}) {
        EXPECT_FALSE(inflateZlibStream(bad, 1 << 20));
    }
    EXPECT_FALSE(inflateZlibStream(text, original.size() - 1));
}

TEST(GatewayUrl, OrdinaryValuesTravelAsTheyAreAndTheRestIsEscaped) {
    expectPairs({encodeQueryValue("20261206_150405126_1_NWT"), "20261206_150405126_1_NWT",
                 encodeQueryValue("1.2.3.4,10.0.0.1 a-b~c"), "1.2.3.4,10.0.0.1%20a-b~c",
                 encodeQueryValue("AZaz09"), "AZaz09", encodeQueryValue("p'&w=1#2%3+4\x01"),
                 "p%27%26w%3D1%232%253%2B4%01", encodeQueryValue("\xC3\xA9/?@[`{"),
                 "%C3%A9%2F%3F%40%5B%60%7B"});
    expectPairs({decodeQueryValue("a+b%2"), "a b%2", decodeQueryValue("%41%4a%4A%zz%"), "AJJ%zz%",
                 decodeQueryValue(encodeQueryValue("p&w=1 \xC3\xA9\xFF")), "p&w=1 \xC3\xA9\xFF",
                 gatewayUrl("http://", "gw:81", "/Parlix/ParlixChk.asp"),
                 "http://gw:81/Parlix/ParlixChk.asp",
                 gatewayUrl("HTTP://", "h", "/p", {{"ID", " a"}, {"MsgLen", "20"}, {"F", ""}}),
                 "HTTP://h/p?ID=%20a&MsgLen=20&F="});
}

TEST(RowsetDocument, CarriesOneRowInTheDataSectionAndReadsBack) {
    const std::string tmpl = rowsetTemplate();
    const size_t dataOpen = tmpl.find("   <rs:data>") + 12;
    const std::string doc = rowsetDocument("AB");
    EXPECT_EQ(doc, tmpl.substr(0, dataOpen) + R"(<rs:insert><z:row Msg_Text="AB"/></rs:insert>)" +
                       tmpl.substr(dataOpen));
    for (const std::string& text : {std::string(), std::string("a<b>&\"c'\t\r\n&amp;")}) {
        EXPECT_EQ(rowsetMsgText(rowsetDocument(text)), text);
    }
    std::string twoRows = doc;
    twoRows.insert(twoRows.find("</rs:insert>"), "<z:row Msg_Text=\"CD\"/>");
    auto replaced = [&](const char* from, const char* to) { return replaceAll(doc, from, to); };
    for (const std::string& bad :
         {tmpl, std::string("<xml><z:row Msg_Text=\"AB\"/></xml>"), twoRows,
          doc.substr(0, doc.find("AB") + 2), replaced("Msg_Text=\"AB\"", "Other=\"AB\""),
          replaced("name=\"Msg_Text\"", "name=\"Other\""), replaced("\"AB\"", "AB"),
          replaced("AB", "A&bogus;"), replaced("AB", "A&amp"), replaced("\"AB\"/", "")}) {
        EXPECT_FALSE(rowsetMsgText(bad)) << bad.substr(bad.size() > 80 ? bad.size() - 80 : 0);
    }
    EXPECT_EQ(rowsetMsgText(replaced("\"AB\"", "'A\"B'")), "A\"B");
}

TEST(TransportConfig, ReadsItsKeysAndRefusesBadValuesWithAReason) {
    test::TempDir dir;
    const std::string path = (dir / kConfigFileName).string();
    auto values = [](const TransportConfig& c) {
        return std::tuple(c.timeouts.connectMs, c.timeouts.totalMs, c.busyTimeoutMs,
                          c.payloadCodePage);
    };
    EXPECT_EQ(values(loadTransportConfig(path).value()),
              std::tuple(10000, 60000, 15000, "WINDOWS-1252"));
    test::writeFile(path,
                    "# transport\r\n  http.connect_timeout_ms = 2500\r\n\n; a comment\n"
                    "http.total_timeout_ms=86400000\npayload.codepage=CP1251\n"
                    "server1.host=127.0.0.1:8001\nserver5.host = gw5 \nserver6.host=x\n"
                    "server0.host=x\nserverA.host=x\nserver1.hosts=x\nui.x=else\n"
                    "http.listen=[::1]:8080\nhttp.token_file=t\ndb.busy_timeout_ms=250\n");
    auto config = loadTransportConfig(path).value();
    EXPECT_EQ(values(config), std::tuple(2500, 86400000, 250, "CP1251"));
    EXPECT_EQ(config.serverHosts,
              (std::array<std::string, 5>{"127.0.0.1:8001", "", "", "", "gw5"}));
    auto listen = parseListenAddress(config.httpListen).value();
    EXPECT_EQ(std::tuple(listen.host, listen.port, config.httpTokenFile),
              std::tuple("::1", 8080, "t"));
    // A refused value is named by its key.
    for (const std::string setting :
         {"http.total_timeout_ms=0", "http.total_timeout_ms=86400001",
          "http.connect_timeout_ms=10s", "http.connect_timeout_ms=-5", "db.busy_timeout_ms=soon",
          "payload.codepage=NO-SUCH", "http.listen=8080", "http.listen=:8080", "http.listen=host:0",
          "http.listen=host:65536", "http.listen=host:80x"}) {
        test::writeFile(path, setting + "\n");
        auto refused = loadTransportConfig(path);
        ASSERT_FALSE(refused) << setting;
        EXPECT_NE(refused.error().message.find(setting.substr(0, setting.find('='))),
                  std::string::npos)
            << setting;
    }
    test::writeFile(path, "ok=1\njust text\n");
    EXPECT_NE(loadTransportConfig(path).error().message.find("line 2"), std::string::npos);
}

}  // namespace
}  // namespace parlix
