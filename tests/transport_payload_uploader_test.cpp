#include <gtest/gtest.h>

#include <random>

#include "support/fakes.h"
#include "support/gateway_sim_process.h"
#include "support/temp_dir.h"
#include "transport/curl_http_client.h"
#include "transport/hex.h"
#include "transport/payload_uploader.h"
#include "transport/zlib_codec.h"

namespace parlix {
namespace {

using test::FakeUi;
using test::GatewaySimProcess;
using test::JsonValue;
using test::ProgramEnded;
using test::readFile;
using test::TempDir;

// A one-record _NWM payload whose zlib stream is exactly `compressedBytes` long, so that its
// hex text is twice that. The text is random bytes, which zlib stores nearly as they are; the
// search grows it one byte at a time from just below the wanted size.
std::string payloadCompressingTo(size_t compressedBytes) {
    std::mt19937 rng(7);
    std::string pool;
    while (pool.size() < compressedBytes + 64) {
        char c = static_cast<char>(rng() & 0xFF);
        if (c != '\r' && c != '\n') {
            pool.push_back(c);
        }
    }
    for (size_t len = compressedBytes > 128 ? compressedBytes - 128 : 1; len < pool.size(); ++len) {
        std::string payload =
            "0123456789#alice00001-261206-1504-1#TEXT\r\n" + pool.substr(0, len) + "\r\n";
        std::string compressed = payload;
        ZlibCodec{}.CompressString(compressed, 15);
        if (compressed.size() == compressedBytes) {
            return payload;
        }
    }
    throw std::logic_error("no payload compresses to that size");
}

class PayloadUploaderTest : public ::testing::Test {
protected:
    void SetUp() override { sim.addAccount({"alice", "pw", 100, true, "", ""}); }

    bool upload(const std::string& content, const std::string& userId = "alice") {
        return uploader.httpConnectSingle(path(), content, "20261206_150405126_42_NWM", sim.host(),
                                          userId);
    }
    std::string path() const { return (dir / "alice_NWM.SMS").string(); }

    // (MsgLen, Status) of every upload request the gateway saw.
    std::vector<std::pair<std::string, std::string>> pieces() {
        std::vector<std::pair<std::string, std::string>> out;
        const JsonValue requests = sim.requests();
        for (const JsonValue& r : requests.array()) {
            const auto& q = r["query"];
            out.emplace_back(q.at(1).at(1).str(), q.at(2).at(1).str());
        }
        return out;
    }

    GatewaySimProcess sim;
    TempDir dir;
    FakeUi ui;
    CurlHttpClient poster{ui, HttpTimeouts{2000, 10000}};
    PayloadUploader uploader{poster, ui};
};

using Pieces = std::vector<std::pair<std::string, std::string>>;

TEST_F(PayloadUploaderTest, SendsAHexFileOf2048CharactersAsOneFinalPiece) {
    const std::string payload = payloadCompressingTo(1024);
    ASSERT_TRUE(upload(payload));

    std::string compressed = payload;
    ZlibCodec{}.CompressString(compressed, 15);
    EXPECT_EQ(readFile(path()), StringToHex(compressed)) << "the file must hold the hex text";
    EXPECT_EQ(pieces(), (Pieces{{"2048", "1"}}));
    auto r = sim.requests().at(0);
    EXPECT_EQ(
        r["target"].str(),
        "/Parlix/PostDataZSM.ASP?ID=alice&MsgLen=2048&Status=1&Flag=20261206_150405126_42_NWM");
    EXPECT_EQ(r["contentType"].str(), "text/xml");
    EXPECT_EQ(ui.doEventsCount > 0, true);
    EXPECT_TRUE(ui.boxes.empty());
    auto m = sim.messages().at(0);
    EXPECT_EQ(m["messageId"].str(), "alice00001-261206-1504-1");
    EXPECT_EQ(m["batch"].str(), "20261206_150405126_42");
}

TEST_F(PayloadUploaderTest, SplitsAtEvery2048CharactersAndNeverSendsAnEmptyLastPiece) {
    struct Case {
        size_t compressed;
        Pieces expected;
    };
    const Case cases[] = {{1025, {{"2048", "0"}, {"2", "1"}}},
                          {2048, {{"2048", "0"}, {"2048", "1"}}},
                          {2049, {{"2048", "0"}, {"2048", "0"}, {"2", "1"}}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.compressed);
        sim.post("/_sim/reset");
        ASSERT_TRUE(upload(payloadCompressingTo(c.compressed)));
        EXPECT_EQ(pieces(), c.expected);
        auto replies = sim.requests();
        EXPECT_EQ(replies.at(0)["reply"].str(), "done");
        EXPECT_EQ(replies.at(replies.size() - 1)["reply"].str(), "complete");
        EXPECT_EQ(sim.messages().size(), 1u) << "the gateway must rebuild the whole payload";
    }
}

TEST_F(PayloadUploaderTest, SendsAnEmptyFileAsOneEmptyFinalPiece) {
    ASSERT_TRUE(upload(""));
    EXPECT_EQ(readFile(path()), "");
    EXPECT_EQ(pieces(), (Pieces{{"0", "1"}}));
    EXPECT_EQ(sim.requests().at(0)["msgTextLength"].num(), 0);
}

TEST_F(PayloadUploaderTest, ComparesRepliesWithoutRegardToCaseButNotTrimmed) {
    const std::string twoPieces = payloadCompressingTo(1025);
    sim.setFaults("done_reply=DONE&complete_reply=Complete");
    EXPECT_TRUE(upload(twoPieces));
    EXPECT_TRUE(ui.boxes.empty());

    sim.post("/_sim/reset");
    sim.setFaults("done_reply=done%0D%0A");
    EXPECT_FALSE(upload(twoPieces));
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(sim.requests().size(), 1u);
}

TEST_F(PayloadUploaderTest, ARefusedFirstPieceShowsOneBoxAndSendsNothingMore) {
    sim.setFaults("refuse_piece=1");
    EXPECT_FALSE(upload(payloadCompressingTo(2500)));
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "Send Fail!");
    EXPECT_EQ(ui.boxes[0].title, "Parlix");
    EXPECT_EQ(ui.boxes[0].buttons, MsgButtons::Ok);
    EXPECT_EQ(sim.requests().size(), 1u);
    EXPECT_EQ(sim.messages().size(), 0u);
}

TEST_F(PayloadUploaderTest, ARefusedLastPieceFailsTheUpload) {
    sim.setFaults("refuse_piece=2");
    EXPECT_FALSE(upload(payloadCompressingTo(1025)));
    EXPECT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(sim.requests().size(), 2u);
}

TEST_F(PayloadUploaderTest, SendsTheUserIdWithItsSpaces) {
    EXPECT_TRUE(upload(payloadCompressingTo(100), "  alice "));
    auto query = sim.requests().at(0)["query"];
    EXPECT_EQ(query.at(0).at(0).str(), "ID");
    EXPECT_EQ(query.at(0).at(1).str(), "  alice ");
}

TEST_F(PayloadUploaderTest, RaisesAFailedTransferAfterRewritingTheFile) {
    const std::string server3 = sim.serverHost(3);
    sim.setFaults("server=3&refuse=1");
    EXPECT_THROW(uploader.httpConnectSingle(path(), "0123456789#id#TEXT\r\nhi\r\n", "b_NWM",
                                            server3, "alice"),
                 TransferError);
    EXPECT_TRUE(isUpperHex(readFile(path())));
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(PayloadUploaderTest, ExitBetweenPiecesStopsTheUploadAtOnce) {
    ui.onDoEvents = [](int n) {
        if (n > 1) {
            throw ProgramEnded();
        }
    };
    // The client's own waits also process events, so count the requests rather than calls.
    EXPECT_THROW(upload(payloadCompressingTo(5000)), ProgramEnded);
    EXPECT_LE(sim.requests().size(), 1u);
    EXPECT_TRUE(ui.boxes.empty());
}

}  // namespace
}  // namespace parlix
