// Crash and restart: parlixd is killed with SIGKILL at a set moment of a batch, for both senders,
// while gateway-sim holds back the reply of the request that marks the moment (it has handled
// the request by then). The database must pass its integrity check; a restart must drain the
// queue and exit 0 on SIGTERM. No message may reach the gateway twice, no row may be "Sent"
// that it never received, none may be "Deleted" that it never received, and every message it
// did not hold at the kill must go out with the restart.
//
// Runs: 30; with PARLIX_RELIABILITY_LONG=1, 200; in the sanitizer build, 10. They share out over
// a few workers, each with its own gateway-sim.
#include <gtest/gtest.h>

#include <atomic>
#include <iostream>
#include <set>
#include <thread>

#include "reliability_support.h"
#include "support/queue_db.h"
#include "transport/gateway_url.h"
#include "transport/zlib_codec.h"

namespace parlix::reliability {
namespace {

constexpr int kWorkers = 10;

/// A moment is held by delaying the requests whose target holds `match`; the kill comes once
/// the `nth` request holding every text of `killOn` has arrived.
struct Moment {
    const char* name;
    const char* match;
    std::vector<std::string> killOn;
    int nth;
    int pieces;  // of the message file
};

const Moment kMoments[] = {
    {"before the first piece", "_TAG", {"_TAG"}, 1, 2},
    {"between pieces", "Status=0", {"Status=0"}, 1, 3},
    {"just before the last piece", "Status=0", {"Status=0"}, 1, 2},
    {"just after the last piece", "Status=1", {"Status=1", "_NW"}, 1, 2},
    {"during the debit", "Debit.asp", {"Debit.asp"}, 1, 2},
};
// The single-file sender uploads no header: its batch is taken right after the tick's login,
// the second login of the run, and nothing goes out between the two.
const Moment kSingleBeforeFirstPiece = {"before the first piece", "Logonchks", {"Logonchks"}, 2, 2};

struct Totals {
    std::atomic<long> runs{0};
    std::atomic<long> landed[std::size(kMoments)] = {};
    std::atomic<long> duplicates{0};
    std::atomic<long> lost{0};
    std::atomic<long> deletedReceived{0};
};

/// Rows whose message file, built as the sender builds it, compresses to about 1500 bytes (two
/// pieces of 2048 hex characters) or 2550 bytes (three).
std::vector<std::string> rowsFor(const Moment& m, const std::string& prefix, bool batch) {
    std::vector<std::string> texts = uniqueTexts(prefix, 100);
    std::string payload;
    for (size_t n = 0; n < texts.size(); ++n) {
        payload += "98" + std::to_string(10000000 + n) + "#user12345-261207-0000-" +
                   std::to_string(n + 1) + "#TEXT\r\n" + texts[n] + "\r\n" + (batch ? "\r\n" : "");
        std::string z = payload;
        ZlibCodec{}.CompressString(z, 15);
        if (z.size() >= (m.pieces == 2 ? 1500u : 2550u)) {
            texts.resize(n + 1);
            break;
        }
    }
    return texts;
}

/// The sequence number of the request the kill waits for, or -1 when parlixd ended or nothing
/// came within 30 s.
long long waitForRequest(test::GatewaySimProcess& sim, test::ChildProcess& d, const Moment& m) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    long long seen = 0;
    int found = 0;
    while (d.running() && std::chrono::steady_clock::now() < until) {
        for (const test::JsonValue& r :
             sim.get("/_sim/requests?since=" + std::to_string(seen))["requests"].array()) {
            seen = r["seq"].num();
            bool all = true;
            for (const std::string& text : m.killOn) {
                all = all && r["target"].str().find(text) != std::string::npos;
            }
            if (all && ++found == m.nth) {
                return seen;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return -1;
}

void crashRun(int run, test::GatewaySimProcess& sim, Totals& t) {
    const size_t at = static_cast<size_t>(run) % std::size(kMoments);
    const bool batch = (run / static_cast<int>(std::size(kMoments))) % 2 == 0;
    const Moment& m = !batch && at == 0 ? kSingleBeforeFirstPiece : kMoments[at];
    SCOPED_TRACE("run " + std::to_string(run) + ", " + (batch ? "batch" : "single-file") +
                 " sender, killed " + m.name);
    const std::string prefix = "k" + std::to_string(run) + "-";
    sim.post("/_sim/reset");
    DaemonFolder f(sim, batch ? "batch" : "single");
    enqueueAll(f.db(), rowsFor(m, prefix, batch));
    sim.setFaults("server=1&delay_ms=1500&match=" + encodeQueryValue(m.match));

    auto first = f.start("first.log");
    const long long killSeq = waitForRequest(sim, *first, m);
    first->kill();
    // Nothing came after the request the kill waited for: the kill landed at its moment.
    const test::JsonValue requests = sim.requests();
    const bool landed = killSeq > 0 && requests.at(requests.size() - 1)["seq"].num() == killSeq;
    EXPECT_TRUE(landed) << first->output();
    t.landed[at] += landed ? 1 : 0;
    EXPECT_EQ(integrityOf(f.path("SMSDB.MDB")), "ok");
    std::set<std::string> heldAtKill;
    for (const test::JsonValue& msg : sim.messages().array()) {
        heldAtKill.insert(msg["text"].str());
    }

    sim.post("/_sim/faults/clear");
    auto restart = f.start("restart.log");
    EXPECT_TRUE(waitDrained(f.db(), *restart)) << restart->output();
    EXPECT_EQ(terminate(*restart), 0) << restart->output();
    const Audit a = audit(f.db(), sim.messages(), prefix);
    EXPECT_EQ(a.duplicates, 0);
    EXPECT_EQ(a.sentNeverReceived, 0);
    EXPECT_EQ(a.deletedNeverReceived, 0) << restart->output();
    for (const auto& row : test::query(f.db(), "select Message, Status from MessageQueue")) {
        if (heldAtKill.count(row["Message"].toText()) == 0) {
            EXPECT_EQ(row["Status"].toText(), "Sent") << row["Message"].toText();
        }
    }
    ++t.runs;
    t.duplicates += a.duplicates;
    t.lost += a.deletedNeverReceived;
    t.deletedReceived += a.deletedReceived;
}

TEST(CrashRestart, AKillAtAnyMomentOfABatchLosesNothingAndSendsNothingTwice) {
    const int runs = scaled(30, 200, 10);
    Totals t;
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) {
        workers.emplace_back([w, runs, &t] {
            test::GatewaySimProcess sim;
            sim.addAccount({"batch", "pw", 1000000000, false, "", "ALPHA"});
            sim.addAccount({"single", "pw", 1000000000, false, "", ""});
            for (int run = w; run < runs; run += kWorkers) {
                crashRun(run, sim, t);
            }
        });
    }
    for (std::thread& w : workers) {
        w.join();
    }
    auto figure = [](const std::string& name, long value) {
        std::cout << "[ figure   ] crash " << name << " = " << value << std::endl;
    };
    figure("runs", t.runs);
    for (size_t i = 0; i < std::size(kMoments); ++i) {
        figure(std::string("kills ") + kMoments[i].name, t.landed[i]);
    }
    figure("messages received twice", t.duplicates);
    figure("rows lost (Deleted, never received)", t.lost);
    figure("rows Deleted that the gateway received", t.deletedReceived);
    EXPECT_EQ(t.runs, runs);
}

}  // namespace
}  // namespace parlix::reliability
