// parlixd under stress: killed at every moment of a batch, and sending while an outside writer
// fills the queue. Either way no message may be lost or reach the gateway twice.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <thread>

#include "reliability_support.h"
#include "support/queue_db.h"
#include "transport/gateway_url.h"

namespace parlix::reliability {
namespace {

/// The count for the mode the suite runs in: PARLIX_RELIABILITY_LONG=1 asks for the long one.
int scaled(int shortCount, int longCount, int sanitizedCount) {
    const char* mode = std::getenv("PARLIX_RELIABILITY_LONG");
#ifdef PARLIX_RELIABILITY_SANITIZED
    shortCount = sanitizedCount;
#endif
    (void)sanitizedCount;
    return mode != nullptr && *mode != '\0' && std::string(mode) != "0" ? longCount : shortCount;
}

constexpr int kWorkers = 10;

/// A moment is held by delaying the requests whose target holds `match`; the kill comes once
/// the `nth` request holding every text of `killOn` has arrived. Rows of 60 characters: 33 make
/// a message file of two pieces of 2048 hex characters, 56 one of three.
struct Moment {
    const char* name;
    const char* match;
    std::vector<std::string> killOn;
    int nth;
    int rows;
};

const Moment kMoments[] = {
    {"before the first piece", "_TAG", {"_TAG"}, 1, 33},
    {"between pieces", "Status=0", {"Status=0"}, 1, 56},
    {"just before the last piece", "Status=0", {"Status=0"}, 1, 33},
    {"just after the last piece", "Status=1", {"Status=1", "_NW"}, 1, 33},
    {"during the debit", "Debit.asp", {"Debit.asp"}, 1, 33},
};
// The single-file sender uploads no header: its batch is taken right after the tick's login,
// the second login of the run, and nothing goes out between the two.
const Moment kSingleBeforeFirstPiece = {
    "before the first piece", "Logonchks", {"Logonchks"}, 2, 33};

/// The sequence number of the request the kill waits for, or -1 when parlixd ended or nothing
/// came within 30 s.
long long waitForRequest(test::GatewaySimProcess& sim, test::ChildProcess& d, const Moment& m) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (d.running() && std::chrono::steady_clock::now() < until) {
        int found = 0;
        for (const test::JsonValue& r : sim.requests().array()) {
            auto inTarget = [&](const std::string& t) {
                return r["target"].str().find(t) != std::string::npos;
            };
            if (std::all_of(m.killOn.begin(), m.killOn.end(), inTarget) && ++found == m.nth) {
                return r["seq"].num();
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return -1;
}

void crashRun(int run, test::GatewaySimProcess& sim) {
    const size_t at = static_cast<size_t>(run) % std::size(kMoments);
    const bool batch = (run / static_cast<int>(std::size(kMoments))) % 2 == 0;
    const Moment& m = !batch && at == 0 ? kSingleBeforeFirstPiece : kMoments[at];
    SCOPED_TRACE("run " + std::to_string(run) + ", " + (batch ? "batch" : "single-file") +
                 " sender, killed " + m.name);
    const std::string prefix = "k" + std::to_string(run) + "-";
    sim.post("/_sim/reset");
    DaemonFolder f(sim, batch ? "batch" : "single");
    enqueueNew(f.db(), prefix, m.rows);
    sim.setFaults("server=1&delay_ms=1500&match=" + encodeQueryValue(m.match));

    auto first = f.start("first.log");
    const long long killSeq = waitForRequest(sim, *first, m);
    first->kill();
    // Nothing came after the request the kill waited for: the kill landed at its moment.
    const test::JsonValue requests = sim.requests();
    EXPECT_TRUE(killSeq > 0 && requests.at(requests.size() - 1)["seq"].num() == killSeq)
        << first->output();
    EXPECT_EQ(integrityOf(f.path("SMSDB.MDB")), "ok");

    sim.post("/_sim/faults/clear");
    auto restart = f.start("restart.log");
    EXPECT_TRUE(waitDrained(f.db(), *restart)) << restart->output();
    EXPECT_EQ(terminate(*restart), 0) << restart->output();
    const Audit a = audit(f.db(), sim.messages(), prefix);
    EXPECT_EQ(a.receivedDistinct, m.rows) << "messages that never went out";
    EXPECT_EQ(a.duplicates, 0);
    EXPECT_EQ(a.deletedNeverReceived, 0) << "lost: " << restart->output();
}

// parlixd is killed with SIGKILL at a set moment of a batch, for both senders, while gateway-sim
// holds back the reply of the request that marks the moment (it has handled the request by
// then). The database must pass its integrity check; a restart must drain the queue and exit 0
// on SIGTERM. Every message must reach the gateway once, and no row may be "Deleted" (lost) that
// it never received. Runs: 30; with PARLIX_RELIABILITY_LONG=1, 200; in the sanitizer build, 10;
// over ten workers, each with its own gateway-sim.
TEST(CrashRestart, AKillAtAnyMomentOfABatchLosesNothingAndSendsNothingTwice) {
    const int runs = scaled(30, 200, 10);
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) {
        workers.emplace_back([w, runs] {
            test::GatewaySimProcess sim;
            sim.addAccount({"batch", "pw", 1000000000, false, "", "ALPHA"});
            sim.addAccount({"single", "pw", 1000000000, false, "", ""});
            for (int run = w; run < runs; run += kWorkers) {
                crashRun(run, sim);
            }
        });
    }
    for (std::thread& w : workers) {
        w.join();
    }
}

// queue-writer, a separate process, inserts 100 rows a second while parlixd sends: no insert may
// fail, every row must be sent once, and neither side may meet a locked database it does not
// wait out. Writer time: 10 s; with PARLIX_RELIABILITY_LONG=1, 120 s; in the sanitizer build, 6 s.
TEST(OutsideWriter, RowsInsertedWhileParlixdSendsAreAllKeptAndSentOnce) {
    const int seconds = scaled(10, 120, 6);
    test::GatewaySimProcess sim;
    sim.addAccount({"demo", "pw", 1000000000, false, "", "ALPHA"});
    DaemonFolder f(sim, "demo");
    auto d = f.start();
    test::ChildProcess writer(std::string(PARLIX_RELIABILITY_DIR) + "/queue-writer",
                              {f.path("SMSDB.MDB"), "100", std::to_string(seconds), "cw-"},
                              f.path("writer.log"));
    EXPECT_EQ(writer.wait(std::chrono::seconds(seconds + 60)), 0) << writer.output();
    EXPECT_TRUE(waitDrained(f.db(), *d));
    const std::string out = d->output();
    EXPECT_EQ(terminate(*d), 0) << out;

    const Audit a = audit(f.db(), sim.messages(), "cw-");
    EXPECT_EQ(a.status("Sent"), 100 * seconds);
    EXPECT_EQ(a.receivedDistinct, 100 * seconds);
    EXPECT_EQ(a.duplicates, 0);
    for (const char* trouble : {"locked", "busy", "Dispatch error"}) {
        EXPECT_EQ(out.find(trouble), std::string::npos) << out;
    }
}

}  // namespace
}  // namespace parlix::reliability
