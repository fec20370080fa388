// The window's logic ticked against gateway-sim over real HTTP on loopback: gateway faults for
// each sender, hostile queue rows and a full disk. After every tick the dispatch timer runs
// again and no row is left "Read"; once a fault clears, every message reaches the gateway.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <tuple>

#include "db/file_queue.h"
#include "reliability_support.h"
#include "support/app_fixture.h"

namespace parlix::reliability {
namespace {

class LiveDispatchTest : public ::testing::Test {
protected:
    /// Starts the program on a fresh queue and logs in. Servers 1 to 5 are gateway-sim's, with
    /// timeouts that make a slower reply cost little time. Sender ids select the batch sender,
    /// none the single-file sender.
    void startLoggedIn(const std::string& senderIds = "ALPHA") {
        sim.addAccount({"demo", "pw", 1000000, false, "", senderIds});
        fx.useGateway(sim);
        fx.useRealHttp({1000, 1500});
        db = fx.makeDatabase();
        queue = std::make_unique<FileQueue>(*db, fx.programDir.str());
        fx.start();
        ASSERT_TRUE(fx.load());
        fx.logIn();
        ASSERT_TRUE(f().loginOk);
    }
    FormModel& f() { return fx.form(); }
    /// Ticks, a second after the tick before so that batch names and times move on, until no row
    /// waits: the number of ticks it took, or -1 after `maxTicks`.
    int drain(int maxTicks) {
        for (int i = 1; i <= maxTicks; ++i) {
            fx.clock.sleepMs(1000);
            f().fire("SendMessage", Event::Timer);
            EXPECT_TRUE(f().enabled("SendMessage")) << "the timer stayed stopped";
            EXPECT_EQ(test::countExact(*db, "Read"), 0) << "rows left taken for sending";
            if (waiting(*queue) == 0) {
                return i;
            }
        }
        return -1;
    }
    Audit auditOf(const std::string& prefix) { return audit(*queue, sim.messages(), prefix); }
    /// Entries of the activity log that hold `part`.
    long logged(const std::string& part) {
        const std::vector<std::string> log = fx.logLines();
        return std::count_if(log.begin(), log.end(), [&](const std::string& entry) {
            return entry.find(part) != std::string::npos;
        });
    }

    test::GatewaySimProcess sim;
    test::AppFixture fx;
    std::unique_ptr<Connection> db;
    std::unique_ptr<MessageQueue> queue;
};

struct Fault {
    const char* label;
    std::string query;  // for the server in use, or every server when allServers
    bool allServers;
    const char* status[2];  // of the rows after the faulty tick: batch sender, single-file sender
    std::string says[2];    // a log entry or a message box of that tick
    int copies[2];          // copies of each message the gateway may receive in all
};

const std::string kRequeued = "Dispatch error: 100 messages back in the queue";
const std::string kReached =
    "Dispatch error: 100 messages may have reached the gateway, marked DelSent";

// clang-format off
const Fault kFaults[] = {
    {"every server refusing", "refuse=1", true, {"Queued", "Queued"}, {"Server: NOT Connected", "Server: NOT Connected"}, {1, 1}},
    {"an error page from the server check", "check_reply=%3Chtml%3E%FF503", false, {"Queued", "Queued"}, {"Server: NOT Connected", "Server: NOT Connected"}, {1, 1}},
    {"a server check slower than the timeout", "delay_ms=2500&path=/Parlix/ParlixChk.asp", false, {"Queued", "Queued"}, {"Server: NOT Connected", "Server: NOT Connected"}, {1, 1}},
    {"a refused login", "reply=logonno&path=/Parlix/Logonchks.asp", false, {"Queued", "Queued"}, {"Login: Incorrect!", "Login: Incorrect!"}, {1, 1}},
    {"an unreadable login reply", "garbage=1&path=/Parlix/Logonchks.asp", false, {"Queued", "Queued"}, {"Login: Fail!", "Login: Fail!"}, {1, 1}},
    {"a login reply past what the client takes", "reply=logonyes%7C%7C75&reply_bytes=16777217&path=/Parlix/Logonchks.asp", false, {"Queued", "Queued"}, {"Login: Fail!", "Login: Fail!"}, {1, 1}},
    {"piece 3 refused", "refuse_piece=3", false, {"Queued", "Queued"}, {"Send Fail!", "Send Fail!"}, {1, 1}},
    {"the connection cut mid-upload", "cut=1&path=/Parlix/PostDataZSM.ASP", false, {"Queued", "Queued"}, {kRequeued, kRequeued}, {1, 1}},
    {"an upload slower than the timeout", "delay_ms=2500&path=/Parlix/PostDataZSM.ASP", false, {"Queued", "Queued"}, {kRequeued, kRequeued}, {1, 1}},
    // The gateway has the whole payload: a lost reply to the last piece never sends it again,
    // while a reply that refuses it does.
    {"the last piece's reply cut", "cut=1&match=Status%3D1*_NW&path=/Parlix/PostDataZSM.ASP", false, {"DelSent", "DelSent"}, {kReached, kReached}, {1, 1}},
    {"the last piece's reply past the timeout", "delay_ms=2500&match=Status%3D1*_NW&path=/Parlix/PostDataZSM.ASP", false, {"DelSent", "DelSent"}, {kReached, kReached}, {1, 1}},
    {"a refusing final upload reply", "complete_reply=error", false, {"Queued", "Queued"}, {"Send Fail!", "Send Fail!"}, {2, 2}},
    {"a refused debit", "refuse_debit=1", false, {"Queued", "DelSent"}, {"Sent: Faile ", "Message Sent but Balance not Deducted "}, {2, 1}},
    {"a debit cut in transit", "cut=1&path=/Parlix/Debit.asp", false, {"DelSent", "DelSent"}, {kReached, kReached}, {1, 1}},
    {"a debit slower than the timeout", "delay_ms=2500&path=/Parlix/Debit.asp", false, {"DelSent", "DelSent"}, {kReached, kReached}, {1, 1}},
};
// clang-format on

class GatewayFaultTable : public LiveDispatchTest, public ::testing::WithParamInterface<bool> {};

TEST_P(GatewayFaultTable, EachFaultLeavesTheRowsAsTheTableSaysAndEveryMessageGoesOnceItClears) {
    const size_t s = GetParam() ? 0 : 1;
    startLoggedIn(GetParam() ? "ALPHA" : "");
    for (const Fault& fault : kFaults) {
        SCOPED_TRACE(fault.label);
        const std::string prefix = "f" + std::to_string(&fault - kFaults) + "-";
        sim.post("/_sim/reset");          // what the gateway holds is this row's alone
        enqueueNew(*queue, prefix, 100);  // several pieces: a refused third piece comes mid-upload
        for (int server = 1; server <= 5; ++server) {
            if (fault.allServers || server == f().serverNo) {
                sim.setFaults("server=" + std::to_string(server) + "&" + fault.query);
            }
        }
        fx.ui.boxes.clear();
        f().setText("txt_msg", "");
        drain(1);
        const std::string& says = fault.says[s];
        EXPECT_TRUE(logged(says) == 1 || (!fx.ui.boxes.empty() && fx.ui.boxes.back().text == says))
            << says;
        EXPECT_EQ(auditOf(prefix).status(fault.status[s]), 100);

        sim.post("/_sim/faults/clear");
        if (f().smsBalance == 0) {
            f().fire("cmdConnect2", Event::Click);
        }
        EXPECT_GE(drain(3), 1);
        EXPECT_EQ(auditOf(prefix).receivedDistinct, 100);
        EXPECT_LE(auditOf(prefix).duplicates, 100 * (fault.copies[s] - 1));
    }
}

INSTANTIATE_TEST_SUITE_P(BothSenders, GatewayFaultTable, ::testing::Bool(), [](const auto& p) {
    return p.param ? "BatchSender" : "SingleFileSender";
});

TEST_F(LiveDispatchTest, EveryOddQueueRowIsSentAsWrittenOrLeftWithAClearStatus) {
    const std::string n = "9876543210";
    const std::string longText = "bq-long " + std::string(9992, 'x');
    const std::string sql = "bq-1 It's \"quoted\"; DROP TABLE MessageQueue; --";
    const std::string nul("bq-3 a\0b\0", 9);
    const struct {
        const char* label;
        Value mobile, message, status;
        Value after;           // the row's status once the queue is drained
        std::string received;  // the text the gateway receives; empty when nothing goes out
        std::string number = "9876543210";
    } cases[] = {
        // clang-format off
        {"quotes and SQL", n, sql, "Queued", "Sent", sql},
        {"NUL characters", n, nul, "Queued", "Sent", nul},
        {"CR, LF and both", n, "bq-4 a\r\nb\nc\rd\r\n\r\ne", "Queued", "Sent", "bq-4 a~b~c~d~e"},
        {"inside the code page", n, "bq-8 caf\u00E9 \u20AC \u00FC", "Queued", "Sent", "bq-8 caf\u00E9 \u20AC \u00FC"},
        {"10,000 characters", n, longText, "Queued", "Sent", longText},
        {"null text", n, Value(), "Queued", "Discarded", ""},
        {"null number", Value(), "bq-10 no number", "Queued", "Discarded", ""},
        {"a line break in the number", "98765\r\n43210", "bq-12 break", "Queued", "Discarded", ""},
        {"very long number", "+" + std::string(40, '1') + "0123456789", "bq-14 long", "Queued", "Sent", "bq-14 long", "0123456789"},
        {"letters for a number", "abcdefghijkl", "bq-15 letters", "Queued", "Sent", "bq-15 letters", "cdefghijkl"},
        {"null status", n, "bq-18 no status", Value(), Value(), ""},
        {"status with a trailing blank", n, "bq-19 blank", "Queued ", "Queued ", ""},
        {"a status of its own", n, "bq-20 held", "Hold", "Hold", ""},
        // clang-format on
    };
    startLoggedIn();
    for (const auto& rc : cases) {
        db->execute("INSERT INTO MessageQueue (Mobileno, Message, Status) VALUES (?, ?, ?)",
                    {rc.mobile, rc.message, rc.status});
    }
    EXPECT_EQ(drain(1), 1);
    std::map<std::string, std::string> byText;  // the number and id each text was received with
    for (const test::Json& m : sim.messages()) {
        byText[m.at("text").get<std::string>()] +=
            m.at("number").get<std::string>() + " " + m.at("messageId").get<std::string>();
    }
    std::int64_t id = 0;
    long sent = 0;
    for (const auto& rc : cases) {
        SCOPED_TRACE(rc.label);
        auto row = test::query(*db, "select * from MessageQueue where ID=?", {++id}).at(0);
        EXPECT_EQ(row["Status"], rc.after);
        EXPECT_EQ(row["Message"], rc.message) << "the row's text was changed";
        EXPECT_EQ(row["MessageID"].isNull(), rc.received.empty());
        if (!rc.received.empty()) {
            EXPECT_EQ(byText[rc.received], rc.number + " " + row["MessageID"].toText());
            ++sent;
        }
    }
    EXPECT_EQ(static_cast<long>(byText.size()), sent);
    // 10,000 characters are five parts; every other sent message one.
    EXPECT_EQ(sim.debits().at(0).at("parts").get<long long>(), sent - 1 + 5);
}

// The program folder, the database with it, is a 2 MB tmpfs that a file then fills.
TEST_F(LiveDispatchTest, AFullDiskFailsTheTickCleanlyAndSendingResumesOnceThereIsRoom) {
    const std::string folder = fx.programDir.str();
    if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=2m,mode=0700") != 0) {
        GTEST_SKIP() << "a small tmpfs cannot be mounted here: " << std::strerror(errno);
    }
    // Lazily: the program still holds the database open when the test ends.
    std::shared_ptr<void> unmount(nullptr, [&](void*) { ::umount2(folder.c_str(), MNT_DETACH); });
    startLoggedIn();
    enqueueNew(*queue, "full-", 200, 100);
    std::ofstream(folder + "/filler") << std::string(4 << 20, 'f');  // more than there is room for
    EXPECT_EQ(drain(1), -1);
    EXPECT_EQ(logged("Dispatch error: "), 1);
    EXPECT_EQ(auditOf("full-").status("Queued"), 200);
    EXPECT_TRUE(sim.messages().empty());

    std::filesystem::remove(folder + "/filler");
    EXPECT_EQ(drain(1), 1);
    const Audit a = auditOf("full-");
    EXPECT_EQ(std::tuple(a.status("Sent"), a.receivedDistinct, a.duplicates),
              std::tuple(200, 200, 0));
    EXPECT_EQ(integrityOf(folder + "/SMSDB.MDB"), "ok");
}

}  // namespace
}  // namespace parlix::reliability
