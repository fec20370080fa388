#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "reliability_support.h"
#include "support/app_fixture.h"
#include "support/gateway_sim_process.h"

namespace parlix::reliability {

/// How the window's logic meets gateway-sim in a test.
struct LiveOptions {
    long long balance = 1000000;
    /// The account's sender ids: a list selects the batch sender, empty text the single-file
    /// sender.
    std::string senderIds = "ALPHA";
    bool drAllowed = false;
    /// Short, so that a reply slower than the timeout costs little time.
    HttpTimeouts timeouts{1000, 1500};
    /// Runs on the new queue before start-up, as rows left by an earlier run.
    std::function<void(Connection&)> beforeLoad;
};

/// The window's logic logged in to gateway-sim over real HTTP on loopback, ticked by the test.
/// Every tick is followed by the checks that hold whatever the tick met: the dispatch timer runs
/// again, and no row is left "Read".
class LiveDispatchTest : public ::testing::Test {
protected:
    /// Starts the program on a fresh queue and logs in; servers 1 to 5 are gateway-sim's.
    void startLoggedIn(const LiveOptions& options = {});
    FormModel& f() { return fx.form(); }

    /// One tick of the dispatch timer, then the checks.
    void tick();
    /// Ticks until no row waits (queued or taken for sending); the number of ticks it took, or
    /// -1 when rows still wait after `maxTicks`.
    int drain(int maxTicks = 10);
    /// Rows queued or taken for sending, in any case.
    long waiting();
    /// Rows whose status is "Read" in any case.
    long readRows();
    long rowsWith(const std::string& status);
    /// Queues `count` rows with unique texts starting with `prefix`.
    std::vector<std::string> enqueue(const std::string& prefix, int count, size_t length = 40);
    Audit auditOf(const std::string& prefix);
    /// The whole of gateway-sim's records of one kind as JSON.
    test::JsonValue simList(const std::string& what);

    test::GatewaySimProcess sim;
    test::AppFixture fx;
    std::unique_ptr<Connection> db;
    std::unique_ptr<LogTap> log;
    std::mt19937_64 rng{20261206};
    long ticks = 0;
    long long slowestTickMs = 0;
};

}  // namespace parlix::reliability
