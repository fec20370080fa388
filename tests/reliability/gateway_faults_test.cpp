// Gateway faults met while the program ticks: servers down and back, error pages, refused
// logins, refused and cut uploads, slow replies, refused and failed debits, delivery-report
// faults. After every tick the timer runs again and no row is left "Read"; once the fault
// clears, every queued message reaches gateway-sim. Each case prints its figures.
//
// Long mode (PARLIX_RELIABILITY_LONG=1) changes nothing here: every case is deterministic.
#include <gtest/gtest.h>

#include "base/text.h"
#include "live_dispatch.h"
#include "support/queue_db.h"
#include "support/temp_dir.h"
#include "transport/gateway_url.h"

namespace parlix::reliability {
namespace {

std::string enc(const std::string& s) {
    return encodeQueryValue(s);
}

/// Requests gateway-sim answered on one path.
long requestsTo(test::GatewaySimProcess& sim, const std::string& path) {
    long n = 0;
    for (const test::JsonValue& r : sim.requests().array()) {
        n += iequals(r["path"].str(), path) ? 1 : 0;
    }
    return n;
}

using GatewayFaultTest = LiveDispatchTest;

TEST_F(GatewayFaultTest, EveryServerDownKeepsTheQueueUntilAServerComesBack) {
    startLoggedIn();
    enqueue("down-", 30);
    for (int s = 1; s <= 5; ++s) {
        sim.setFaults("server=" + std::to_string(s) + "&refuse=1");
    }
    tick();
    EXPECT_EQ(log->count("Server: NOT Connected"), 1);
    EXPECT_EQ(rowsWith("Queued"), 30);
    EXPECT_TRUE(f().serverAddress.empty());
    EXPECT_TRUE(f().enabled("cmdConnect2"));

    // With no server selected the next tick goes round the servers, two attempts each, for as
    // long as none answers. Server 3 comes back before the 25th attempt, the first on server 3
    // in the third round.
    int attempts = 0;
    long readWhileDown = 0;
    fx.clock.onSleep = [&](int ms) {
        if (ms != 500) {
            return;
        }
        ++attempts;
        readWhileDown += readRows();
        if (attempts == 25) {
            sim.setFaults("server=3&refuse=0");
        }
    };
    const int eventsBefore = fx.ui.doEventsCount;
    tick();
    fx.clock.onSleep = nullptr;
    figure("all servers down: check attempts until server 3 came back", attempts);
    figure("all servers down: window events served meanwhile", fx.ui.doEventsCount - eventsBefore);
    EXPECT_EQ(attempts, 25);
    EXPECT_GE(fx.ui.doEventsCount - eventsBefore, 2 * 24);
    EXPECT_EQ(readWhileDown, 0);
    EXPECT_EQ(f().serverNo, 3);
    EXPECT_EQ(fx.setting("PARLIX", "NO"), "3");

    Audit a = auditOf("down-");
    figures("all servers down, then server 3 back", a);
    EXPECT_EQ(a.status("Sent"), 30);
    EXPECT_EQ(a.receivedDistinct, 30);
    EXPECT_EQ(a.duplicates, 0);
    for (const test::JsonValue& m : sim.messages().array()) {
        EXPECT_EQ(m["server"].str(), "3");
    }
}

TEST_F(GatewayFaultTest, AnErrorPageFromTheServerCheckMovesOnToTheNextServer) {
    startLoggedIn();
    enqueue("page-", 20);
    const std::string page =
        "<html><head><title>503</title></head><body>Service Unavailable</body></html>";
    sim.setFaults("server=1&check_reply=" + enc(page));
    tick();
    EXPECT_EQ(log->count("Server: NOT Connected"), 1);
    EXPECT_EQ(test::readFile(fx.programDir / "LastErr.txt"), page);
    EXPECT_EQ(rowsWith("Queued"), 20);
    EXPECT_EQ(requestsTo(sim, "/Parlix/PostDataZSM.ASP"), 0);

    EXPECT_EQ(drain(1), 1);
    EXPECT_EQ(f().serverNo, 2);
    Audit a = auditOf("page-");
    figures("server check answering an error page", a);
    EXPECT_EQ(a.status("Sent"), 20);
    EXPECT_EQ(a.receivedDistinct, 20);
    EXPECT_EQ(a.duplicates, 0);
    for (const test::JsonValue& m : sim.messages().array()) {
        EXPECT_EQ(m["server"].str(), "2");
    }
}

TEST_F(GatewayFaultTest, ARefusedLoginStopsSendingUntilTheOperatorConnectsAgain) {
    startLoggedIn();
    enqueue("login-", 20);
    sim.addAccount({"demo", "changed", 1000000, false, "", "ALPHA"});
    tick();
    EXPECT_EQ(log->count("Login: Incorrect!"), 1);
    EXPECT_EQ(f().smsBalance, 0);
    EXPECT_EQ(rowsWith("Queued"), 20);

    // With no balance the ticks only offer Connect again; they ask the gateway nothing.
    const size_t requests = sim.requests().size();
    tick();
    tick();
    EXPECT_EQ(sim.requests().size(), requests);
    EXPECT_TRUE(f().enabled("cmdConnect2"));

    // An unreadable login reply is a failed login, with the same outcome.
    sim.addAccount({"demo", "pw", 1000000, false, "", "ALPHA"});
    sim.setFaults("server=1&garbage=1&path=/Parlix/Logonchks.asp");
    f().fire("cmdConnect2", Event::Click);
    EXPECT_FALSE(f().loginOk);
    EXPECT_EQ(log->count("Login: Fail!"), 1);
    EXPECT_EQ(f().smsBalance, 0);
    tick();
    EXPECT_EQ(rowsWith("Queued"), 20);

    sim.post("/_sim/faults/clear");
    f().fire("cmdConnect2", Event::Click);
    ASSERT_TRUE(f().loginOk);
    EXPECT_EQ(drain(1), 1);
    Audit a = auditOf("login-");
    figures("login refused, then unreadable, then accepted", a);
    EXPECT_EQ(a.status("Sent"), 20);
    EXPECT_EQ(a.receivedDistinct, 20);
    EXPECT_EQ(a.duplicates, 0);
}

TEST_F(GatewayFaultTest, AServerCheckSlowerThanTheTimeoutKeepsTheWindowServedAndMovesOn) {
    startLoggedIn();
    enqueue("slowcheck-", 10);
    sim.setFaults("server=1&delay_ms=2500&path=/Parlix/ParlixChk.asp");
    int events = fx.ui.doEventsCount;
    tick();
    events = fx.ui.doEventsCount - events;
    figure("slow server check: window events served during the timed-out tick", events);
    // The client serves the window's events about every 20 ms while it waits 1.5 s.
    EXPECT_GE(events, 30);
    EXPECT_EQ(log->count("Server: NOT Connected"), 1);
    EXPECT_EQ(rowsWith("Queued"), 10);

    EXPECT_EQ(drain(1), 1);
    EXPECT_EQ(f().serverNo, 2);
    Audit a = auditOf("slowcheck-");
    figures("server check slower than the timeout", a);
    EXPECT_EQ(a.status("Sent"), 10);
    EXPECT_EQ(a.duplicates, 0);
}

TEST_F(GatewayFaultTest, DeliveryReportFaultsLeaveTheQueueAloneAndReportsFollowLater) {
    LiveOptions o;
    o.drAllowed = true;
    startLoggedIn(o);
    enqueue("dr-", 10);

    // Garbage instead of reports: nothing is written and the download stays due.
    sim.setFaults("server=1&garbage=1&path=/DR/DR.aspx");
    tick();
    EXPECT_EQ(rowsWith("Sent"), 10);
    EXPECT_GT(f().drTickCount, 900);
    EXPECT_EQ(log->count("Rec DR 0"), 1);
    auto delivered = [&] {
        return db->scalar("select count(*) from MessageQueue where DeliverStatus is not null")
            .integer();
    };
    EXPECT_EQ(delivered(), 0);

    // The connection cut mid-reply: logged, and the buttons and the timer come back.
    sim.setFaults("server=1&garbage=0&cut=1");
    tick();
    EXPECT_EQ(log->count("Delivery reports: "), 1);
    EXPECT_TRUE(f().enabled("Command1"));
    EXPECT_EQ(delivered(), 0);

    // "-201": the gateway refuses the download; the counter starts again.
    sim.post("/_sim/faults/clear");
    sim.addAccount({"demo", "other", 1000000, true, "", "ALPHA"});
    tick();
    EXPECT_EQ(f().drTickCount, 0);
    EXPECT_EQ(delivered(), 0);

    // Gateway-sim hands each report out once, so the reports that went out with the garbage
    // and the cut reply are gone; it offers them again, as a gateway resends unacknowledged
    // reports.
    sim.addAccount({"demo", "pw", 1000000, true, "", "ALPHA"});
    for (const test::JsonValue& m : sim.messages().array()) {
        sim.post("/_sim/reports?status=DELIVRD&reason=000&id=" + enc(m["messageId"].str()));
    }
    f().drTickCount = 1000;
    tick();
    figure("delivery reports after garbage, a cut reply and -201: rows with a report", delivered());
    EXPECT_EQ(delivered(), 10);
    EXPECT_EQ(
        db->scalar("select count(*) from MessageQueue where DeliverStatus='DELIVRD'").integer(),
        10);
    EXPECT_EQ(rowsWith("Sent"), 10);
}

enum class Sender { Batch, SingleFile };

/// The faults whose outcome depends on the sender: run with each.
class SenderFaultTest : public LiveDispatchTest, public ::testing::WithParamInterface<Sender> {
protected:
    void SetUp() override {
        LiveOptions o;
        o.senderIds = batch() ? "ALPHA" : "";
        startLoggedIn(o);
    }
    bool batch() const { return GetParam() == Sender::Batch; }
    std::string name(const std::string& scenario) const {
        return scenario + (batch() ? " (batch sender)" : " (single-file sender)");
    }
    /// A batch whose upload takes several pieces of 2048 characters.
    void enqueueManyPieces(const std::string& prefix) { enqueue(prefix, 100, 60); }
    long uploadPieces() { return requestsTo(sim, "/Parlix/PostDataZSM.ASP"); }
};

TEST_P(SenderFaultTest, APieceRefusedMidUploadPutsTheBatchBackAndItGoesWholeLater) {
    enqueueManyPieces("piece-");
    sim.setFaults("refuse_piece=3");
    tick();
    EXPECT_GE(uploadPieces(), 3);
    ASSERT_FALSE(fx.ui.boxes.empty());
    EXPECT_EQ(fx.ui.boxes.back().text, "Send Fail!");
    EXPECT_EQ(rowsWith("Queued"), 100);
    EXPECT_TRUE(sim.debits().array().empty());
    EXPECT_TRUE(sim.messages().array().empty());

    sim.post("/_sim/faults/clear");
    EXPECT_EQ(drain(1), 1);
    Audit a = auditOf("piece-");
    figures(name("piece 3 refused mid-upload"), a);
    EXPECT_EQ(a.status("Sent"), 100);
    EXPECT_EQ(a.receivedDistinct, 100);
    EXPECT_EQ(a.duplicates, 0);
}

TEST_P(SenderFaultTest, AnUploadCutOrSlowerThanTheTimeoutPutsTheBatchBack) {
    struct Fault {
        const char* prefix;
        const char* query;
        const char* scenario;
    };
    for (const Fault& fault :
         {Fault{"cut-", "server=1&cut=1&path=/Parlix/PostDataZSM.ASP", "connection cut mid-upload"},
          Fault{"slowup-", "server=1&delay_ms=2500&path=/Parlix/PostDataZSM.ASP",
                "upload reply slower than the timeout"}}) {
        SCOPED_TRACE(fault.scenario);
        const long errorsBefore = log->count("Dispatch error: ");
        enqueueManyPieces(fault.prefix);
        sim.setFaults(fault.query);
        tick();
        EXPECT_EQ(log->count("Dispatch error: "), errorsBefore + 1);
        EXPECT_EQ(rowsWith("Queued"), 100);
        EXPECT_EQ(auditOf(fault.prefix).receivedDistinct, 0);

        sim.post("/_sim/faults/clear");
        EXPECT_EQ(drain(1), 1);
        Audit a = auditOf(fault.prefix);
        figures(name(fault.scenario), a);
        EXPECT_EQ(a.status("Sent"), 100);
        EXPECT_EQ(a.receivedDistinct, 100);
        EXPECT_EQ(a.duplicates, 0);
    }
}

// The gateway took the whole payload but its last reply did not say "complete": the program
// cannot tell this from a refused upload, puts the rows back and sends them again. The figure
// is measured, not wished away; a lost reply may cost one extra copy of each message, no more.
TEST_P(SenderFaultTest, ALostFinalUploadReplyCostsAtMostOneExtraCopy) {
    enqueue("lost-", 10);
    sim.setFaults("complete_reply=" + enc("error: try again"));
    tick();
    EXPECT_EQ(rowsWith("Queued"), 10);
    const long atGateway = static_cast<long>(sim.messages().size());

    sim.post("/_sim/faults/clear");
    EXPECT_EQ(drain(1), 1);
    Audit a = auditOf("lost-");
    figures(name("final upload reply lost"), a);
    figure(name("final upload reply lost: messages the gateway had kept from the failed tick"),
           atGateway);
    EXPECT_EQ(a.status("Sent"), 10);
    EXPECT_EQ(a.receivedDistinct, 10);
    EXPECT_EQ(a.sentNeverReceived, 0);
    EXPECT_LE(a.duplicates, 10);
}

TEST_P(SenderFaultTest, ARefusedDebitRequeuesBatchRowsAndMarksSingleFileRowsDelSent) {
    enqueue("debit-", 10);
    sim.setFaults("refuse_debit=1");
    tick();
    tick();
    if (batch()) {
        // The batch sender queues the rows again, although the gateway has them.
        EXPECT_EQ(log->count("Sent: Faile "), 2);
        EXPECT_EQ(rowsWith("Queued"), 10);
    } else {
        EXPECT_EQ(log->count("Message Sent but Balance not Deducted "), 1);
        EXPECT_EQ(rowsWith("DelSent"), 10);
    }
    sim.post("/_sim/faults/clear");
    EXPECT_EQ(drain(1), 1);
    Audit a = auditOf("debit-");
    figures(name("debit refused for two ticks"), a);
    EXPECT_EQ(a.waiting(), 0);
    EXPECT_EQ(a.receivedDistinct, 10);
    EXPECT_EQ(a.sentNeverReceived, 0);
    if (batch()) {
        // Each tick under the refusal sent every message once more.
        EXPECT_EQ(a.status("Sent"), 10);
        EXPECT_LE(a.duplicates, 2 * 10);
    } else {
        EXPECT_EQ(a.duplicates, 0);
    }
}

TEST_P(SenderFaultTest, ADebitThatFailsInTransferCountsTheBatchAsSent) {
    enqueue("debitcut-", 10);
    sim.setFaults("server=1&cut=1&path=/Parlix/Debit.asp");
    tick();
    EXPECT_EQ(log->count("Dispatch error: "), 1);
    EXPECT_EQ(rowsWith("DelSent"), 10);
    sim.setFaults("server=1&cut=0&delay_ms=2500");
    enqueue("debitslow-", 10);
    tick();
    EXPECT_EQ(log->count("Dispatch error: "), 2);
    EXPECT_EQ(rowsWith("DelSent"), 20);

    sim.post("/_sim/faults/clear");
    tick();
    for (const std::string prefix : {"debitcut-", "debitslow-"}) {
        Audit a = auditOf(prefix);
        figures(name(prefix == "debitcut-" ? "debit reply cut" : "debit reply too slow"), a);
        EXPECT_EQ(a.status("DelSent"), 10);
        EXPECT_EQ(a.receivedDistinct, 10);
        EXPECT_EQ(a.duplicates, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(BothSenders, SenderFaultTest,
                         ::testing::Values(Sender::Batch, Sender::SingleFile),
                         [](const ::testing::TestParamInfo<Sender>& p) {
                             return p.param == Sender::Batch ? "Batch" : "SingleFile";
                         });

}  // namespace
}  // namespace parlix::reliability
