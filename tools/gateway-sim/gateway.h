#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "accounts.h"
#include "transport/code_page.h"

namespace parlix::sim {

/// One request as a simulated server received it.
struct GatewayRequest {
    std::string server;  // "main", "1".."5" or "9"
    std::string method;
    std::string path;
    std::string target;  // path and query as sent
    std::string contentType;
    std::string body;
    std::string peer;  // client address and port: equal for requests on one kept-alive connection
};

/// How a reply leaves the server.
enum class Delivery { Whole, CutMidway };

struct GatewayReply {
    int status = 200;
    std::string body;
    Delivery delivery = Delivery::Whole;
    int delayMs = 0;
};

/// Faults of one simulated server. Delay, garbage, cut and reply apply to every gateway request
/// on the server, or only to those on the path `path` and whose target (path and query) holds
/// `match`, when they are set; a '*' in `match` stands for any text.
struct ServerFaults {
    std::optional<std::string> checkReply;
    int delayMs = 0;
    bool garbage = false;
    bool cut = false;
    std::optional<std::string> reply;  // answered instead of the gateway's own reply
    size_t replyBytes = 0;             // the reply padded with 'x' up to this many bytes
    std::string path;
    std::string match;
};

/// Faults of the gateway as a whole.
struct GatewayFaults {
    int refusePiece = 0;  // 1-based piece of every upload that is refused; 0 for none
    bool refuseDebit = false;
    std::optional<std::string> doneReply;
    std::optional<std::string> completeReply;
};

/// The simulated gateway: accounts, uploads, messages, debits and delivery reports, shared by
/// all simulated servers. Every public member is safe to call from any server thread.
class Gateway {
public:
    Gateway(std::vector<Account> accounts, std::string codePage, std::string stateFile);

    /// Answers one of the five gateway requests, and records it.
    GatewayReply handle(const GatewayRequest& request);

    /// Adds an account or replaces the one with the same user id.
    void putAccount(const Account& account);
    void setServerFaults(const std::string& server, const ServerFaults& faults);
    ServerFaults serverFaults(const std::string& server) const;
    void setGatewayFaults(const GatewayFaults& faults);
    GatewayFaults gatewayFaults() const;
    void clearFaults();
    /// Forgets requests, uploads, messages, batches, debits and faults; accounts stay.
    void reset();
    /// Sets the delivery report of the messages with this id and offers it again; returns how
    /// many messages it found.
    int setReport(const std::string& messageId, const std::string& status,
                  const std::string& reason, const std::string& time);

    /// JSON arrays of what the gateway has seen, oldest first; faultsJson is an object.
    std::string requestsJson(std::uint64_t since) const;
    std::string messagesJson() const;
    /// Counts only, for large runs: messages kept, distinct message ids among them, and the
    /// ids received more than once (at most 100 listed).
    std::string messageSummaryJson() const;
    std::string batchesJson() const;
    std::string debitsJson() const;
    std::string accountsJson() const;
    std::string faultsJson() const;
    /// Messages forgotten to keep memory bounded.
    std::uint64_t messagesDropped() const;

    static constexpr size_t kMaxRequests = 10000;
    static constexpr size_t kMaxMessages = 100000;
    static constexpr size_t kMaxBatches = 10000;
    static constexpr size_t kMaxDebits = 10000;
    static constexpr size_t kMaxPendingUploads = 64;
    static constexpr size_t kMaxUploadHex = 32u * 1024 * 1024;
    static constexpr size_t kMaxPendingHexTotal = 64u * 1024 * 1024;
    static constexpr size_t kMaxReportLines = 500;

private:
    struct Upload {
        std::string user;
        std::string hex;
        int pieces = 0;
        std::uint64_t started = 0;
    };
    struct Message {
        std::uint64_t seq = 0;
        std::string batch, flag, kind, user, server, number, messageId, type, text, senderId;
        std::string reportStatus, reportReason, reportTime;
        bool reported = false;
    };
    struct Batch {
        std::uint64_t seq = 0;
        std::string flag, batch, kind, user, server, cdmaId, gsmId;
        int pieces = 0;
        size_t hexLength = 0;
        size_t payloadBytes = 0;
        size_t records = 0;
        bool debited = false;
    };
    struct Debit {
        std::uint64_t seq = 0;
        std::string user, flnm, reply;
        long long parts = 0;
        bool ok = false;
        bool batchFound = false;
        long long balanceAfter = 0;
    };
    struct RequestRecord {
        std::uint64_t seq = 0;
        GatewayRequest request;
        std::vector<std::pair<std::string, std::string>> query;
        long long msgTextLength = -1;
        std::string reply;
        std::string fault;
    };
    using Query = std::vector<std::pair<std::string, std::string>>;

    GatewayReply route(const GatewayRequest& request, const Query& query, RequestRecord& record);
    GatewayReply serverCheck(const std::string& server);
    GatewayReply login(const Query& query);
    GatewayReply upload(const GatewayRequest& request, const Query& query, RequestRecord& record);
    GatewayReply finishUpload(const std::string& flag, Upload upload, const std::string& server);
    GatewayReply debit(const Query& query);
    GatewayReply deliveryReports(const Query& query);

    Account* findAccount(const std::string& userId);
    void saveState();
    void dropPending(const std::pair<std::string, std::string>& key);
    std::string nowText() const;

    mutable std::mutex m_mutex;
    std::vector<Account> m_accounts;
    CodePageConverter m_toUtf8;
    std::string m_stateFile;
    std::map<std::string, ServerFaults> m_serverFaults;
    GatewayFaults m_faults;
    std::map<std::pair<std::string, std::string>, Upload> m_pending;  // by (ID, Flag)
    size_t m_pendingHex = 0;
    std::deque<RequestRecord> m_requests;
    std::deque<Message> m_messages;
    std::deque<Batch> m_batches;
    std::deque<Debit> m_debits;
    std::uint64_t m_seq = 0;
    std::uint64_t m_messagesDropped = 0;
};

/// Splits a raw query into its key and value pairs, in order, values decoded.
std::vector<std::pair<std::string, std::string>> parseQuery(std::string_view rawQuery);

}  // namespace parlix::sim
