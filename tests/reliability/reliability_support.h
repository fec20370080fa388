#pragma once

#include <map>
#include <random>
#include <set>
#include <string>

#include "db/connection.h"
#include "db/open_database.h"
#include "support/gateway_sim_process.h"
#include "support/queue_db.h"

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
inline Audit audit(Connection& db, const test::Json& messages, const std::string& prefix) {
    Audit a;
    std::set<std::string> received;
    for (const test::Json& m : messages) {
        if (m.at("text").get<std::string>().starts_with(prefix)) {
            a.duplicates += received.insert(m.at("text").get<std::string>()).second ? 0 : 1;
        }
    }
    a.receivedDistinct = static_cast<long>(received.size());
    for (const auto& row : test::query(db, "select Message, Status from MessageQueue")) {
        const std::string status = row["Status"].toText();
        if (row["Message"].toText().starts_with(prefix)) {
            ++a.statuses[status];
            const bool never = received.count(row["Message"].toText()) == 0;
            a.deletedNeverReceived += never && status == "Deleted" ? 1 : 0;
        }
    }
    return a;
}

/// Queues `count` rows in one transaction, with distinct texts "<prefix><n>-" followed by random
/// letters up to `length` characters, so that payloads do not shrink much when compressed.
inline void enqueueNew(Connection& db, const std::string& prefix, int count, size_t length = 60) {
    std::mt19937_64 rng(std::hash<std::string>{}(prefix));
    std::uniform_int_distribution<int> letter('a', 'z');
    db.beginTrans();
    for (int n = 0; n < count; ++n) {
        std::string text = prefix + std::to_string(n) + "-";
        while (text.size() < length) {
            text += static_cast<char>(letter(rng));
        }
        test::enqueue(db, std::to_string(9800000000LL + n), text);
    }
    db.commitTrans();
}

/// Rows whose status is "Queued" or "Read".
inline long waiting(Connection& db) {
    return static_cast<long>(
        db.scalar("select count(*) from MessageQueue where Status in ('Queued', 'Read')")
            .integer());
}

/// "PRAGMA integrity_check" of a queue file, opened afresh.
inline std::string integrityOf(const std::string& dbPath) {
    Connection c;
    c.openFile(dbPath, kDatabasePassword);
    return c.scalar("PRAGMA integrity_check").toText();
}

}  // namespace parlix::reliability
