#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/value.h"

namespace parlix {

class Connection;
class Recordset;

/// Where a queue row stands. Outside software queues a row; a sender takes it ("Read") and
/// settles it by the gateway's answer.
enum class Status { Queued, Read, Sent, DelSent, Deleted, Discarded };

/// The exact text a status is stored as ("Queued", "DelSent", ...).
std::string_view statusText(Status status);

/// The login the Connect button remembers in the first ProxyConfig row. A field never saved is
/// null.
struct SavedLogin {
    Value userId;
    Value password;
    Value serverNo;
    Value serverHost;
};

/// One queue row as the queue tool lists it.
struct QueueRow {
    std::int64_t id = 0;
    std::string status;
    std::string mobile;
    std::string message;
};

/// Every statement the programs run on the tables MessageQueue and ProxyConfig. Text compared
/// in a statement ignores case, because the outside software creates the tables and need not
/// declare their columns so: 'queued' is queued. Everything here raises DbError.
class MessageQueue {
public:
    explicit MessageQueue(Connection& db);

    /// Is any row queued?
    bool hasQueued();
    /// Queued rows, counting at most `limit` of them.
    long countQueued(long limit);
    /// A keyset over the first `limit` queued rows, in the order they were queued. Each row is
    /// read afresh when the cursor reaches it and saved under optimistic locking.
    std::unique_ptr<Recordset> takeQueued(long limit);
    /// Moves every row taken for sending ("Read") to `to`: the rows of the batch in hand and any
    /// that an earlier batch left taken. The number of rows moved.
    int settleTaken(Status to);
    /// The message ids that start with `prefix`, exactly and in case.
    std::vector<std::string> messageIdsStartingWith(const std::string& prefix);
    /// Writes a delivery report into the rows carrying `messageId`; the number of rows.
    int applyReport(const std::string& messageId, const std::string& status,
                    const std::string& reason, const std::string& isoTime);

    /// The remembered login; raises when ProxyConfig has no row or lacks its columns.
    SavedLogin savedLogin();
    /// Remembers a login in every ProxyConfig row. `serverNo` must read as a number.
    void saveLogin(const std::string& userId, const std::string& password,
                   const std::string& serverNo, const std::string& serverHost);
    /// The installation number of the first ProxyConfig row, which may be null; raises when
    /// there is no row.
    Value installationNumber();
    /// Stores the installation number in the first ProxyConfig row, provided it still holds
    /// none; raises DbError when another writer has set one meanwhile.
    void storeInstallationNumber(const std::string& number);

    /// Queues a message; its key.
    std::int64_t enqueue(const Value& mobile, const Value& message);
    /// Rows with the given status, or all rows.
    long count(const std::optional<std::string>& status = std::nullopt);
    /// Rows per status text, as stored.
    std::map<std::string, long> countByStatus();
    /// The first `limit` rows, of one status or all, in key order.
    std::vector<QueueRow> list(const std::optional<std::string>& status, long limit);

    /// Creates the tables of a new queue database as the software that fills the queue does:
    /// MessageQueue with an integer key and a case-blind index on Status, ProxyConfig with one
    /// row, and ClientMaster. All or nothing.
    void createTables();
    /// Adds the columns and the message-id index that an older database lacks. Every statement
    /// is tried; one that fails (its column exists, its table is missing, the connection is
    /// closed) is skipped without a word.
    void upgradeSchema();

    // The HTTP interface's statements
    /// A message to queue: its number and its text.
    struct NewMessage {
        std::string mobile;
        std::string text;
    };
    /// One row as a look-up shows it; what was never written is null.
    struct Lookup {
        Value status;
        Value messageId;
        Value message;
        Value deliverStatus;
        Value deliverReason;
        Value deliverTime;
    };
    /// The answer a request with an idempotency key got, and the fingerprint of its body.
    struct KeptAnswer {
        std::string fingerprint;
        std::string answer;
    };
    /// Makes every commit on this connection wait until the disk holds it.
    void syncEveryCommit();
    /// Queues the messages in order, inside the caller's transaction; their keys.
    std::vector<std::int64_t> enqueueAll(const std::vector<NewMessage>& messages);
    /// One row by its key, or nothing.
    std::optional<Lookup> lookUp(std::int64_t id);
    /// Creates the table of idempotency keys when it is missing.
    void createIdempotencyKeys();
    /// The answer kept for `key` since `notBefore` (ISO-8601 UTC text), or nothing.
    std::optional<KeptAnswer> keptAnswer(const std::string& key, const std::string& notBefore);
    /// Keeps an answer under `key`, replacing one that expired.
    void keepAnswer(const std::string& key, const KeptAnswer& kept, const std::string& now);
    /// Forgets the keys kept before `notBefore`; how many.
    int forgetAnswersBefore(const std::string& notBefore);

private:
    Connection& m_db;
};

}  // namespace parlix
