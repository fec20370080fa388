#include "hostile_server.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>

namespace parlix::reliability {

HostileServer::HostileServer() : m_server(std::make_unique<httplib::Server>()) {
    auto handler = [this](const httplib::Request& req, httplib::Response& res) {
        Script script;
        {
            std::lock_guard lock(m_mutex);
            ++m_hits[req.path];
            auto it = m_scripts.find(req.path);
            if (it != m_scripts.end()) {
                script = it->second;
            }
        }
        if (!script) {
            res.status = 404;
            res.set_content("no script for " + req.path, "text/plain");
            return;
        }
        HostileReply reply = script(req.target);
        if (reply.streamedBytes == 0) {
            res.set_content(reply.body, "text/html");
            return;
        }
        const size_t total = reply.streamedBytes;
        res.set_content_provider(total, "text/html",
                                 [total](size_t offset, size_t, httplib::DataSink& sink) {
                                     static const std::string filler(64 * 1024, 'x');
                                     size_t n = std::min(filler.size(), total - offset);
                                     return sink.write(filler.data(), n);
                                 });
    };
    m_server->Get(".*", handler);
    m_server->Post(".*", handler);
    m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port <= 0) {
        throw std::runtime_error("the hostile gateway cannot bind a loopback port");
    }
    httplib::Server* raw = m_server.get();
    m_thread = std::thread([raw] { raw->listen_after_bind(); });
    for (int i = 0; i < 5000 && !raw->is_running(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

HostileServer::~HostileServer() {
    m_server->stop();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

std::string HostileServer::host() const {
    return "127.0.0.1:" + std::to_string(m_port);
}

void HostileServer::on(const std::string& path, Script script) {
    std::lock_guard lock(m_mutex);
    m_scripts[path] = std::move(script);
}

void HostileServer::on(const std::string& path, const std::string& body) {
    on(path, [body](const std::string&) { return HostileReply{body, 0}; });
}

long HostileServer::hits(const std::string& path) const {
    std::lock_guard lock(m_mutex);
    auto it = m_hits.find(path);
    return it == m_hits.end() ? 0 : it->second;
}

}  // namespace parlix::reliability
