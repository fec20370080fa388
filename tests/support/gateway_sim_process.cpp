#include "support/gateway_sim_process.h"

#include <csignal>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "transport/gateway_url.h"

namespace parlix::test {

GatewaySimProcess::GatewaySimProcess() {
    m_child = std::make_unique<ChildProcess>(builtProgram("tools/gateway-sim/gateway-sim"),
                                             std::vector<std::string>{"--port", "0"},
                                             (m_dir / "output").string());
    // It prints "gateway-sim listening on 127.0.0.1:P servers 1=P1 ... 9=P9" once it listens.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::string out;
    while ((out = m_child->output()).find('\n') == std::string::npos) {
        if (!m_child->running() || std::chrono::steady_clock::now() > until) {
            throw std::runtime_error("gateway-sim did not come up: " + out);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::istringstream words(out.substr(out.find("127.0.0.1:") + 10));
    words >> m_port;
    for (std::string word; words >> word;) {
        if (size_t eq = word.find('='); eq != std::string::npos) {
            m_servers[std::stoi(word.substr(0, eq))] = std::stoi(word.substr(eq + 1));
        }
    }
    m_control = std::make_unique<CurlHttpClient>(m_ui, HttpTimeouts{5000, 10000});
}

GatewaySimProcess& GatewaySimProcess::shared() {
    static GatewaySimProcess sim;
    sim.post("/_sim/faults/clear");
    sim.post("/_sim/reset");
    return sim;
}

GatewaySimProcess::~GatewaySimProcess() {
    m_control.reset();
    m_child->signal(SIGTERM);
    m_child->wait(std::chrono::seconds(5));
}

Json GatewaySimProcess::get(const std::string& pathAndQuery) {
    return Json::parse(m_control->get("http://" + host() + pathAndQuery));
}

Json GatewaySimProcess::post(const std::string& pathAndQuery) {
    return Json::parse(m_control->post("http://" + host() + pathAndQuery, "", "text/plain"));
}

void GatewaySimProcess::postOrThrow(const std::string& pathAndQuery) {
    if (Json reply = post(pathAndQuery); reply.contains("error")) {
        throw std::runtime_error("gateway-sim refused " + pathAndQuery + ": " +
                                 reply.at("error").get<std::string>());
    }
}

void GatewaySimProcess::addAccount(const SimAccount& a) {
    postOrThrow(gatewayUrl("", "", "/_sim/accounts",
                           {{"user", a.user},
                            {"password", a.password},
                            {"balance", std::to_string(a.balance)},
                            {"dr", a.drAllowed ? "yes" : "no"},
                            {"notice", a.notice},
                            {"senderids", a.senderIds}}));
}

}  // namespace parlix::test
