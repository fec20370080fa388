#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gateway.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace parlix::sim {

/// The listening sockets of the simulated gateway, all on 127.0.0.1. "main" carries the
/// control API under /_sim/ and answers gateway requests too; servers "1" to "5" and "9" (the
/// custom host) each have a port of their own, so that one of them can refuse connections
/// while the others answer. With a main port N other than 0, server k listens on N + k;
/// with port 0 every port is picked by the system.
class SimServers {
public:
    explicit SimServers(Gateway& gateway);
    ~SimServers();
    SimServers(const SimServers&) = delete;
    SimServers& operator=(const SimServers&) = delete;

    /// Binds and starts every listener; false with `error` set when a port cannot be bound.
    bool start(int mainPort, std::string& error);
    /// Stops every listener and waits for their threads.
    void stopAll();
    /// "name=port" for every listener, main first.
    std::vector<std::pair<std::string, int>> ports() const;

    /// Set by POST /_sim/shutdown; main() waits for it or a signal.
    std::atomic<bool> shutdownRequested{false};

private:
    struct Listener;

    bool startListener(Listener& listener, int port, std::string& error);
    void stopListener(Listener& listener);
    void serve(Listener& listener, const httplib::Request& req, httplib::Response& res);
    void control(const httplib::Request& req, httplib::Response& res);
    void controlFaults(const std::vector<std::pair<std::string, std::string>>& query,
                       httplib::Response& res);
    std::string serversJson() const;
    Listener* findListener(const std::string& name);

    Gateway& m_gateway;
    mutable std::mutex m_mutex;
    std::vector<std::unique_ptr<Listener>> m_listeners;
};

}  // namespace parlix::sim
