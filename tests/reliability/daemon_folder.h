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

#include "db/file_queue.h"
#include "db/pg_connection.h"
#include "db/shared_queue.h"
#include "support/child_process.h"
#include "support/gateway_sim_process.h"
#include "support/queue_db.h"

namespace parlix::reliability {

inline const std::string kParlixd = test::builtProgram("src/daemon/parlixd");

/// A program folder for parlixd against gateway-sim: SMSDB.MDB, parlix.conf naming the sim's
/// servers (then `extraConf`), the settings folder "config" and the credentials file
/// "credentials" (mode 0600) of `user` with the password "pw". parlixd drains the folder's file,
/// or the shared queue `sharedQueue` names, whose tables the caller makes. `db` is the test's own
/// connection to the file, `queue` to the queue parlixd drains. Every test that runs parlixd
/// makes its folder and queue here.
struct DaemonFolder {
    DaemonFolder(test::GatewaySimProcess& sim, const std::string& user,
                 const std::string& extraConf = "", const std::string& sharedQueue = "")
        : db(test::makeQueueDatabase(dir.str())) {
        std::string conf = "http.connect_timeout_ms=2000\nhttp.total_timeout_ms=10000\n";
        for (int i = 1; i <= 5; ++i) {
            conf += "server" + std::to_string(i) + ".host=" + sim.serverHost(i) + "\n";
        }
        if (sharedQueue.empty()) {
            queue = std::make_unique<FileQueue>(*db, dir.str());
        } else {
            auto shared = std::make_unique<SharedQueue>(
                std::make_unique<PgConnection>(sharedQueue, 10000), "test", 60);
            shared->open();
            queue = std::move(shared);
            admin = std::make_unique<PgConnection>(sharedQueue, 10000);
            admin->open();
            conf += "queue.url=" + sharedQueue + "\n";
        }
        test::writeFile(dir / "parlix.conf", conf + extraConf);
        std::filesystem::create_directory(dir / "config");
        test::writeFile(dir / "credentials", "user=" + user + "\npassword=pw\n");
        ::chmod(path("credentials").c_str(), 0600);
    }
    std::string path(const std::string& name = "") const { return (dir / name).string(); }
    /// Runs a statement of plain SQL, which both queues understand, on the queue parlixd drains.
    void execute(const std::string& sql) {
        if (admin) {
            admin->run(sql);
        } else {
            db->execute(sql);
        }
    }
    /// Starts parlixd with `args`, its output in `logName` beside the folder.
    std::unique_ptr<test::ChildProcess> start(const std::string& logName = "parlixd.log") {
        return std::make_unique<test::ChildProcess>(kParlixd, args, (logs / logName).string());
    }

    test::TempDir dir;
    test::TempDir logs;
    std::unique_ptr<Connection> db;
    std::unique_ptr<MessageQueue> queue;
    std::unique_ptr<PgConnection> admin;
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
