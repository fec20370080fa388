#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "base/text.h"
#include "db/db_error.h"
#include "dispatch/dispatch_tick.h"
#include "login/login.h"
#include "support/app_fixture.h"
#include "support/gateway_sim_process.h"
#include "support/queue_db.h"
#include "transport/hex.h"
#include "transport/zlib_codec.h"

namespace parlix {
namespace {

using test::AppFixture;
using test::countExact;
using test::enqueue;

/// The window logic logged in to gateway-sim, ready to tick.
class DispatchTest : public ::testing::Test {
protected:
    void login(long long balance, const std::string& senderIds, HttpTimeouts t = {2000, 5000}) {
        sim.addAccount({"demo", "pw", balance, false, "", senderIds});
        fx.config.serverHosts[0] = sim.serverHost(1);
        fx.useRealHttp(t);
        db = fx.makeDatabase();
        db->execute("update ProxyConfig set comport='54321'");
        fx.start();
        ASSERT_TRUE(fx.load());
        f().setText("txtUserId", "demo");
        f().setText("txtUSerPassWord", "pw");
        f().fire("cmdConnect2", Event::Click);
        ASSERT_TRUE(f().loginOk);
        fx.ui.boxes.clear();
    }

    void tick() { f().fire("SendMessage", Event::Timer); }
    FormModel& f() { return fx.form(); }

    /// The bytes of a payload file before it was compressed and hex-encoded for upload.
    std::string payloadOf(const std::string& file) {
        auto zipped = hexToBytes(test::readFile(fx.programDir / ("SMS/Pending/" + file)));
        EXPECT_TRUE(zipped.has_value());
        auto plain = inflateZlibStream(zipped.value_or(""), 1 << 24);
        EXPECT_TRUE(plain.has_value());
        return plain.value_or("");
    }

    std::vector<std::string> logLines() { return fx.logLines(); }

    test::GatewaySimProcess sim;
    AppFixture fx;
    std::unique_ptr<Connection> db;
};

TEST_F(DispatchTest, BatchSenderWritesRecordsUploadsAndDebitsTheParts) {
    login(100, "ALPHA");
    enqueue(*db, "+910123456789", std::string(160, 'a'));
    enqueue(*db, "9876543210", "a\r\n\r\nb" + std::string(155, 'x'));  // 161 characters
    enqueue(*db, "1234567890", Value());                               // discarded
    enqueue(*db, "5555555555", std::string(561, 'c'));
    tick();
    EXPECT_EQ(countExact(*db, "Sent"), 3);
    EXPECT_EQ(countExact(*db, "Discarded"), 1);
    EXPECT_EQ(f().sentSmsCount, 8);
    EXPECT_EQ(f().text("LblSent"), "Sent = 8");
    EXPECT_EQ(f().smsBalance, 92);
    EXPECT_EQ(f().text("lblSMS"), "Balance SMS: 92");
    EXPECT_TRUE(f().enabled("SendMessage"));

    const std::string id1 = "demo54321-261206-1504-1";
    const std::string id2 = "demo54321-261206-1504-2";
    const std::string id3 = "demo54321-261206-1504-3";
    EXPECT_EQ(payloadOf("demo_NWT.SMS"),
              "0123456789#" + id1 + "#TEXT\r\n" + std::string(160, 'a') + "\r\n\r\n" +
                  "9876543210#" + id2 + "#TEXT\r\na~b" + std::string(155, 'x') + "\r\n\r\n\r\n" +
                  "5555555555#" + id3 + "#TEXT\r\n" + std::string(561, 'c') + "\r\n");
    EXPECT_EQ(payloadOf("demo_TAG.SMS"), "ALPHA\r\nALPHA");
    auto row = test::query(*db, "select * from MessageQueue where Mobileno='9876543210'").at(0);
    EXPECT_EQ(row["MessageID"].toText(), id2);
    EXPECT_EQ(row["SMSType"].toText(), "TEXT");
    EXPECT_EQ(row["QDateTime"].toText(), "2026-12-06 15:04:05");
    EXPECT_EQ(row["DelDate"].toText(), "15:04:05");

    auto debits = sim.debits();
    ASSERT_EQ(debits.size(), 1u);
    EXPECT_EQ(debits.at(0)["parts"].num(), 8);
    EXPECT_TRUE(debits.at(0)["ok"].boolean());
    auto debitTarget = sim.requests().at(sim.requests().size() - 1)["target"].str();
    EXPECT_EQ(debitTarget.rfind("/Parlix/Debit.asp?UserId=demo&UserPassWord=pelurvintas&"
                                "DebitSMS=8&Flnm=20261206_150405125_",
                                0),
              0u)
        << debitTarget;
    auto lines = logLines();
    EXPECT_EQ(lines.back(), "Successfully Sent: 8 12/6/2026 3:04:05 PM");
    EXPECT_EQ(sim.messages().size(), 3u);
    EXPECT_TRUE(fx.ui.boxes.empty());
}

TEST_F(DispatchTest, ARunStartedWithinTheSameMinuteDoesNotRepeatMessageIds) {
    login(100, "ALPHA");
    enqueue(*db, "1234567890", "first run");
    tick();
    fx.start();
    ASSERT_TRUE(fx.load());
    f().setText("txtUserId", "demo");
    f().setText("txtUSerPassWord", "pw");
    f().fire("cmdConnect2", Event::Click);
    enqueue(*db, "1234567891", "second run");
    tick();
    EXPECT_EQ(countExact(*db, "Sent"), 2);
    EXPECT_EQ(db->scalar("select MessageID from MessageQueue where Mobileno='1234567891'").toText(),
              "demo54321-261206-1504-2");
}

TEST_F(DispatchTest, ShortNumbersAreDiscardedWithoutAnId) {
    login(100, "ALPHA");
    enqueue(*db, "12345", "short number");
    enqueue(*db, Value(), "no number");
    enqueue(*db, "98765#43210", "a number that would split the record");
    enqueue(*db, "98765\r\n43210", "a number that would break the payload");
    enqueue(*db, "1234567890", "fine");
    tick();
    EXPECT_EQ(countExact(*db, "Discarded"), 4);
    EXPECT_EQ(countExact(*db, "Sent"), 1);
    EXPECT_EQ(db->scalar("select count(*) from MessageQueue where MessageID is null").integer(), 4);
    EXPECT_EQ(sim.messages().size(), 1u);
}

TEST_F(DispatchTest, TheRowTheBalanceCannotPayForIsNeitherSentNorCounted) {
    login(10, "ALPHA");
    for (int i = 0; i < 3; ++i) {
        enqueue(*db, "123456789" + std::to_string(i), std::string(561, 'm'));
    }
    tick();
    EXPECT_EQ(countExact(*db, "Sent"), 2);
    EXPECT_EQ(countExact(*db, "Queued"), 1);
    EXPECT_EQ(f().sentSmsCount, 10);
    EXPECT_EQ(f().messageSerial, 2);
    EXPECT_EQ(sim.debits().at(0)["parts"].num(), 10);
    EXPECT_EQ(sim.messages().size(), 2u);
    ASSERT_EQ(fx.ui.boxes.size(), 1u);
    EXPECT_EQ(fx.ui.boxes[0].text, "SMS balance zero Send only 10 SMS");
    EXPECT_EQ(fx.ui.boxes[0].title, "Parlix");
    EXPECT_EQ(f().smsBalance, 0);
}

TEST_F(DispatchTest, BalanceEqualToThePartsStillWarns) {
    login(8, "");
    enqueue(*db, "1234567890", std::string(561, 'm'));
    enqueue(*db, "1234567891", std::string(300, 'm'));
    tick();
    EXPECT_EQ(countExact(*db, "Sent"), 2);
    ASSERT_EQ(fx.ui.boxes.size(), 1u);
    EXPECT_EQ(fx.ui.boxes[0].text, "SMS balance zero Send only 8 SMS");
}

TEST_F(DispatchTest, TwoThousandPartsEndABatchAndTheLastMessageMayPassIt) {
    login(100000, "ALPHA");
    db->beginTrans();
    for (int i = 0; i < 1999; ++i) {
        enqueue(*db, "1234567890", "m");
    }
    enqueue(*db, "1234567890", std::string(561, 'x'));
    enqueue(*db, "1234567890", "beyond the query's 2000 rows");
    db->commitTrans();
    tick();
    EXPECT_EQ(sim.debits().at(0)["parts"].num(), 2004);
    EXPECT_EQ(countExact(*db, "Sent"), 2000);
    EXPECT_EQ(countExact(*db, "Queued"), 1);
    std::string payload = payloadOf("demo_NWT.SMS");
    EXPECT_EQ(payload.substr(payload.size() - 5), "xxx\r\n");  // the query's last row

    // A stop before the query's end: the next row is left queued, after one more separator.
    db->execute("update MessageQueue set Status='Done'");
    db->beginTrans();
    for (int i = 0; i < 401; ++i) {
        enqueue(*db, "1234567890", std::string(561, 'y'));
    }
    db->commitTrans();
    tick();
    EXPECT_EQ(sim.debits().at(1)["parts"].num(), 2000);
    EXPECT_EQ(countExact(*db, "Queued"), 1);
    payload = payloadOf("demo_NWT.SMS");
    EXPECT_EQ(payload.substr(payload.size() - 7), "yyy\r\n\r\n");
}

TEST_F(DispatchTest, EveryRowDiscardedMeansNoUploadAndNoDebit) {
    login(100, "");
    enqueue(*db, "1234567890", "");
    enqueue(*db, "1234567890", Value());
    tick();
    EXPECT_EQ(countExact(*db, "Discarded"), 2);
    EXPECT_TRUE(sim.debits().array().empty());
    EXPECT_EQ(logLines().back(), "Sent: Failed 0 12/6/2026 3:04:05 PM");
}

TEST_F(DispatchTest, SingleFileSenderTakesItsBatchSizeAndWritesNumbersAsTheyAre) {
    login(1000, "");
    db->beginTrans();
    enqueue(*db, Value(), "no number");
    enqueue(*db, "12345", "short");
    for (int i = 0; i < 148; ++i) {
        enqueue(*db, "1234567890", std::string("m").append(std::to_string(i)));
    }
    db->commitTrans();
    tick();
    EXPECT_EQ(f().singleBatchSize, 50);
    EXPECT_EQ(logLines()[logLines().size() - 4], "Records found - 150");
    EXPECT_EQ(countExact(*db, "Sent"), 50);
    std::string payload = payloadOf("demo_NWM.SMS");
    EXPECT_EQ(payload.rfind("#demo54321-261206-1504-1#TEXT\r\nno number\r\n12345#demo54321-", 0),
              0u)
        << payload.substr(0, 80);
    EXPECT_EQ(payload.find("\r\n\r\n"), std::string::npos);
    EXPECT_EQ(db->scalar("select QDateTime from MessageQueue where Mobileno='12345'").toText(),
              "2026-12-06");
}

TEST_F(DispatchTest, RefusedDebitRequeuesBatchRowsButMarksSingleFileRowsDelSent) {
    login(100, "ALPHA");
    sim.setFaults("refuse_debit=1");
    enqueue(*db, "1234567890", "one");
    tick();
    EXPECT_EQ(countExact(*db, "Queued"), 1);
    EXPECT_EQ(logLines().back(), "Sent: Faile 1 12/6/2026 3:04:05 PM");

    f().setText("TXT_SENDERID", "  ");
    tick();
    EXPECT_EQ(countExact(*db, "DelSent"), 1);
    EXPECT_EQ(logLines().back(),
              "Message Sent but Balance not Deducted 1 , Contect to your vendor 12/6/2026 3:04:05 "
              "PM");
}

TEST_F(DispatchTest, RefusedUploadPutsTheRowsBack) {
    login(100, "ALPHA");
    sim.setFaults("refuse_piece=1");
    enqueue(*db, "1234567890", "one");
    tick();
    EXPECT_EQ(countExact(*db, "Queued"), 1);
    ASSERT_FALSE(fx.ui.boxes.empty());
    for (const test::ShownBox& box : fx.ui.boxes) {
        EXPECT_EQ(box.text, "Send Fail!");  // the header's upload and the messages' each
    }
    EXPECT_TRUE(sim.debits().array().empty());
}

TEST_F(DispatchTest, AnUploadThatTimesOutIsLoggedAndTheTickGoesOn) {
    login(100, "ALPHA", {1000, 1500});
    sim.setFaults("server=1&delay_ms=3000&path=/Parlix/PostDataZSM.ASP");
    enqueue(*db, "1234567890", "one");
    tick();
    EXPECT_EQ(countExact(*db, "Queued"), 1);
    EXPECT_EQ(countExact(*db, "Read"), 0);
    EXPECT_TRUE(f().enabled("SendMessage"));
    EXPECT_NE(f().text("txt_msg").find("Dispatch error: "), std::string::npos);
}

TEST_F(DispatchTest, ADebitThatFailsInTransitCountsTheUploadedRowsAsSent) {
    login(100, "ALPHA");
    sim.setFaults("server=1&cut=1&path=/Parlix/Debit.asp");
    enqueue(*db, "1234567890", "one");
    tick();
    EXPECT_EQ(countExact(*db, "DelSent"), 1);
    EXPECT_EQ(sim.messages().size(), 1u);
    EXPECT_TRUE(f().enabled("SendMessage"));
}

TEST_F(DispatchTest, ADatabaseWriteThatFailsLeavesEveryRowQueued) {
    login(100, "ALPHA");
    enqueue(*db, "1234567890", "one");
    enqueue(*db, "1234567891", "two");
    db->execute(
        "CREATE TRIGGER refuse BEFORE UPDATE OF MessageID ON MessageQueue "
        "WHEN NEW.Mobileno='1234567891' BEGIN SELECT RAISE(ABORT, 'disk full'); END");
    tick();
    EXPECT_EQ(countExact(*db, "Queued"), 2);
    EXPECT_TRUE(f().enabled("SendMessage"));
    EXPECT_NE(logLines().back().find("disk full"), std::string::npos) << logLines().back();
    EXPECT_TRUE(sim.messages().array().empty());
}

TEST(DispatchChoice, BatchSizeFollowsTheQueuedCount) {
    for (auto [rows, size] : {std::pair{40, 40}, {100, 100}, {101, 1}, {150, 50}, {6000, 4900}}) {
        SCOPED_TRACE(rows);
        AppFixture fx;
        auto db = fx.makeDatabase();
        db->beginTrans();
        for (int i = 0; i < rows; ++i) {
            enqueue(*db, "1234567890", "m");
        }
        db->commitTrans();
        ASSERT_TRUE(fx.load());
        fx.form().smsBalance = 10;
        fx.form().setText("txtUserId", "u");
        fx.form().setText("txtUSerPassWord", "p");
        fx.form().fire("SendMessage", Event::Timer);
        EXPECT_EQ(fx.form().singleBatchSize, size);
        EXPECT_NE(fx.form().text("txt_msg").find("Records found - " +
                                                 std::to_string(std::min(rows, 5000))),
                  std::string::npos);
        EXPECT_TRUE(fx.form().enabled("SendMessage"));
    }
}

TEST(DispatchChoice, NoBalanceMeansNoQueryAndConnectEnabled) {
    AppFixture fx;
    auto db = fx.makeDatabase();
    enqueue(*db, "1234567890", "m");
    ASSERT_TRUE(fx.load());
    fx.form().setEnabled("cmdConnect2", false);
    fx.form().fire("SendMessage", Event::Timer);
    EXPECT_TRUE(fx.form().enabled("cmdConnect2"));
    EXPECT_EQ(fx.form().text("txt_msg").find("Records found"), std::string::npos);
    EXPECT_TRUE(fx.form().enabled("SendMessage"));
}

TEST(DispatchChoice, LowerCaseSuccessIsAFailedDebit) {
    AppFixture fx;
    fx.config.serverHosts[0] = "gw.test";
    auto db = fx.makeDatabase();
    enqueue(*db, "1234567890", "m");
    ASSERT_TRUE(fx.load());
    FormModel& f = fx.form();
    f.setText("txtUserId", "u");
    f.setText("txtUSerPassWord", "p");
    f.smsBalance = 5;
    fx.transfer.replies = {"Server Connected", "logonyes||5", "success"};
    fx.uploader.responder = [](const test::FakeHttpClient::Request& r) {
        return r.url.find("Status=1") != std::string::npos ? "complete" : "done";
    };
    f.fire("SendMessage", Event::Timer);
    EXPECT_EQ(countExact(*db, "DelSent"), 1);
    EXPECT_NE(fx.transfer.requests.back().url.find("&Flnm=20261206_150405125_"), std::string::npos);
    EXPECT_EQ(fx.transfer.requests.back().url.find("_NWM"), std::string::npos);
}

TEST(DispatchChoice, ATickGoesOnAfterAnOutsideFailureButNeverSwallowsALogicError) {
    AppFixture fx;
    ASSERT_TRUE(fx.load());
    FormModel& f = fx.form();
    Login login(f, fx.app->environment());
    std::function<void()> reports = [] { throw DbError(kDbNotOpen, "closed"); };
    DispatchTick tick(f, fx.app->environment(), login, [&] { reports(); });
    f.setValue("Chk_DownloadDR", 1);
    f.drAllowed = true;
    tick.SendMessage_Timer();
    EXPECT_NE(f.text("txt_msg").find("Delivery reports: closed"), std::string::npos);
    EXPECT_TRUE(f.enabled("SendMessage"));
    reports = [&] { f.setText("txtNoSuchBox", ""); };
    EXPECT_THROW(tick.SendMessage_Timer(), std::out_of_range);
}

// The batch marker is written just before the last piece of the message file and goes when the
// rows are settled; an Exit before it puts the rows back, an Exit after it marks them DelSent.
TEST(DispatchChoice, TheBatchMarkerDecidesWhatAnExitOrAFailedMarkerLeaves) {
    enum class Fault { None, MarkerUnwritable, ExitBetweenPieces, ExitDuringDebit };
    struct Case {
        const char* label;
        Fault fault;
        const char* status;
        bool lastPiecePosted;
    };
    const Case cases[] = {{"no fault", Fault::None, "Sent", true},
                          {"marker cannot be written", Fault::MarkerUnwritable, "Queued", false},
                          {"Exit between pieces", Fault::ExitBetweenPieces, "Queued", false},
                          {"Exit during the debit", Fault::ExitDuringDebit, "DelSent", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        AppFixture fx;
        fx.config.serverHosts[0] = "gw.test";
        auto db = fx.makeDatabase();
        std::mt19937 rng(3);
        for (int i = 0; i < 40; ++i) {  // text that hardly compresses: several pieces
            std::string text;
            for (int k = 0; k < 150; ++k) {
                text += static_cast<char>('a' + rng() % 26);
            }
            enqueue(*db, "98765432" + std::to_string(10 + i), text);
        }
        ASSERT_TRUE(fx.load());
        FormModel& f = fx.form();
        f.setText("txtUserId", "u");
        f.setText("txtUSerPassWord", "p");
        f.setText("TXT_SENDERID", "ALPHA");
        f.smsBalance = 1000;
        const auto marker = fx.programDir / "InFlight.txt";
        if (c.fault == Fault::MarkerUnwritable) {
            std::filesystem::create_directories(fx.programDir / "InFlight.txt_new");
        }
        bool markerAtLastPiece = false;
        bool lastPiecePosted = false;
        int pieces = 0;
        fx.uploader.responder = [&](const test::FakeHttpClient::Request& r) {
            bool last = r.url.find("Status=1") != std::string::npos;
            if (r.url.find("_NWT") != std::string::npos && !last && ++pieces == 2 &&
                c.fault == Fault::ExitBetweenPieces) {
                f.fire("cmdexit2", Event::Click);
            }
            if (last && r.url.find("_NWT") != std::string::npos) {
                markerAtLastPiece = std::filesystem::exists(marker);
                lastPiecePosted = true;
            }
            return last ? "complete" : "done";
        };
        fx.transfer.replies = {"Server Connected", "logonyes||1000", "Server Connected",
                               "logonyes||1000"};
        fx.transfer.responder = [&](const test::FakeHttpClient::Request& r) -> std::string {
            EXPECT_NE(r.url.find("Debit.asp"), std::string::npos);
            EXPECT_TRUE(std::filesystem::exists(marker));
            if (c.fault == Fault::ExitDuringDebit) {
                f.fire("cmdexit2", Event::Click);
            }
            return "Success";
        };
        f.fire("cmdConnect2", Event::Click);
        ASSERT_TRUE(f.loginOk);
        try {
            f.fire("SendMessage", Event::Timer);
        } catch (const test::ProgramEnded&) {
            EXPECT_TRUE(c.fault == Fault::ExitBetweenPieces || c.fault == Fault::ExitDuringDebit);
        }
        EXPECT_EQ(countExact(*db, c.status), 40);
        EXPECT_EQ(lastPiecePosted, c.lastPiecePosted);
        EXPECT_EQ(markerAtLastPiece, c.lastPiecePosted);
        EXPECT_FALSE(std::filesystem::exists(marker));
        EXPECT_GT(pieces, 1);
    }
}

}  // namespace
}  // namespace parlix
