#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "db/connection.h"
#include "support/app_fixture.h"
#include "support/child_process.h"
#include "support/gateway_sim_process.h"
#include "support/json_value.h"
#include "support/queue_db.h"
#include "support/temp_dir.h"

namespace parlix::reliability {

/// The count for the mode the suite runs in: PARLIX_RELIABILITY_LONG=1 asks for the long one.
int scaled(int shortCount, int longCount, int sanitizedCount);

/// The queue compared with what the gateway received. Rows and messages are matched by text,
/// which every test makes unique per row.
struct Audit {
    long rows = 0;
    std::map<std::string, long> statuses;  // row count per status, as stored
    long receivedDistinct = 0;
    long duplicates = 0;            // copies beyond the first
    long sentNeverReceived = 0;     // "Sent" or "DelSent", yet the gateway never got it
    long deletedNeverReceived = 0;  // lost: marked Deleted before it went out
    long deletedReceived = 0;       // marked Deleted, but the gateway has it
    long status(const std::string& s) const;
};

/// Audits the rows whose Message starts with `prefix` against the gateway's messages.
Audit audit(Connection& db, const test::JsonValue& messages, const std::string& prefix);

/// `count` distinct texts "<prefix><n>-" followed by random letters up to `length` characters,
/// so that payloads do not shrink much when compressed; the same for the same prefix.
std::vector<std::string> uniqueTexts(const std::string& prefix, int count, size_t length = 60);
/// Queues rows with the given texts and numbers "98" followed by 8 digits, in one transaction.
void enqueueAll(Connection& db, const std::vector<std::string>& texts);
/// Queues rows of uniqueTexts().
void enqueueNew(Connection& db, const std::string& prefix, int count, size_t length = 60);
/// The bytes of a queue file of `rows` rows under `password`, all of it in the main file.
std::string databaseBytes(const std::string& password, int rows);
/// Rows whose status is "Queued" or "Read".
long waiting(Connection& db);
/// "PRAGMA integrity_check" of a queue file, opened afresh.
std::string integrityOf(const std::string& dbPath);

/// A program folder for parlixd against gateway-sim: SMSDB.MDB, parlix.conf naming the sim's
/// servers, the settings folder "config" and the credentials file "credentials" (mode 0600) of
/// `user` with the password "pw".
class DaemonFolder {
public:
    DaemonFolder(test::GatewaySimProcess& sim, const std::string& user);
    std::string path(const std::string& name = "") const { return (m_dir / name).string(); }
    /// --folder, --settings and --credentials.
    std::vector<std::string> args() const;
    /// Starts parlixd with args(), its output in `logName` beside the folder.
    std::unique_ptr<test::ChildProcess> start(const std::string& logName = "parlixd.log");
    /// The test's own connection to the queue; closeDb() leaves the file to parlixd alone.
    Connection& db() { return *m_db; }
    void closeDb() { m_db.reset(); }

private:
    test::TempDir m_dir;
    test::TempDir m_logs;
    std::unique_ptr<Connection> m_db;
};

/// Waits until no row of the open queue is "Queued" or "Read"; false when `p` ended first or
/// 40 s passed.
bool waitDrained(Connection& db, test::ChildProcess& p);
/// SIGTERM, then its exit code (nothing when it did not end within 20 s).
std::optional<int> terminate(test::ChildProcess& p);

/// The window's logic logged in to gateway-sim over real HTTP on loopback, ticked by the test.
/// Every tick is followed by the checks that hold whatever the tick met: the dispatch timer runs
/// again, and no row is left "Read".
class LiveDispatchTest : public ::testing::Test {
protected:
    /// Starts the program on a fresh queue, after `beforeLoad` ran on it, and logs in. Servers 1
    /// to 5 are gateway-sim's, with timeouts that make a slower reply cost little time. Sender
    /// ids select the batch sender, none the single-file sender.
    void startLoggedIn(const std::string& senderIds = "ALPHA",
                       const std::function<void(Connection&)>& beforeLoad = {});
    FormModel& f() { return fx.form(); }
    /// One tick of the dispatch timer, then the checks.
    void tick();
    /// Ticks until no row waits; the number of ticks it took, or -1 after `maxTicks`.
    int drain(int maxTicks = 3);
    long rowsWith(const std::string& status) { return test::countExact(*db, status); }
    /// Queues `count` rows with unique texts starting with `prefix`.
    void enqueue(const std::string& prefix, int count, size_t length = 40) {
        enqueueNew(*db, prefix, count, length);
    }
    Audit auditOf(const std::string& prefix) { return audit(*db, sim.messages(), prefix); }
    /// Activity-log entries that hold `part`.
    long logged(const std::string& part) const;

    test::GatewaySimProcess sim;
    test::AppFixture fx;
    std::unique_ptr<Connection> db;
    std::vector<std::string> log;
};

}  // namespace parlix::reliability
