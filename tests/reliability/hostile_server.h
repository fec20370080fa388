#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace parlix::reliability {

/// What a hostile gateway answers to one request: a body, or `streamedBytes` of filler sent in
/// pieces, so that a huge reply never sits whole in this process.
struct HostileReply {
    std::string body;
    size_t streamedBytes = 0;
};

/// A gateway on a loopback port that answers whatever a test scripts, per path. Paths without a
/// script answer 404.
class HostileServer {
public:
    using Script = std::function<HostileReply(const std::string& target)>;

    HostileServer();
    ~HostileServer();
    HostileServer(const HostileServer&) = delete;
    HostileServer& operator=(const HostileServer&) = delete;

    /// "127.0.0.1:port".
    std::string host() const;
    void on(const std::string& path, Script script);
    void on(const std::string& path, const std::string& body);
    /// Requests received for a path.
    long hits(const std::string& path) const;

private:
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;
    mutable std::mutex m_mutex;
    std::map<std::string, Script> m_scripts;
    std::map<std::string, long> m_hits;
};

}  // namespace parlix::reliability
