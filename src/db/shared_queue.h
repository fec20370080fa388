#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "db/message_queue.h"

namespace parlix {

class PgConnection;

/// The queue in a PostgreSQL database that several installations drain at once, with plain
/// PostgreSQL statements; text compares through lower(). A batch is claimed with FOR UPDATE SKIP
/// LOCKED, so two workers never take one row and none waits on another's rows. The claim, its
/// lease and the mark that the batch may have reached the gateway live in the table
/// ParlixClaims, where any worker sees them: a claim whose lease ran out is settled by whichever
/// worker finds it, by the rules a start applies to the file. The installation's own values
/// (its number, its remembered login) are its row of ProxyConfig.
class SharedQueue final : public MessageQueue {
public:
    /// `installation` names this installation among those sharing the queue; a claim's lease
    /// lasts `leaseSeconds` from its last renewal.
    SharedQueue(std::unique_ptr<PgConnection> db, std::string installation, long leaseSeconds);
    ~SharedQueue() override;

    /// Connects; raises DbError when the server cannot be reached.
    void open();

    bool isOpen() const override;
    void close() override;
    std::function<std::unique_ptr<MessageQueue>()> opener() const override;

    bool hasQueued() override;
    long countQueued(long limit) override;
    Batch takeBatch(long limit, const Chooser& choose) override;
    void markReaching(Batch& batch, const std::string& name) override;
    void renew(const Batch& batch) override;
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
    /// Extends the claim's lease, and marks it reaching when `reaching`; raises when it ran out.
    void extend(const Batch& batch, bool reaching, const std::string& name);

    std::unique_ptr<PgConnection> m_db;
    std::string m_installation;
    long m_lease;
    std::string m_leaseSeconds;
    /// The claim renewed last, and when.
    struct Renewal {
        std::int64_t claim = 0;
        std::chrono::steady_clock::time_point at;
    } m_renewed;
};

}  // namespace parlix
