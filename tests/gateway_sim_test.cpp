#include <gtest/gtest.h>

#include <filesystem>

#include "support/fakes.h"
#include "support/gateway_sim_process.h"
#include "support/temp_dir.h"
#include "transport/code_page.h"
#include "transport/curl_http_client.h"
#include "transport/gateway_url.h"
#include "transport/hex.h"
#include "transport/payload_uploader.h"
#include "transport/rowset_document.h"
#include "transport/zlib_codec.h"

namespace parlix {
namespace {

using test::FakeUi;
using test::GatewaySimProcess;
using test::JsonValue;
using test::TempDir;
using test::writeFile;

class GatewaySimTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim.addAccount({"alice", "secret", 100, true, "Maintenance tonight", "ACME,BETA"});
        sim.addAccount({"bob", "p&w=1#2%3+4 5 \xC3\xA9", 5, false, "", "*"});
    }

    std::string get(
        const std::string& path,
        std::initializer_list<std::pair<std::string_view, std::string_view>> query = {}) {
        return client.get(gatewayUrl("http://", sim.host(), path, query));
    }
    std::string login(const std::string& user, const std::string& password) {
        return get("/Parlix/Logonchks.asp",
                   {{"UserId", user}, {"UserPassWord", password}, {"IP", "10.0.0.5"}});
    }
    // Uploads `utf8` in the payload code page as the file of one flag; returns uploadOk.
    bool uploadPayload(const std::string& flag, const std::string& utf8,
                       const std::string& user = "alice") {
        return uploader.httpConnectSingle((dir / "payload.SMS").string(),
                                          toPayloadCodePage(utf8, kDefaultPayloadCodePage), flag,
                                          sim.host(), user);
    }
    std::string postPiece(const std::string& query, const std::string& body,
                          const std::string& contentType = "text/xml") {
        return client.post("http://" + sim.host() + "/Parlix/PostDataZSM.ASP?" + query, body,
                           contentType);
    }
    std::string debit(const std::string& user, const std::string& parts, const std::string& flnm,
                      const std::string& password = "pelurvintas") {
        return get(
            "/Parlix/Debit.asp",
            {{"UserId", user}, {"UserPassWord", password}, {"DebitSMS", parts}, {"Flnm", flnm}});
    }

    GatewaySimProcess sim;
    TempDir dir;
    FakeUi ui;
    CurlHttpClient client{ui, HttpTimeouts{2000, 10000}};
    PayloadUploader uploader{client, ui};
};

TEST_F(GatewaySimTest, AnswersTheServerCheckAndLogins) {
    EXPECT_EQ(get("/Parlix/ParlixChk.asp"), "Server Connected");
    EXPECT_EQ(login("alice", "secret"), "logonyes||100||YES||Maintenance tonight||ACME,BETA");
    EXPECT_EQ(login("alice", "Secret"), "logonno");
    EXPECT_EQ(login("nobody", "secret"), "logonno");
    EXPECT_EQ(login(" alice ", "secret"), "logonyes||100||YES||Maintenance tonight||ACME,BETA");
    // Every character that would break a plain query arrives intact once encoded.
    EXPECT_EQ(login("bob", "p&w=1#2%3+4 5 \xC3\xA9"), "logonyes||5||NO||||ZENTROCAOPENSENDERID");
    EXPECT_EQ(get("/Parlix/Logonchks.asp", {{"UserId", "alice"}, {"UserPassWord", "secret"}}),
              "error: missing IP");
}

TEST_F(GatewaySimTest, SimulatesEachServerOnItsOwnPortWithItsOwnFaults) {
    const std::string s2 = sim.serverHost(2);
    const std::string s3 = sim.serverHost(3);
    const std::string s9 = sim.serverHost(9);
    sim.setFaults("server=3&refuse=1");
    sim.setFaults("server=2&check_reply=Server%20Busy");
    EXPECT_THROW(client.get("http://" + s3 + "/Parlix/ParlixChk.asp"), TransferError);
    EXPECT_EQ(client.get("http://" + s2 + "/Parlix/ParlixChk.asp"), "Server Busy");
    EXPECT_EQ(client.get("http://" + s9 + "/Parlix/ParlixChk.asp"), "Server Connected");
    EXPECT_EQ(sim.requests().at(0)["server"].str(), "2");

    JsonValue servers = sim.get("/_sim/servers")["servers"];
    EXPECT_EQ(servers.size(), 7u);
    EXPECT_TRUE(servers.at(3)["refusing"].boolean());
    EXPECT_TRUE(sim.post("/_sim/faults?server=main&refuse=1").has("error"));
    // A fault limited by match meets only the requests whose target holds the text.
    sim.setFaults("server=9&reply=hit&reply_bytes=5&match=a%3D1");
    EXPECT_EQ(client.get("http://" + s9 + "/Parlix/ParlixChk.asp?a=1"), "hitxx");
    EXPECT_EQ(client.get("http://" + s9 + "/Parlix/ParlixChk.asp?a=2"), "Server Connected");

    sim.post("/_sim/faults/clear");
    EXPECT_EQ(client.get("http://" + s3 + "/Parlix/ParlixChk.asp"), "Server Connected");
    EXPECT_EQ(client.get("http://" + s2 + "/Parlix/ParlixChk.asp"), "Server Connected");
}

TEST_F(GatewaySimTest, DecodesHeaderAndMessageFilesOfABatch) {
    ASSERT_TRUE(uploadPayload("20261206_150405126_7_TAG", "CDMA1\r\nGSM1"));
    ASSERT_TRUE(
        uploadPayload("20261206_150405126_7_NWT",
                      "0123456789#alice00001-261206-1504-1#TEXT\r\ncaf\xC3\xA9 \xE2\x82\xAC~ok\r\n"
                      "\r\n\r\n"
                      "0987654321#alice00001-261206-1504-2#FLASH\r\nsecond\r\n"));
    JsonValue batches = sim.batches();
    ASSERT_EQ(batches.size(), 2u);
    EXPECT_EQ(batches.at(0)["kind"].str(), "TAG");
    EXPECT_EQ(batches.at(0)["cdmaId"].str(), "CDMA1");
    EXPECT_EQ(batches.at(0)["gsmId"].str(), "GSM1");
    EXPECT_EQ(batches.at(1)["records"].num(), 2);

    JsonValue messages = sim.messages();
    ASSERT_EQ(messages.size(), 2u);
    const JsonValue& first = messages.at(0);
    EXPECT_EQ(first["number"].str(), "0123456789");
    EXPECT_EQ(first["messageId"].str(), "alice00001-261206-1504-1");
    EXPECT_EQ(first["type"].str(), "TEXT");
    EXPECT_EQ(first["text"].str(), "caf\xC3\xA9 \xE2\x82\xAC~ok");
    EXPECT_EQ(first["batch"].str(), "20261206_150405126_7");
    EXPECT_EQ(first["senderId"].str(), "GSM1");
    EXPECT_EQ(messages.at(1)["type"].str(), "FLASH");
}

TEST_F(GatewaySimTest, DecodesSingleFilesWithoutSeparatorsAndEmptyNumbers) {
    ASSERT_TRUE(uploadPayload("b1_NWM",
                              "#alice00001-261206-1504-1#TEXT\r\none\r\n"
                              "12345#alice00001-261206-1504-2#TEXT\r\ntwo\r\n"));
    JsonValue messages = sim.messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages.at(0)["number"].str(), "");
    EXPECT_EQ(messages.at(1)["number"].str(), "12345");
    EXPECT_EQ(messages.at(1)["kind"].str(), "NWM");
}

TEST_F(GatewaySimTest, RefusesPayloadsThatDoNotFitTheirKind) {
    struct Case {
        const char* flag;
        const char* payload;
    };
    const Case cases[] = {
        {"b_NWM", "1#id1#TEXT\r\none\r\n\r\n2#id2#TEXT\r\ntwo\r\n"},  // empty line in _NWM
        {"b_NWT", "1#id1#TEXT\r\none\r\n2#id2#TEXT\r\ntwo\r\n"},      // _NWT without separator
        {"b_NWM", "1#id1#TEXT\r\none"},                               // record not ended
        {"b_NWM", "no hashes here\r\ntext\r\n"},
        {"b_TAG", "only one id"},
        {"b_XYZ", "1#id1#TEXT\r\none\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.payload);
        sim.post("/_sim/reset");
        ui.boxes.clear();
        EXPECT_FALSE(uploadPayload(c.flag, c.payload));
        EXPECT_EQ(ui.boxes.size(), 1u);
        EXPECT_EQ(sim.requests().at(0)["reply"].str().rfind("error: ", 0), 0u);
        EXPECT_EQ(sim.messages().size(), 0u);
    }
}

TEST_F(GatewaySimTest, AnswersBadUploadRequestsWithAnErrorAndKeepsRunning) {
    const std::string piece = rowsetDocument(std::string(2048, 'A'));
    struct Case {
        std::string query;
        std::string body;
        std::string contentType;
        std::string replyStart;
    };
    const Case cases[] = {
        {"MsgLen=2048&Status=0&Flag=b_NWM", piece, "text/xml", "error: missing ID"},
        {"ID=alice&MsgLen=2047&Status=0&Flag=b_NWM", piece, "text/xml", "error: MsgLen does not"},
        {"ID=alice&MsgLen=x&Status=0&Flag=b_NWM", piece, "text/xml", "error: MsgLen must"},
        {"ID=alice&MsgLen=4&Status=1&Flag=b_NWM", rowsetDocument("78ZZ"), "text/xml",
         "error: Msg_Text is not"},
        {"ID=alice&MsgLen=4&Status=0&Flag=b_NWM", rowsetDocument("789C"), "text/xml",
         "error: every piece but the last"},
        {"ID=alice&MsgLen=4&Status=1&Flag=b_NWM", rowsetDocument("0102"), "text/xml",
         "error: not one whole zlib"},
        {"ID=alice&MsgLen=3&Status=1&Flag=b_NWM", rowsetDocument("789"), "text/xml",
         "error: hex text of odd"},
        {"ID=alice&MsgLen=2048&Status=2&Flag=b_NWM", piece, "text/xml", "error: Status"},
        {"ID=mallory&MsgLen=2048&Status=0&Flag=b_NWM", piece, "text/xml", "error: unknown user"},
        {"ID=alice&MsgLen=2048&Status=0&Flag=b_NWM", piece, "text/plain", "error: content type"},
        {"ID=alice&MsgLen=2048&Status=0&Flag=b_NWM", "<xml>junk", "text/xml", "error: body is not"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        EXPECT_EQ(postPiece(c.query, c.body, c.contentType).rfind(c.replyStart, 0), 0u);
    }
    // Larger than any piece's document: refused before it is read into memory.
    EXPECT_NE(postPiece("ID=alice&MsgLen=0&Status=1&Flag=b_NWM", std::string(1 << 20, 'A')),
              "complete");
    EXPECT_EQ(
        client.get("http://" + sim.host() + "/Parlix/PostDataZSM.ASP?ID=alice").rfind("error", 0),
        0u);
    EXPECT_EQ(get("/Parlix/ParlixChk.asp"), "Server Connected");
}

TEST_F(GatewaySimTest, ForgetsTheOldestUnfinishedUploadWhenTooManyAreOpen) {
    const std::string piece = rowsetDocument(std::string(2048, 'A'));
    for (int i = 0; i < 70; ++i) {
        ASSERT_EQ(
            postPiece("ID=alice&MsgLen=2048&Status=0&Flag=u" + std::to_string(i) + "_NWM", piece),
            "done");
    }
    // The first upload's pieces are gone, so its last piece alone does not decode.
    EXPECT_NE(postPiece("ID=alice&MsgLen=2&Status=1&Flag=u0_NWM", rowsetDocument("AA")),
              "complete");
    EXPECT_EQ(get("/Parlix/ParlixChk.asp"), "Server Connected");
}

TEST_F(GatewaySimTest, DebitsTheBalanceOnceForAnUploadedBatch) {
    ASSERT_TRUE(uploadPayload("20261206_1_9_NWM", "1#alice00001-261206-1504-1#TEXT\r\nx\r\n"));
    EXPECT_EQ(debit("alice", "3", "20261206_1_9", "wrong"), "Invalid Password");
    EXPECT_EQ(debit("alice", "3", "20261206_1_9_NWM"), "Unknown Flnm");
    EXPECT_EQ(debit("alice", "101", "20261206_1_9"), "Insufficient Balance");
    sim.setFaults("refuse_debit=1");
    EXPECT_EQ(debit("alice", "3", "20261206_1_9"), "Debit Failed");
    sim.setFaults("refuse_debit=0");
    EXPECT_EQ(debit("alice", "3", "20261206_1_9"), "Success");
    EXPECT_EQ(debit("alice", "3", "20261206_1_9"), "Already Debited");
    EXPECT_EQ(login("alice", "secret").substr(0, 14), "logonyes||97||");

    JsonValue debits = sim.debits();
    ASSERT_EQ(debits.size(), 6u);
    EXPECT_TRUE(debits.at(4)["ok"].boolean());
    EXPECT_TRUE(debits.at(4)["batchFound"].boolean());
    EXPECT_EQ(debits.at(4)["balanceAfter"].num(), 97);
    EXPECT_TRUE(sim.batches().at(0)["debited"].boolean());
}

TEST_F(GatewaySimTest, ReportsDeliveriesOfTheInstallationsMessagesOnce) {
    ASSERT_TRUE(uploadPayload("b_NWM",
                              "1#alice00001-261206-1504-1#TEXT\r\na\r\n"
                              "2#alice00001-261206-1504-2#TEXT\r\nb\r\n"
                              "3#alice00002-261206-1504-3#TEXT\r\nc\r\n"));
    ASSERT_EQ(sim.post("/_sim/reports?id=alice00001-261206-1504-2&status=UNDELIV&reason=Absent&"
                       "time=2026-12-06%2015:10:00")["updated"]
                  .num(),
              1);
    auto dr = [&](const std::string& pass) {
        return get("/DR/DR.aspx", {{"userid", "alice"}, {"userpass", pass}, {"MsgNum", "00001"}});
    };
    const std::string reply = dr("secret");
    const std::string received = sim.messages().at(0)["reportTime"].str();
    EXPECT_EQ(reply, "alice00001-261206-1504-1,DELIVRD," + received +
                         ",000\r\n"
                         "alice00001-261206-1504-2,UNDELIV,2026-12-06 15:10:00,Absent");
    EXPECT_EQ(dr("secret"), "END");
    EXPECT_EQ(dr("wrong"), "-201");
}

TEST_F(GatewaySimTest, KeepsBalancesInItsStateFileAcrossRestarts) {
    TempDir stateDir;
    const std::string state = (stateDir / "state.txt").string();
    {
        GatewaySimProcess first({"--state-file", state});
        first.addAccount({"carol", "pw", 50, false, "", ""});
    }
    ASSERT_TRUE(std::filesystem::exists(state));
    GatewaySimProcess second({"--state-file", state});
    JsonValue accounts = second.get("/_sim/accounts")["accounts"];
    ASSERT_EQ(accounts.size(), 1u);
    EXPECT_EQ(accounts.at(0)["user"].str(), "carol");
    EXPECT_EQ(accounts.at(0)["balance"].num(), 50);
}

}  // namespace
}  // namespace parlix
