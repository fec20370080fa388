#include <gtest/gtest.h>

#include "transport/gateway_url.h"
#include "transport/rowset_document.h"

namespace parlix {
namespace {

TEST(EncodeQueryValue, LeavesOrdinaryValuesAsTheyAre) {
    for (const char* v :
         {"alice", "20261206_150405126_123_NWT", "1.2.3.4,10.0.0.1", "a-b~c", "2048"}) {
        SCOPED_TRACE(v);
        EXPECT_EQ(encodeQueryValue(v), v);
    }
}

TEST(EncodeQueryValue, EscapesEverythingThatWouldBreakTheQuery) {
    EXPECT_EQ(encodeQueryValue("p&w=1#2%3+4 5"), "p%26w%3D1%232%253%2B4%205");
    EXPECT_EQ(encodeQueryValue(" bob "), "%20bob%20");
    EXPECT_EQ(encodeQueryValue("\xC3\xA9/?"), "%C3%A9%2F%3F");
    EXPECT_EQ(encodeQueryValue(""), "");
}

TEST(DecodeQueryValue, UndoesTheEncoding) {
    const std::string tricky = "p&w=1#2%3+4 5 \xC3\xA9\x01";
    EXPECT_EQ(decodeQueryValue(encodeQueryValue(tricky)), tricky);
    EXPECT_EQ(decodeQueryValue("a+b%2"), "a b%2");
}

TEST(GatewayUrl, JoinsKeysInOrderWithEncodedValues) {
    EXPECT_EQ(gatewayUrl("http://", "gw.example:8080", "/Parlix/ParlixChk.asp"),
              "http://gw.example:8080/Parlix/ParlixChk.asp");
    EXPECT_EQ(
        gatewayUrl("HTTP://", "h", "/Parlix/PostDataZSM.ASP",
                   {{"ID", " al ice"}, {"MsgLen", "2048"}, {"Status", "0"}, {"Flag", "x_NWT"}}),
        "HTTP://h/Parlix/PostDataZSM.ASP?ID=%20al%20ice&MsgLen=2048&Status=0&Flag=x_NWT");
}

TEST(RowsetTemplate, IsTheTwelveFragmentsJoined) {
    const std::string expected =
        R"(<xml xmlns:s="uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882" xmlns:dt="uuid:C2F41010-65B3-11d1-A29F-00AA00C14882" xmlns:rs="urn:schemas-microsoft-com:rowset" xmlns:z="#RowsetSchema">)"
        R"(   <s:Schema id="RowsetSchema">)"
        R"(       <s:ElementType name="row" content="eltOnly">)"
        R"(           <s:AttributeType name="Msg_Text" rs:number="2" rs:nullable="true" rs:maydefer="true" rs:writeunknown="true">)"
        R"(               <s:datatype dt:type="string" dt:maxLength="536870910" rs:long="true"/>)"
        R"(           </s:AttributeType>)"
        R"(           <s:extends type="rs:rowbase"/>)"
        R"(       </s:ElementType>)"
        R"(   </s:Schema>)"
        R"(   <rs:data>)"
        R"(   </rs:data>)"
        R"(</xml>)";
    EXPECT_EQ(rowsetTemplate(), expected);
}

TEST(RowsetDocument, CarriesOneRowInsideTheDataSection) {
    const std::string doc = rowsetDocument("789C0102");
    const std::string tmpl = rowsetTemplate();
    const std::string row = R"(<rs:insert><z:row Msg_Text="789C0102"/></rs:insert>)";
    const size_t dataOpen = tmpl.find("   <rs:data>") + 12;
    EXPECT_EQ(doc, tmpl.substr(0, dataOpen) + row + tmpl.substr(dataOpen));
    EXPECT_EQ(rowsetMsgText(doc), "789C0102");
    EXPECT_EQ(rowsetMsgText(rowsetDocument("")), "");
}

TEST(RowsetMsgText, EscapesAndReadsBackMarkupCharacters) {
    const std::string text = "a<b>&\"c'\r\n";
    EXPECT_EQ(rowsetMsgText(rowsetDocument(text)), text);
}

TEST(RowsetMsgText, RefusesDocumentsWithoutExactlyOneRow) {
    EXPECT_FALSE(rowsetMsgText(rowsetTemplate()));
    EXPECT_FALSE(rowsetMsgText("<xml><z:row Msg_Text=\"AB\"/></xml>"));
    std::string two = rowsetDocument("AB");
    two.insert(two.find("</rs:insert>"), "<z:row Msg_Text=\"CD\"/>");
    EXPECT_FALSE(rowsetMsgText(two));
    std::string unterminated = rowsetDocument("AB");
    unterminated.resize(unterminated.find("AB") + 2);
    EXPECT_FALSE(rowsetMsgText(unterminated));
}

}  // namespace
}  // namespace parlix
