#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <thread>

#include "db/db_error.h"
#include "dispatch/dispatch_tick.h"
#include "login/login.h"
#include "support/app_fixture.h"
#include "support/queue_db.h"
#include "sys/folder_lock.h"
#include "transport/hex.h"
#include "transport/zlib_codec.h"

namespace parlix {
namespace {

using test::countExact;
using test::enqueue;
using Request = test::FakeHttpClient::Request;

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

/// The window logic on a queue database, logged in; the fake clients stand for the gateway:
/// every piece is taken, a login gives `balance` and every debit succeeds.
class DispatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        fx.config.serverHosts[0] = "gw.test";
        db = fx.makeDatabase();
        db->execute("UPDATE ProxyConfig SET comport = '54321'");
        start();
    }

    /// A new run, with the gateway's answers as at first.
    void start() {
        fx.clock.current = test::FakeClock().current;
        fx.uploader.responder = [](const Request& r) {
            return has(r.url, "Status=1") ? "complete" : "done";
        };
        fx.transfer.responder = [this](const Request& r) -> std::string {
            return has(r.url, "ParlixChk")   ? checkReply
                   : has(r.url, "Logonchks") ? "logonyes||" + std::to_string(balance)
                                             : "Success";
        };
        fx.start();
        ASSERT_TRUE(fx.load());
        fx.logIn();  // a tick sends only with a balance
        fx.ui.boxes.clear();
    }
    void tick() { f().fire("SendMessage", Event::Timer); }
    FormModel& f() { return fx.form(); }

    /// A payload file as it was before it was compressed and hex-encoded for upload.
    std::string payloadOf(const std::string& file) {
        auto zipped = hexToBytes(test::readFile(fx.programDir / ("SMS/Pending/" + file)));
        return inflateZlibStream(zipped.value_or(""), 1 << 24).value_or("unreadable");
    }
    void enqueueMany(int count, const std::string& text) {
        db->beginTrans();
        for (int i = 0; i < count; ++i) {
            enqueue(*db, "1234567890", text);
        }
        db->commitTrans();
    }
    std::string lastRequest() { return fx.transfer.requests.back().url; }

    test::AppFixture fx;
    std::unique_ptr<Connection> db;
    long balance = 100;
    std::string checkReply = "Server Connected";
};

TEST_F(DispatchTest, TheBatchSenderWritesRecordsUploadsAndDebitsThePartsAndTheSerialGoesOn) {
    f().setText("TXT_SENDERID", "ALPHA");
    enqueue(*db, "+910123456789", std::string(160, 'a'));
    enqueue(*db, "9876543210", "a\r\n\r\nb\xC2\xA0\xC3\xA9" + std::string(153, 'x'));  // 161
    enqueue(*db, "1234567890", "");                                                    // discarded
    enqueue(*db, "5555555555", std::string(561, 'c'));
    tick();
    EXPECT_EQ(countExact(*db, "Sent") * 10 + countExact(*db, "Discarded"), 31);
    EXPECT_EQ(fx.describe({"LblSent", "lblSMS"}), "LblSent=Sent = 8; lblSMS=Balance SMS: 92");
    const std::string id = "demo54321-261206-1504-";
    EXPECT_EQ(payloadOf("demo_NWT.SMS"), "0123456789#" + id + "1#TEXT\r\n" + std::string(160, 'a') +
                                             "\r\n\r\n9876543210#" + id + "2#TEXT\r\na~b~\xE9" +
                                             std::string(153, 'x') + "\r\n\r\n\r\n5555555555#" +
                                             id + "3#TEXT\r\n" + std::string(561, 'c') + "\r\n");
    EXPECT_EQ(payloadOf("demo_TAG.SMS"), "ALPHA\r\nALPHA");
    EXPECT_TRUE(fx.uploader.requests.at(0).url.ends_with("_TAG"));
    EXPECT_TRUE(
        lastRequest().starts_with("http://gw.test/Parlix/Debit.asp?UserId=demo&UserPassWord="
                                  "pelurvintas&DebitSMS=8&Flnm=20261206_150405125_"))
        << lastRequest();
    EXPECT_EQ(fx.logLines().back(), "Successfully Sent: 8 12/6/2026 3:04:05 PM");
    EXPECT_TRUE(fx.ui.boxes.empty());
    // Ids carry the minute: a run started within the same one goes on after the highest serial.
    // Without a sender id the single-file sender stamps the date alone.
    start();
    enqueue(*db, "1234567891", "second run");
    tick();
    EXPECT_EQ(db->scalar("SELECT group_concat(MessageID || SMSType || QDateTime || DelDate, ' ') "
                         "FROM MessageQueue WHERE rowid IN (2, 5)"),
              Value(id + "2TEXT2026-12-06 15:04:0515:04:05 " + id + "4TEXT2026-12-0615:04:05"));
}

// The batch sender needs ten characters of number; the single-file sender logs a batch that has
// nothing to upload, and takes its batch size and every other number as it is.
TEST_F(DispatchTest, ARowDiscardedIsDatedAndCarriesNoIdAndTheSingleFileSenderTakesAnyNumber) {
    f().setText("TXT_SENDERID", "ALPHA");
    enqueue(*db, "123456789", "nine digits");
    enqueue(*db, "1234567890", "ten digits");
    enqueue(*db, "12345#67890", "a # would split the record");
    tick();
    EXPECT_EQ(db->scalar("SELECT group_concat(Status || QDateTime || coalesce(MessageID, '')) FROM "
                         "MessageQueue"),
              Value("Discarded2026-12-06,Sent2026-12-06 15:04:05demo54321-261206-1504-1,"
                    "Discarded2026-12-06"));
    f().setText("TXT_SENDERID", "");
    enqueue(*db, Value(), "");
    enqueue(*db, "1#2", "split");
    fx.uploader.requests.clear();
    tick();
    EXPECT_EQ(countExact(*db, "Discarded"), 4);
    EXPECT_TRUE(fx.uploader.requests.empty());
    EXPECT_EQ(fx.logLines().back(), "Sent: Failed 0 12/6/2026 3:04:05 PM");
    enqueue(*db, Value(), "no number");
    enqueue(*db, "12345", "short");
    enqueueMany(148, "m");
    tick();
    EXPECT_EQ(countExact(*db, "Sent"), 1 + 50);
    const std::string payload = payloadOf("demo_NWM.SMS");
    EXPECT_TRUE(
        payload.starts_with("#demo54321-261206-1504-2#TEXT\r\nno number\r\n12345#demo54321-"))
        << payload.substr(0, 80);
    EXPECT_TRUE(fx.uploader.requests.back().url.ends_with("_NWM"));
}

TEST_F(DispatchTest, TheRowTheBalanceCannotPayForIsNeitherSentNorCounted) {
    balance = 10;
    enqueueMany(3, std::string(561, 'm'));
    tick();
    EXPECT_EQ(countExact(*db, "Sent") * 10 + countExact(*db, "Queued"), 21);
    EXPECT_EQ(f().sentSmsCount + f().messageSerial + f().smsBalance, 12);
    EXPECT_TRUE(has(lastRequest(), "DebitSMS=10&"));
    ASSERT_EQ(fx.ui.boxes.size(), 1u);
    EXPECT_EQ(fx.ui.boxes[0].text, "SMS balance zero Send only 10 SMS");
    balance = 7;  // exactly what the rows need: they go, with the warning
    enqueue(*db, "1234567894", std::string(161, 'm'));
    start();
    tick();
    EXPECT_EQ(countExact(*db, "Sent"), 4);
    EXPECT_EQ(fx.ui.boxes.back().text, "SMS balance zero Send only 7 SMS");
}

TEST_F(DispatchTest, TwoThousandPartsEndABatchAndTheLastMessageMayPassIt) {
    balance = 100000;
    f().setText("TXT_SENDERID", "ALPHA");
    enqueueMany(1999, "m");
    enqueue(*db, "1234567890", std::string(561, 'x'));
    enqueue(*db, "1234567890", "beyond the query's 2000 rows");
    tick();
    EXPECT_TRUE(has(lastRequest(), "DebitSMS=2004&"));
    EXPECT_EQ(countExact(*db, "Sent") * 10 + countExact(*db, "Queued"), 20001);
    EXPECT_TRUE(payloadOf("demo_NWT.SMS").ends_with("xxx\r\n"));  // the query's last row
    // A stop before the query's end: the next row stays queued, after one more separator.
    db->execute("UPDATE MessageQueue SET Status = 'Done'");
    enqueueMany(401, std::string(561, 'y'));
    tick();
    EXPECT_TRUE(has(lastRequest(), "DebitSMS=2000&"));
    EXPECT_EQ(countExact(*db, "Queued"), 1);
    EXPECT_TRUE(payloadOf("demo_NWT.SMS").ends_with("yyy\r\n\r\n"));
}

TEST_F(DispatchTest, ADatabaseWriteFailingInsideATickLeavesEveryRowQueuedAndSendsNothing) {
    f().setText("TXT_SENDERID", "ALPHA");
    enqueue(*db, "1234567890", "one");
    enqueue(*db, "1234567891", "two");
    db->execute(
        "CREATE TRIGGER refuse BEFORE UPDATE OF MessageID ON MessageQueue "
        "WHEN NEW.Mobileno = '1234567891' BEGIN SELECT RAISE(ABORT, 'disk full'); END");
    tick();
    EXPECT_EQ(countExact(*db, "Queued"), 2);
    EXPECT_TRUE(fx.logLines().back().starts_with("Dispatch error: disk full"));
    EXPECT_TRUE(f().enabled("SendMessage") && fx.uploader.requests.empty());
}

TEST_F(DispatchTest, TheBatchSizeFollowsTheQueuedCountAndNoBalanceMeansNoQuery) {
    checkReply = "down";  // every login fails: only the choice is seen
    for (auto [rows, size] : {std::pair{40, 40}, {100, 100}, {101, 1}, {150, 50}, {6000, 4900}}) {
        SCOPED_TRACE(rows);
        db->execute("DELETE FROM MessageQueue");
        enqueueMany(rows, "m");
        f().smsBalance = 10;
        tick();
        EXPECT_EQ(f().singleBatchSize, size);
        EXPECT_TRUE(
            has(f().text("txt_msg"), "Records found - " + std::to_string(std::min(rows, 5000))));
    }
    f().smsBalance = 0;
    f().setEnabled("cmdConnect2", false);
    const size_t lines = fx.logLines().size();
    fx.clock.sleepMs(61000);
    tick();
    EXPECT_TRUE(f().enabled("cmdConnect2"));
    EXPECT_EQ(fx.logLines().size(), lines);
    EXPECT_EQ(f().text("Label3"), "03:05:07:PM");  // every tick shows its time
}

TEST_F(DispatchTest, ATickGoesOnAfterAnOutsideFailureButNeverSwallowsALogicError) {
    Login login(f(), fx.app->environment());
    std::function<void()> reports = [] { throw DbError(kDbNotOpen, "closed"); };
    DispatchTick tick(f(), fx.app->environment(), login, [&] { reports(); });
    f().setValue("Chk_DownloadDR", 1);
    f().drAllowed = true;
    tick.SendMessage_Timer();
    EXPECT_EQ(fx.logLines().back(), "Delivery reports: closed");
    EXPECT_TRUE(f().enabled("SendMessage"));
    reports = [&] { f().setText("txtNoSuchBox", ""); };
    EXPECT_THROW(tick.SendMessage_Timer(), std::out_of_range);
    f().setValue("Chk_DownloadDR", 0);
    enqueue(*db, "1234567890", "one");
    fx.uploader.responder = [&](const Request&) -> std::string { return f().text("NoSuchBox"); };
    EXPECT_THROW(tick.SendMessage_Timer(), std::out_of_range);
}

// The marker is written just before the last piece of the message file and goes once the rows
// are settled: rows whose last piece never went are queued again, an Exit after it marks them
// DelSent.
TEST_F(DispatchTest, TheBatchMarkerDecidesWhatAnExitOrAFailureLeaves) {
    // clang-format off
    const std::pair<std::string, const char*> cases[] = {
        {"none", "Sent"},
        {"marker unwritable", "Queued"},
        {"exit between pieces", "Queued"},
        {"last piece cut", "DelSent"},
        {"exit during debit", "DelSent"}};
    // clang-format on
    const auto marker = fx.programDir / "InFlight.txt";
    std::mt19937 rng(3);
    std::string text(6000, ' ');  // text that hardly compresses: several pieces
    std::generate(text.begin(), text.end(), [&] { return static_cast<char>('a' + rng() % 26); });
    for (const auto& [fault, status] : cases) {
        SCOPED_TRACE(fault);
        db->execute("DELETE FROM MessageQueue");
        for (int i = 0; i < 40; ++i) {
            enqueue(*db, "98765432" + std::to_string(10 + i), text.substr(i * 150, 150));
        }
        start();
        f().setText("TXT_SENDERID", "ALPHA");
        std::filesystem::remove_all(marker.string() + "_new");
        if (fault == "marker unwritable") {
            std::filesystem::create_directories(marker.string() + "_new");
        }
        int pieces = 0;
        std::string lastPiece = "not posted";
        fx.uploader.responder = [&](const Request& r) {
            const bool last = has(r.url, "Status=1");
            if (has(r.url, "_NWT") && !last && ++pieces == 2 && fault == "exit between pieces") {
                f().fire("cmdexit2", Event::Click);
            }
            if (has(r.url, "_NWT") && last) {
                lastPiece = std::filesystem::exists(marker) ? "posted, marker" : "posted";
                if (fault == "last piece cut") {
                    throw TransferError("transfer to gw.test failed: connection reset", 56);
                }
            }
            return last ? "complete" : "done";
        };
        fx.transfer.responder = [&, answer = fx.transfer.responder](const Request& r) {
            if (has(r.url, "Debit.asp") && fault == "exit during debit") {
                f().fire("cmdexit2", Event::Click);  // DelSent only with the marker there
            }
            return answer(r);
        };
        if (fault.starts_with("exit")) {
            EXPECT_THROW(tick(), test::ProgramEnded);
        } else {
            tick();
        }
        EXPECT_EQ(countExact(*db, status), 40);
        EXPECT_EQ(lastPiece, status != std::string("Queued") ? "posted, marker" : "not posted");
        EXPECT_FALSE(std::filesystem::exists(marker));
        EXPECT_GT(pieces, 1);
    }
}

// Settling a batch can fail while another writer holds the write lock past the busy timeout:
// the batch keeps its marker and its rows, the next tick takes nothing until they are settled,
// and a kill in the batch after it loses none of that batch's rows.
TEST_F(DispatchTest, ABatchThatCannotBeSettledHoldsBackTheNextOneAndKeepsItsMarker) {
    fx.config.busyTimeoutMs = 50;
    balance = 3;  // the first batch takes three rows, the other forty wait
    start();
    f().setText("TXT_SENDERID", "ALPHA");
    enqueueMany(43, "m");
    bool lockOnDebit = true;
    fx.transfer.responder = [&, answer = fx.transfer.responder](const Request& r) {
        if (has(r.url, "Debit.asp") && lockOnDebit) {
            db->beginTrans();  // held until the test commits
        }
        return answer(r);
    };
    tick();
    const auto marker = fx.programDir / "InFlight.txt";
    EXPECT_EQ(countExact(*db, "Read"), 3);
    EXPECT_TRUE(has(test::readFile(marker), "keys=1-3\n"));
    EXPECT_EQ(fx.logLines().back(), "Dispatch error: the rows of the batch could not be settled");
    balance = 100;
    f().smsBalance = 100;
    const size_t posted = fx.uploader.requests.size();
    tick();
    EXPECT_EQ(fx.uploader.requests.size(), posted);
    EXPECT_TRUE(std::filesystem::exists(marker));
    db->commitTrans();
    lockOnDebit = false;
    // The rows are settled now, but a marker that cannot be removed still holds the next back.
    std::filesystem::remove(marker);
    std::filesystem::create_directories(marker / "in the way");
    tick();
    EXPECT_EQ(fx.uploader.requests.size(), posted);
    EXPECT_EQ(countExact(*db, "Sent"), 3);
    std::filesystem::remove_all(marker);
    fx.uploader.responder = [&](const Request& r) -> std::string {
        if (has(r.url, "_TAG")) {
            throw test::ProgramEnded();  // killed before the new batch's message file goes
        }
        return "done";
    };
    EXPECT_THROW(tick(), test::ProgramEnded);
    EXPECT_EQ(countExact(*db, "Sent") * 100 + countExact(*db, "Read"), 340);
    start();
    EXPECT_EQ(countExact(*db, "Sent") * 100 + countExact(*db, "Queued"), 340);
}

// Another writer changes queued rows while it holds the write lock that the tick needs to take
// its batch: the tick waits, and sends only the rows still queued once it has the lock.
TEST_F(DispatchTest, ARowAnOutsideWriterChangedWhileTheBatchWasTakenIsNotSent) {
    enqueueMany(5, "m");
    db->beginTrans();
    db->execute("UPDATE MessageQueue SET Status = 'Hold' WHERE ID IN (2, 4)");
    std::jthread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        db->commitTrans();
    });
    tick();  // counts five rows, then waits for the lock to take the batch
    EXPECT_EQ(db->scalar("SELECT group_concat(Status) FROM (SELECT Status FROM MessageQueue "
                         "ORDER BY ID)"),
              Value("Sent,Hold,Sent,Hold,Sent"));
    EXPECT_TRUE(has(lastRequest(), "DebitSMS=3&"));
}

// Two programs on one folder: the one that holds the folder sends, the other waits and says so,
// touches no row, and sends once the first has stopped.
TEST_F(DispatchTest, ASecondSenderOnTheFolderWaitsUntilTheFirstStops) {
    AppEnvironment env = fx.app->environment();
    FolderLock secondLock(fx.programDir.str());
    SendMsg second(AppEnvironment{env.programFolder, env.ownName, env.installation, env.ui,
                                  env.clock, env.random, env.processes, env.ipTable, env.transfer,
                                  env.uploader, env.settings, env.registry, secondLock,
                                  env.config});
    second.Form_Load();
    FormModel& s = second.form();
    s.setText("txtUserId", "demo");
    s.setText("txtUSerPassWord", "pw");
    s.fire("cmdConnect2", Event::Click);
    enqueueMany(5, "m");
    db->execute("UPDATE MessageQueue SET Status = 'Read' WHERE ID = 1");  // the first's batch
    for (int i = 0; i < 2; ++i) {
        s.fire("SendMessage", Event::Timer);
    }
    EXPECT_EQ(countExact(*db, "Read") * 10 + countExact(*db, "Queued"), 14);
    EXPECT_TRUE(fx.uploader.requests.empty());
    const std::string waits = "Another Parlix program sends from " + fx.programDir.str() +
                              "; this one sends once that one stops\r\n";
    const std::string log = s.text("txt_msg");
    EXPECT_EQ(log.find(waits), log.rfind(waits));
    EXPECT_NE(log.find(waits), std::string::npos);
    fx.app.reset();  // the first stops
    fx.sendLock.reset();
    s.fire("SendMessage", Event::Timer);
    EXPECT_EQ(countExact(*db, "Sent"), 5);
}

}  // namespace
}  // namespace parlix
