#include "support/gateway_sim_process.h"

#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "transport/gateway_url.h"

namespace parlix::test {

namespace {

constexpr auto kStartTimeout = std::chrono::seconds(10);

}  // namespace

std::string GatewaySimProcess::binaryPath() {
    char self[4096];
    ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) {
        throw std::runtime_error("cannot find the running program");
    }
    std::string exe(self, static_cast<size_t>(n));
    // Tests live in <build>/tests, benchmarks in <build>/bench.
    std::string buildDir = exe.substr(0, exe.rfind('/'));
    buildDir = buildDir.substr(0, buildDir.rfind('/'));
    return buildDir + "/tools/gateway-sim/gateway-sim";
}

GatewaySimProcess::GatewaySimProcess(std::vector<std::string> extraArgs) {
    std::vector<std::string> args = {"--port", "0"};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    m_child = std::make_unique<ChildProcess>(binaryPath(), args, (m_dir / "output").string());
    const auto until = std::chrono::steady_clock::now() + kStartTimeout;
    std::string line;
    while (line.empty()) {
        std::string out = m_child->output();
        size_t end = out.find('\n');
        if (end != std::string::npos) {
            line = out.substr(0, end);
        } else if (!m_child->running() || std::chrono::steady_clock::now() > until) {
            throw std::runtime_error("gateway-sim did not come up: " + out);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    size_t colon = line.find("127.0.0.1:");
    if (colon == std::string::npos) {
        throw std::runtime_error("gateway-sim said: " + line);
    }
    m_port = std::atoi(line.c_str() + colon + 10);
    m_control = std::make_unique<CurlHttpClient>(m_ui, HttpTimeouts{5000, 10000});
}

GatewaySimProcess::~GatewaySimProcess() {
    stop();
}

void GatewaySimProcess::stop() {
    m_control.reset();
    if (m_child) {
        m_child->signal(SIGTERM);
        m_child->wait(std::chrono::seconds(5));
    }
}

std::string GatewaySimProcess::host() const {
    return "127.0.0.1:" + std::to_string(m_port);
}

std::string GatewaySimProcess::serverHost(int serverNo) {
    JsonValue servers = get("/_sim/servers")["servers"];
    for (const JsonValue& s : servers.array()) {
        if (s["name"].str() == std::to_string(serverNo)) {
            return s["host"].str();
        }
    }
    throw std::runtime_error("gateway-sim has no server " + std::to_string(serverNo));
}

JsonValue GatewaySimProcess::get(const std::string& pathAndQuery) {
    return JsonValue::parse(m_control->get("http://" + host() + pathAndQuery));
}

JsonValue GatewaySimProcess::post(const std::string& pathAndQuery) {
    return JsonValue::parse(m_control->post("http://" + host() + pathAndQuery, "", "text/plain"));
}

void GatewaySimProcess::addAccount(const SimAccount& a) {
    JsonValue reply = post(gatewayUrl("", "", "/_sim/accounts",
                                      {{"user", a.user},
                                       {"password", a.password},
                                       {"balance", std::to_string(a.balance)},
                                       {"dr", a.drAllowed ? "yes" : "no"},
                                       {"notice", a.notice},
                                       {"senderids", a.senderIds}}));
    if (reply.has("error")) {
        throw std::runtime_error("gateway-sim refused the account: " + reply["error"].str());
    }
}

void GatewaySimProcess::setFaults(const std::string& query) {
    JsonValue reply = post("/_sim/faults?" + query);
    if (reply.has("error")) {
        throw std::runtime_error("gateway-sim refused the faults: " + reply["error"].str());
    }
}

}  // namespace parlix::test
