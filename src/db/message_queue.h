#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/value.h"

namespace parlix {

/// Where a queue row stands. Outside software queues a row; a sender takes it ("Read") and
/// settles it by the gateway's answer.
enum class Status { Queued, Read, Sent, DelSent, Deleted, Discarded };

/// The exact text a status is stored as ("Queued", "DelSent", ...).
std::string_view statusText(Status status);

/// The login the Connect button remembers for this installation. A field never saved is null.
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

/// A row still queued, as a sender taking a batch is offered it.
struct QueuedRow {
    std::int64_t key = 0;
    Value mobile;
    Value message;
};

/// What a sender writes into a row it takes: "Read" with the message id, the SMS type and the
/// times of a record written into the payload, or "Discarded" with its date alone.
struct RowTaken {
    std::int64_t key = 0;
    Status status = Status::Read;
    std::string qDateTime;
    std::string messageId;
    std::string smsType;
    std::string delDate;
};

/// The rows of one batch that a sender took for sending ("Read") and has not yet settled.
struct Batch {
    std::vector<std::int64_t> keys;
    /// The shared queue's claim on the rows; 0 in the file.
    std::int64_t claim = 0;
    /// Marked as reaching the gateway: from then on the gateway may hold the whole batch.
    bool reaching = false;
};

/// What settling the batches of an interrupted run did.
struct Interrupted {
    /// Rows of marked batches, which may have reached the gateway.
    int reached = 0;
    /// Whether any marked batch was found.
    bool marked = false;
    /// Taken rows that no marked batch names: back in the queue.
    int requeued = 0;
    /// Why a marker that was settled could not be removed; empty when it was. Until it is
    /// removed no new batch may be taken, for it may name rows that batch would take.
    std::string markerKept;
};

/// A delivery report for the rows that carry its message id.
struct DeliveryReport {
    std::string messageId;
    std::string status;
    std::string reason;
    /// ISO-8601 date and time.
    std::string time;
};

/// One row as a look-up by its key shows it; what was never written is null.
struct RowLookup {
    Value status;
    Value messageId;
    Value message;
    Value deliverStatus;
    Value deliverReason;
    Value deliverTime;
};

/// A request of the HTTP interface to queue messages: the messages (number, text), and its
/// idempotency key (empty when it has none) with the fingerprint of its body.
struct QueueRequest {
    std::vector<std::pair<Value, Value>> messages;
    std::string key;
    std::string fingerprint;
};

/// The answer kept under an idempotency key, and the fingerprint of the body that got it.
struct KeptAnswer {
    std::string fingerprint;
    std::string answer;
};

/// What became of a request: the keys of the rows it queued, or the answer kept under its key
/// (and then it queued nothing).
struct RequestOutcome {
    std::vector<std::int64_t> ids;
    std::optional<KeptAnswer> kept;
};

/// Raises DbError when `taken` names a row that is not among `offered`.
void checkOffered(const std::vector<QueuedRow>& offered, const std::vector<RowTaken>& taken);

/// The queue repository: every statement the programs run on the tables MessageQueue and
/// ProxyConfig, over the connection it owns. Text compared in a statement ignores case, because
/// the outside software creates the tables: 'queued' is queued. Everything here raises an
/// OutsideFailure (DbError, or FileError for the file's batch marker).
///
/// A batch is the unit of taking and settling: its rows are chosen and taken in one write
/// transaction while they are still queued, and every settle names the rows of its own batch.
class MessageQueue {
public:
    virtual ~MessageQueue() = default;

    virtual bool isOpen() const = 0;
    /// Closes the connection; what it held is released by the database.
    virtual void close() = 0;
    /// What opens another connection to the same queue, for another thread; it may be called
    /// from any thread.
    virtual std::function<std::unique_ptr<MessageQueue>()> opener() const = 0;

    /// Is any row queued?
    virtual bool hasQueued() = 0;
    /// Queued rows, counting at most `limit` of them.
    virtual long countQueued(long limit) = 0;

    /// Decides, for the rows offered, which are taken and what is written into each.
    using Chooser = std::function<std::vector<RowTaken>(const std::vector<QueuedRow>&)>;
    /// Takes a batch in one write transaction: `choose` is offered the first `limit` rows still
    /// queued, in the order they were queued, and what it returns is written into those rows. A
    /// row whose status another writer changed is neither offered nor written; what `choose`
    /// raises leaves every row as it was. The rows it made "Read".
    virtual Batch takeBatch(long limit, const Chooser& choose) = 0;
    /// Records durably that the batch may reach the gateway from now on, just before its last
    /// piece goes; `name` names it in the record. Raises when that cannot be recorded, and then
    /// the last piece must not go.
    virtual void markReaching(Batch& batch, const std::string& name) = 0;
    /// Keeps the batch's claim alive while it goes out; raises when the claim was lost.
    virtual void renew(const Batch& batch) = 0;
    /// Moves the batch's rows that are still taken to `to` and drops its marker; the number of
    /// rows moved.
    virtual int settleBatch(const Batch& batch, Status to) = 0;
    /// Settles what an interrupted run left taken: the rows of a marked batch to `reached`,
    /// every other taken row back to "Queued". Run it only while no batch taken through this
    /// repository is unsettled.
    virtual Interrupted settleInterrupted(Status reached) = 0;

    /// The message ids that start with `prefix`, exactly and in case.
    virtual std::vector<std::string> messageIdsStartingWith(const std::string& prefix) = 0;
    /// Writes delivery reports into the rows carrying their message ids, all in one
    /// transaction; the number of rows written.
    virtual int applyReports(const std::vector<DeliveryReport>& reports) = 0;

    /// The remembered login; raises when there is no row to hold it or it lacks its columns.
    virtual SavedLogin savedLogin() = 0;
    /// Remembers a login. `serverNo` must read as a number.
    virtual void saveLogin(const std::string& userId, const std::string& password,
                           const std::string& serverNo, const std::string& serverHost) = 0;
    /// The installation number, which may be null; raises when there is no row to hold it.
    virtual Value installationNumber() = 0;
    /// Stores the installation number, provided none is stored yet: false when another
    /// installation sharing the queue holds that number. Raises DbError when another writer has
    /// set this installation's number meanwhile.
    virtual bool storeInstallationNumber(const std::string& number) = 0;

    /// Queues a message; its key.
    virtual std::int64_t enqueue(const Value& mobile, const Value& message) = 0;
    /// Queues messages in one transaction, all or none; their keys in order.
    virtual std::vector<std::int64_t> enqueueAll(
        const std::vector<std::pair<Value, Value>>& messages) = 0;
    /// Rows with the given status, or all rows.
    virtual long count(const std::optional<std::string>& status = std::nullopt) = 0;
    /// Rows per status text, as stored.
    virtual std::map<std::string, long> countByStatus() = 0;
    /// The first `limit` rows, of one status or all, in key order.
    virtual std::vector<QueueRow> list(const std::optional<std::string>& status, long limit) = 0;

    /// Queues the messages of several requests in one transaction, all or none. A request whose
    /// key was kept since `notBefore` queues nothing and gets what was kept; each other request
    /// with a key keeps `answer(ids)` under it, dated `now` (ISO-8601 UTC text, which sorts).
    virtual std::vector<RequestOutcome> queueRequests(
        const std::vector<QueueRequest>& requests, const std::string& now,
        const std::string& notBefore,
        const std::function<std::string(const std::vector<std::int64_t>&)>& answer) = 0;
    /// Forgets the answers kept before `notBefore`; how many.
    virtual int forgetAnswersBefore(const std::string& notBefore) = 0;
    /// One row by its key, or nothing.
    virtual std::optional<RowLookup> lookUp(std::int64_t id) = 0;

    /// Creates the tables of a new queue as the software that fills the queue does. All or
    /// nothing.
    virtual void createTables() = 0;
    /// Adds the columns and the message-id index that an older queue lacks. Every statement is
    /// tried; one that fails (its column exists, its table is missing, the connection is
    /// closed) is skipped without a word.
    virtual void upgradeSchema() = 0;
};

}  // namespace parlix
