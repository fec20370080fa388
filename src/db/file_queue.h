#pragma once

#include <memory>
#include <string>

#include "db/batch_marker.h"
#include "db/message_queue.h"

namespace parlix {

class Connection;

/// The queue in the local database file: plain SQLite statements over SQLCipher, with
/// `COLLATE NOCASE` where text is compared. A write transaction holds the file's one write lock,
/// so the rows of a batch are chosen and taken with no other writer in between. The batch
/// marker is the file InFlight.txt in the program folder.
class FileQueue final : public MessageQueue {
public:
    /// Owns `db`; `programFolder` holds the batch marker.
    FileQueue(std::unique_ptr<Connection> db, const std::string& programFolder);
    /// Works over a connection that stays its owner's.
    FileQueue(Connection& db, const std::string& programFolder);
    ~FileQueue() override;

    /// The connection, for what is not a statement on the queue: checks and tests.
    Connection& connection() { return m_db; }

    bool isOpen() const override;
    void close() override;
    std::function<std::unique_ptr<MessageQueue>()> opener() const override;

    bool hasQueued() override;
    long countQueued(long limit) override;
    Batch takeBatch(long limit, const Chooser& choose) override;
    void markReaching(Batch& batch, const std::string& name) override;
    void renew(const Batch&) override {}
    int settleBatch(const Batch& batch, Status to) override;
    Interrupted settleInterrupted(Status reached) override;

    std::vector<std::string> messageIdsStartingWith(const std::string& prefix) override;
    int applyReports(const std::vector<DeliveryReport>& reports) override;

    SavedLogin savedLogin() override;
    void saveLogin(const std::string& userId, const std::string& password,
                   const std::string& serverNo, const std::string& serverHost) override;
    Value installationNumber() override;
    bool storeInstallationNumber(const std::string& number) override;

    std::int64_t enqueue(const Value& mobile, const Value& message) override;
    std::vector<std::int64_t> enqueueAll(
        const std::vector<std::pair<Value, Value>>& messages) override;
    long count(const std::optional<std::string>& status) override;
    std::map<std::string, long> countByStatus() override;
    std::vector<QueueRow> list(const std::optional<std::string>& status, long limit) override;

    std::vector<RequestOutcome> queueRequests(
        const std::vector<QueueRequest>& requests, const std::string& now,
        const std::string& notBefore,
        const std::function<std::string(const std::vector<std::int64_t>&)>& answer) override;
    int forgetAnswersBefore(const std::string& notBefore) override;
    std::optional<RowLookup> lookUp(std::int64_t id) override;

    void createTables() override;
    void upgradeSchema() override;

private:
    /// Makes the table of the HTTP interface's idempotency keys when it is missing.
    void makeRequestKeys();

    std::unique_ptr<Connection> m_owned;
    Connection& m_db;
    std::string m_programFolder;
    BatchMarker m_marker;
};

}  // namespace parlix
