#pragma once

#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/fakes.h"
#include "support/temp_dir.h"
#include "transport/curl_http_client.h"

namespace parlix::test {

/// What gateway-sim's control API reports.
using Json = nlohmann::json;

/// An account as gateway-sim's control API takes it.
struct SimAccount {
    std::string user;
    std::string password;
    long long balance = 0;
    bool drAllowed = false;
    std::string notice;
    std::string senderIds;  // comma-separated, or "*" for the open sender id
};

/// gateway-sim running as a child process on ephemeral loopback ports, with its control API.
/// The child is stopped when this object goes, and also when the test process dies.
class GatewaySimProcess {
public:
    /// Starts the simulator and waits until it listens. Throws std::runtime_error when it does
    /// not come up.
    GatewaySimProcess();
    ~GatewaySimProcess();
    GatewaySimProcess(const GatewaySimProcess&) = delete;
    GatewaySimProcess& operator=(const GatewaySimProcess&) = delete;

    /// One simulator for the whole test program, started at the first call. Every call clears
    /// its faults and forgets its requests, uploads and messages; accounts stay.
    static GatewaySimProcess& shared();

    /// "127.0.0.1:port" of the main port (gateway and control API).
    std::string host() const { return "127.0.0.1:" + std::to_string(m_port); }
    /// "127.0.0.1:port" of simulated server 1 to 5 or 9.
    std::string serverHost(int serverNo) {
        return "127.0.0.1:" + std::to_string(m_servers.at(serverNo));
    }

    /// GET or POST of a control path such as "/_sim/requests"; the parsed JSON reply.
    Json get(const std::string& pathAndQuery);
    Json post(const std::string& pathAndQuery);

    void addAccount(const SimAccount& account);
    /// POST /_sim/faults with the given query, e.g. "server=3&refuse=1"; throws when refused.
    void setFaults(const std::string& query) { postOrThrow("/_sim/faults?" + query); }
    Json requests() { return get("/_sim/requests")["requests"]; }
    Json messages() { return get("/_sim/messages")["messages"]; }
    Json batches() { return get("/_sim/batches")["batches"]; }
    Json debits() { return get("/_sim/debits")["debits"]; }

private:
    void postOrThrow(const std::string& pathAndQuery);

    TempDir m_dir;
    std::unique_ptr<ChildProcess> m_child;
    int m_port = 0;
    std::map<int, int> m_servers;  // port by server number
    FakeUi m_ui;
    std::unique_ptr<CurlHttpClient> m_control;
};

}  // namespace parlix::test
