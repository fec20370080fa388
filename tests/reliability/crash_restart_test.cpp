// Crash and restart: parlix-driver (the window's logic with the real ports) is killed with
// SIGKILL at a random moment of a batch, before, during or after the upload, or while the debit
// is in flight, then started again until the queue is drained. Per run and in total it counts
// messages the gateway received twice, rows "Sent" that the gateway never received, and rows
// that start-up marked "Deleted" without the gateway having them (lost by that rule: a row taken
// for sending when the program died is never sent again, whether or not the upload got through).
// The database must pass its integrity check after every kill.
//
// Runs: 30; with PARLIX_RELIABILITY_LONG=1, 200; in the sanitizer build, 10.
// PARLIX_RELIABILITY_SEED=N repeats a series of kill moments.
#include <gtest/gtest.h>

#include <array>
#include <thread>

#include "base/text.h"
#include "db/open_database.h"
#include "reliability_support.h"
#include "support/gateway_sim_process.h"
#include "support/queue_db.h"
#include "support/temp_dir.h"

namespace parlix::reliability {
namespace {

enum class Moment { BeforeUpload, DuringUpload, AfterUpload, DuringDebit, Anywhere };
constexpr std::array<const char*, 5> kMomentNames = {
    "before the upload", "during the upload", "after the upload", "during the debit", "anywhere"};

struct Totals {
    int runs = 0;
    int killed = 0;
    int endedBeforeKill = 0;
    std::array<int, 5> killsAt{};
    std::array<long, 5> lostAt{};
    long rows = 0;
    long readAtKill = 0;
    long duplicates = 0;
    long sentNeverReceived = 0;
    long lost = 0;
    long deletedReceived = 0;
    long receivedWithoutRow = 0;
    long integrityFailures = 0;
    long restartFailures = 0;
    long repeatedIds = 0;
    long long slowestRestartMs = 0;
};

class CrashRestartTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim.addAccount({"batch", "pw", 1000000000, false, "", "ALPHA"});
        sim.addAccount({"single", "pw", 1000000000, false, "", ""});
        for (int i = 1; i <= 5; ++i) {
            conf += "server" + std::to_string(i) + ".host=" + sim.serverHost(i) + "\n";
        }
        conf += "http.connect_timeout_ms=1000\nhttp.total_timeout_ms=3000\n";
    }

    /// Waits until gateway-sim has seen a request on `path` (or, for "batches", a message
    /// batch); false when the driver ended first or nothing came within 20 s.
    bool waitFor(ChildProcess& driver, const std::string& path) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < until && driver.running()) {
            if (path == "batches") {
                for (const test::JsonValue& b : sim.batches().array()) {
                    if (b["kind"].str() != "TAG") {
                        return true;
                    }
                }
            } else {
                for (const test::JsonValue& r : sim.requests().array()) {
                    if (iequals(r["path"].str(), path)) {
                        return true;
                    }
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
        return false;
    }

    std::vector<std::string> driverArgs(const test::TempDir& program, const test::TempDir& settings,
                                        const std::string& user, bool untilDrained) {
        std::vector<std::string> args = {
            "--program-folder", program.str(), "--settings-folder", settings.str(),
            "--user",           user,          "--password",        "pw",
            "--tick-ms",        "100",         "--time-limit-s",    untilDrained ? "40" : "20"};
        if (untilDrained) {
            args.push_back("--until-drained");
        }
        return args;
    }

    test::GatewaySimProcess sim;
    std::string conf;
};

TEST_F(CrashRestartTest, KillsAtRandomMomentsSendNothingTwiceAndNothingFalselySent) {
    const int runs = scaled(30, 200, 10);
    std::mt19937_64 rng(suiteSeed("crash and restart"));
    const std::string driverPath = reliabilityProgram("parlix-driver");
    Totals t;
    const auto suiteStart = std::chrono::steady_clock::now();
    for (int run = 0; run < runs; ++run) {
        const auto moment = static_cast<Moment>(run % 5);
        const std::string user = (run / 5) % 2 == 0 ? "batch" : "single";
        const std::string prefix = std::string("k").append(std::to_string(run)).append("-");
        SCOPED_TRACE("run " + std::to_string(run) + ", " + user + " sender, kill " +
                     kMomentNames[static_cast<size_t>(moment)]);
        sim.post("/_sim/reset");

        test::TempDir program;
        test::TempDir settings;
        const std::string dbPath = program.str() + "/SMSDB.MDB";
        const int rows = std::uniform_int_distribution<int>(60, 160)(rng);
        {
            auto db = test::makeQueueDatabase(program.str());
            enqueueAll(*db, uniqueTexts(prefix, rows, 60, rng));
        }
        test::writeFile(program / "parlix.conf", conf);

        switch (moment) {
            case Moment::DuringUpload:
                sim.setFaults("server=1&delay_ms=100&path=/Parlix/PostDataZSM.ASP");
                break;
            case Moment::DuringDebit:
                sim.setFaults("server=1&delay_ms=800&path=/Parlix/Debit.asp");
                break;
            default:
                break;
        }

        auto pause = [&](int maxMs) {
            std::this_thread::sleep_for(
                std::chrono::milliseconds(std::uniform_int_distribution<int>(0, maxMs)(rng)));
        };
        bool reached = true;
        {
            ChildProcess driver(driverPath, driverArgs(program, settings, user, false),
                                program.str() + "/driver-1.log");
            switch (moment) {
                case Moment::BeforeUpload:
                    reached = waitFor(driver, "/Parlix/Logonchks.asp");
                    pause(250);
                    break;
                case Moment::DuringUpload:
                    reached = waitFor(driver, "/Parlix/PostDataZSM.ASP");
                    pause(500);
                    break;
                case Moment::AfterUpload:
                    reached = waitFor(driver, "batches");
                    pause(5);
                    break;
                case Moment::DuringDebit:
                    reached = waitFor(driver, "/Parlix/Debit.asp");
                    pause(700);
                    break;
                case Moment::Anywhere:
                    pause(2500);
                    break;
            }
            if (reached && driver.running()) {
                driver.kill();
                ++t.killed;
                ++t.killsAt[static_cast<size_t>(moment)];
            } else {
                ++t.endedBeforeKill;
                driver.kill();
            }
        }
        const std::string afterKill = integrityOf(dbPath);
        EXPECT_EQ(afterKill, "ok");
        t.integrityFailures += afterKill == "ok" ? 0 : 1;
        {
            Connection c;
            c.openFile(dbPath, kDatabasePassword);
            t.readAtKill += test::countExact(c, "Read");
        }

        sim.post("/_sim/faults/clear");
        const auto restartStart = std::chrono::steady_clock::now();
        ChildProcess restart(driverPath, driverArgs(program, settings, user, true),
                             program.str() + "/driver-2.log");
        std::optional<int> code = restart.wait(std::chrono::seconds(45));
        t.slowestRestartMs = std::max(t.slowestRestartMs, msSince(restartStart));
        EXPECT_EQ(code, 0) << restart.output();
        t.restartFailures += code == 0 ? 0 : 1;
        EXPECT_EQ(integrityOf(dbPath), "ok");

        Connection c;
        c.openFile(dbPath, kDatabasePassword);
        Audit a = audit(c, sim.messages(), prefix);
        t.repeatedIds += c.scalar(
                              "select count(*) from (select MessageID from MessageQueue "
                              "where MessageID is not null group by MessageID "
                              "having count(*) > 1)")
                             .integer();
        EXPECT_EQ(a.rows, rows);
        EXPECT_EQ(a.waiting(), 0);
        EXPECT_EQ(a.duplicates, 0);
        EXPECT_EQ(a.sentNeverReceived, 0);
        EXPECT_EQ(a.receivedWithoutRow, 0);
        // Every row went out, or start-up marked it Deleted without its being sent.
        EXPECT_EQ(a.receivedDistinct + a.deletedNeverReceived, rows);
        if (HasFailure()) {
            figures("failed run " + std::to_string(run), a);
            std::cout << "first run's output:\n"
                      << test::readFile(program / "driver-1.log") << "restart's output:\n"
                      << restart.output();
        }
        ++t.runs;
        t.rows += rows;
        t.duplicates += a.duplicates;
        t.sentNeverReceived += a.sentNeverReceived;
        t.lost += a.deletedNeverReceived;
        t.lostAt[static_cast<size_t>(moment)] += a.deletedNeverReceived;
        t.deletedReceived += a.deletedReceived;
        t.receivedWithoutRow += a.receivedWithoutRow;
        if (HasFatalFailure()) {
            break;
        }
    }
    figure("crash runs", t.runs);
    figure("crash runs killed mid-run", t.killed);
    figure("crash runs that ended before the kill moment came", t.endedBeforeKill);
    for (size_t m = 0; m < kMomentNames.size(); ++m) {
        figure(std::string("kills ") + kMomentNames[m],
               std::to_string(t.killsAt[m]) +
                   " (rows lost by the restart rule: " + std::to_string(t.lostAt[m]) + ")");
    }
    figure("crash rows queued in all", t.rows);
    figure("crash rows left taken for sending at the kills", t.readAtKill);
    figure("crash messages received twice", t.duplicates);
    figure("crash rows Sent but never received", t.sentNeverReceived);
    figure("crash rows lost: marked Deleted at restart, never received", t.lost);
    figure("crash rows marked Deleted at restart although received", t.deletedReceived);
    figure("crash messages received that no row holds", t.receivedWithoutRow);
    figure("crash message ids given to more than one row", t.repeatedIds);
    figure("crash integrity check failures", t.integrityFailures);
    figure("crash restarts that did not drain", t.restartFailures);
    figure("crash slowest restart until drained (ms)", t.slowestRestartMs);
    figure("crash total time (ms)", msSince(suiteStart));
    EXPECT_GE(t.runs, runs);
    EXPECT_EQ(t.duplicates, 0);
    EXPECT_EQ(t.sentNeverReceived, 0);
    EXPECT_EQ(t.integrityFailures, 0);
    EXPECT_EQ(t.restartFailures, 0);
    // The kills must really land inside batches, or the figures above say nothing.
    EXPECT_GE(t.killed, runs * 4 / 5);
}

}  // namespace
}  // namespace parlix::reliability
