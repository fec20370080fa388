#pragma once

#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <string>

#include "base/text.h"
#include "db/connection.h"
#include "db/message_queue.h"
#include "db/open_database.h"
#include "support/gateway_sim_process.h"
#include "support/queue_db.h"

// The reliability suite is told whether it runs in the sanitizer build; the benchmarks are not.
#ifndef PARLIX_RELIABILITY_SANITIZED
#define PARLIX_RELIABILITY_SANITIZED 0
#endif

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
inline Audit audit(MessageQueue& queue, const test::Json& messages, const std::string& prefix) {
    Audit a;
    std::set<std::string> received;
    for (const test::Json& m : messages) {
        if (m.at("text").get<std::string>().starts_with(prefix)) {
            a.duplicates += received.insert(m.at("text").get<std::string>()).second ? 0 : 1;
        }
    }
    a.receivedDistinct = static_cast<long>(received.size());
    for (const QueueRow& row : queue.list(std::nullopt, 10000000)) {
        if (row.message.starts_with(prefix)) {
            ++a.statuses[row.status];
            const bool never = received.count(row.message) == 0;
            a.deletedNeverReceived += never && row.status == "Deleted" ? 1 : 0;
        }
    }
    return a;
}

/// Queues `count` rows in one transaction, with distinct texts "<prefix><n>-" followed by random
/// letters up to `length` characters, so that payloads do not shrink much when compressed.
inline void enqueueNew(MessageQueue& queue, const std::string& prefix, int count,
                       size_t length = 60) {
    std::mt19937_64 rng(std::hash<std::string>{}(prefix));
    std::uniform_int_distribution<int> letter('a', 'z');
    std::vector<std::pair<Value, Value>> rows;
    for (int n = 0; n < count; ++n) {
        std::string text = prefix + std::to_string(n) + "-";
        while (text.size() < length) {
            text += static_cast<char>(letter(rng));
        }
        rows.emplace_back(std::to_string(9800000000LL + n), text);
    }
    queue.enqueueAll(rows);
}

/// Rows still to send: "Queued" or "Read", counted by one statement. Two counts would miss the
/// rows that a start moves from "Read" back to "Queued" between them.
inline long waiting(MessageQueue& queue) {
    long rows = 0;
    for (const auto& [status, n] : queue.countByStatus()) {
        rows += toLower(status) == "queued" || toLower(status) == "read" ? n : 0;
    }
    return rows;
}

/// "PRAGMA integrity_check" of a queue file, opened afresh.
inline std::string integrityOf(const std::string& dbPath) {
    Connection c;
    c.openFile(dbPath, kDatabasePassword);
    return c.scalar("PRAGMA integrity_check").toText();
}

/// The count for the mode the suite runs in: PARLIX_RELIABILITY_LONG=1 asks for the long one.
inline int scaled(int shortCount, int longCount, int sanitizedCount) {
    const char* mode = std::getenv("PARLIX_RELIABILITY_LONG");
    const bool isLong = mode != nullptr && *mode != '\0' && std::string(mode) != "0";
    return isLong ? longCount : PARLIX_RELIABILITY_SANITIZED ? sanitizedCount : shortCount;
}

}  // namespace parlix::reliability
