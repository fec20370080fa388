// Several parlixd drain one shared queue in a private PostgreSQL server while they are killed
// (SIGKILL) or stopped (SIGSTOP) for longer than their lease and continued, and while the server
// restarts. No message may reach the gateway twice, and every one must reach it: sent, or
// "Deleted" when its worker died after the gateway may have had it.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <random>
#include <thread>
#include <tuple>

#include "daemon_folder.h"
#include "db/db_error.h"
#include "db/pg_connection.h"
#include "db/shared_queue.h"
#include "reliability_support.h"
#include "support/pg_cluster.h"

namespace parlix::reliability {
namespace {

constexpr int kLeaseSeconds = 5;

/// A shared queue in a private server, gateway-sim, and parlixd workers each on its folder.
struct SharedRun {
    SharedRun(int workers, int messages)
        : url(cluster.newQueue()), queue(std::make_unique<PgConnection>(url, 10000), "test", 60) {
        queue.open();
        sim.addAccount({"demo", "pw", 1000000000, false, "", "ALPHA"});
        // Each piece's reply waits a little, so that some batch is out most of the time.
        sim.setFaults("server=1&delay_ms=100&path=/Parlix/PostDataZSM.ASP");
        enqueueNew(queue, "s-", messages);
        for (int w = 0; w < workers; ++w) {
            folders.push_back(std::make_unique<DaemonFolder>(
                sim, "demo", "queue.lease_s=" + std::to_string(kLeaseSeconds) + "\n", url));
            processes.push_back(folders.back()->start("worker.log"));
        }
    }
    /// Rows still to send; -1 while the server cannot be asked.
    long left() {
        try {
            return waiting(queue);
        } catch (const DbError&) {
            return -1;
        }
    }
    /// Waits until every row is settled or `seconds` have passed.
    bool drained(int seconds) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < until) {
            if (left() == 0) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        return false;
    }
    std::string logs() {
        std::string out;
        for (auto& p : processes) {
            const std::string log = p->output();
            out += log.substr(log.size() > 4000 ? log.size() - 4000 : 0);
        }
        return out;
    }

    test::PgCluster cluster;
    test::GatewaySimProcess sim;
    std::string url;
    SharedQueue queue;
    std::vector<std::unique_ptr<DaemonFolder>> folders;
    std::vector<std::unique_ptr<test::ChildProcess>> processes;
};

/// Every message reached the gateway once, none twice, and no row is "Deleted" that the gateway
/// never received; prints what happened.
void expectEachMessageOnce(SharedRun& run, int messages, const std::string& what) {
    const Audit a = audit(run.queue, run.sim.messages(), "s-");
    std::printf(
        "%s: %d messages, %ld received, %ld duplicates, %ld lost, %ld Deleted after "
        "reaching the gateway\n",
        what.c_str(), messages, a.receivedDistinct, a.duplicates, a.deletedNeverReceived,
        a.status("Deleted"));
    EXPECT_EQ(std::tuple(a.receivedDistinct, a.duplicates, a.deletedNeverReceived),
              std::tuple(static_cast<long>(messages), 0L, 0L))
        << run.logs();
    EXPECT_EQ(a.status("Sent") + a.status("Deleted"), messages);
}

// Three workers; now and then one is killed and started again, or stopped for longer than its
// lease and continued. Kills and stops: 8; with PARLIX_RELIABILITY_LONG=1, 40; in the sanitizer
// build, 4.
TEST(SharedQueue, WorkersKilledOrStoppedAtRandomSendEveryMessageOnce) {
    const int actions = scaled(8, 40, 4);
    // At most what one answer of gateway-sim's control interface lists.
    const int messages = std::min(actions * 2000, 40000);
    SharedRun run(3, messages);
    std::mt19937 rng(20261207);
    int kills = 0;
    int stops = 0;
    for (int i = 0; i < actions && run.left() != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300 + rng() % 1200));
        const size_t w = rng() % run.processes.size();
        if (rng() % 2 == 0) {
            run.processes[w]->kill();
            run.processes[w] = run.folders[w]->start("worker.log");
            ++kills;
        } else {
            run.processes[w]->signal(SIGSTOP);
            std::this_thread::sleep_for(std::chrono::seconds(kLeaseSeconds + 2));
            run.processes[w]->signal(SIGCONT);
            ++stops;
        }
    }
    ASSERT_TRUE(run.drained(120)) << run.logs();
    expectEachMessageOnce(run, messages,
                          "three workers, " + std::to_string(kills) + " kills and " +
                              std::to_string(stops) + " stops");
}

// The server stops (its connections cut) and starts again while two workers send.
TEST(SharedQueue, TheServerRestartingWhileWorkersSendLosesAndDoublesNothing) {
    const int messages = scaled(6000, 30000, 3000);
    SharedRun run(2, messages);
    while (run.sim.batches().empty()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    run.cluster.stop();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    run.cluster.start();
    ASSERT_TRUE(run.drained(120)) << run.logs();
    expectEachMessageOnce(run, messages, "two workers, the server restarted");
}

}  // namespace
}  // namespace parlix::reliability
