#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/connection.h"
#include "support/child_process.h"
#include "support/gateway_sim_process.h"
#include "support/json_value.h"
#include "support/temp_dir.h"

namespace parlix::reliability {

/// The queue compared with what the gateway received. Rows and messages are matched by text,
/// which every test makes unique per row.
struct Audit {
    std::map<std::string, long> statuses;  // row count per status, as stored
    long receivedDistinct = 0;
    long duplicates = 0;            // copies beyond the first
    long deletedNeverReceived = 0;  // lost: marked Deleted before it went out
    long status(const std::string& s) const { return statuses.count(s) ? statuses.at(s) : 0; }
};

/// Audits the rows whose Message starts with `prefix` against the gateway's messages.
Audit audit(Connection& db, const test::JsonValue& messages, const std::string& prefix);

/// Queues `count` rows in one transaction, with distinct texts "<prefix><n>-" followed by random
/// letters up to `length` characters, so that payloads do not shrink much when compressed.
void enqueueNew(Connection& db, const std::string& prefix, int count, size_t length = 60);
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
    std::vector<std::string> args() const {
        return {"--folder",     path(),          "--settings",
                path("config"), "--credentials", path("credentials")};
    }
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

/// Waits until no row of the queue waits; false when `p` ended first or 40 s passed.
bool waitDrained(Connection& db, test::ChildProcess& p);
/// SIGTERM, then its exit code (nothing when it did not end within 20 s).
std::optional<int> terminate(test::ChildProcess& p);

}  // namespace parlix::reliability
