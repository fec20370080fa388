#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/gateway_sim_process.h"
#include "support/queue_db.h"

namespace parlix::reliability {

inline const std::string kParlixd = test::builtProgram("src/daemon/parlixd");

/// A program folder for parlixd against gateway-sim: SMSDB.MDB, parlix.conf naming the sim's
/// servers (then `extraConf`), the settings folder "config" and the credentials file
/// "credentials" (mode 0600) of `user` with the password "pw". `db` is the test's own connection
/// to the queue. Every test that runs parlixd makes its folder and queue here.
struct DaemonFolder {
    DaemonFolder(test::GatewaySimProcess& sim, const std::string& user,
                 const std::string& extraConf = "")
        : db(test::makeQueueDatabase(dir.str())) {
        std::string conf = "http.connect_timeout_ms=2000\nhttp.total_timeout_ms=10000\n";
        for (int i = 1; i <= 5; ++i) {
            conf += "server" + std::to_string(i) + ".host=" + sim.serverHost(i) + "\n";
        }
        test::writeFile(dir / "parlix.conf", conf + extraConf);
        std::filesystem::create_directory(dir / "config");
        test::writeFile(dir / "credentials", "user=" + user + "\npassword=pw\n");
        ::chmod(path("credentials").c_str(), 0600);
    }
    std::string path(const std::string& name = "") const { return (dir / name).string(); }
    /// Starts parlixd with `args`, its output in `logName` beside the folder.
    std::unique_ptr<test::ChildProcess> start(const std::string& logName = "parlixd.log") {
        return std::make_unique<test::ChildProcess>(kParlixd, args, (logs / logName).string());
    }

    test::TempDir dir;
    test::TempDir logs;
    std::unique_ptr<Connection> db;
    std::vector<std::string> args{"--folder",     path(),          "--settings",
                                  path("config"), "--credentials", path("credentials")};
};

/// A loopback port that nothing listens on now.
inline int freeLoopbackPort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(s);
    return ntohs(a.sin_port);
}

/// Polls `done` every 10 ms until it holds; false when `p` ended first or 40 s passed.
inline bool waitUntil(test::ChildProcess& p, const std::function<bool()>& done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(40);
    while (p.running() && std::chrono::steady_clock::now() < until) {
        if (done()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

/// SIGTERM, then its exit code (nothing when it did not end within 20 s).
inline std::optional<int> terminate(test::ChildProcess& p) {
    p.signal(SIGTERM);
    return p.wait(std::chrono::seconds(20));
}

}  // namespace parlix::reliability
