#include "support/gateway_sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "transport/gateway_url.h"

namespace parlix::test {

namespace {

constexpr int kStartTimeoutMs = 10000;

std::string readLine(int fd, int timeoutMs) {
    std::string line;
    while (true) {
        pollfd p{fd, POLLIN, 0};
        int n = ::poll(&p, 1, timeoutMs);
        if (n <= 0) {
            throw std::runtime_error("gateway-sim did not report its port in time");
        }
        char c = 0;
        ssize_t got = ::read(fd, &c, 1);
        if (got <= 0) {
            throw std::runtime_error("gateway-sim ended before it listened");
        }
        if (c == '\n') {
            return line;
        }
        line.push_back(c);
    }
}

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
    std::vector<std::string> args = {binaryPath(), "--port", "0"};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error("cannot create a pipe for gateway-sim");
    }
    const pid_t parent = ::getpid();
    m_pid = ::fork();
    if (m_pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        throw std::runtime_error("cannot start gateway-sim");
    }
    if (m_pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) {
            ::_exit(127);
        }
        ::dup2(fds[1], STDOUT_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    m_stdout = fds[0];
    try {
        std::string line = readLine(m_stdout, kStartTimeoutMs);
        size_t colon = line.find("127.0.0.1:");
        if (colon == std::string::npos) {
            throw std::runtime_error("gateway-sim said: " + line);
        }
        m_port = std::atoi(line.c_str() + colon + 10);
        m_control = std::make_unique<CurlHttpClient>(m_ui, HttpTimeouts{5000, 10000});
    } catch (...) {
        stop();
        throw;
    }
}

GatewaySimProcess::~GatewaySimProcess() {
    stop();
}

void GatewaySimProcess::stop() {
    m_control.reset();
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        int status = 0;
        for (int i = 0; i < 500; ++i) {
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &status, 0);
            m_pid = -1;
        }
    }
    if (m_stdout >= 0) {
        ::close(m_stdout);
        m_stdout = -1;
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
