#include "reliability_support.h"

#include <sys/stat.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <random>
#include <set>
#include <thread>

#include "db/open_database.h"
#include "support/queue_db.h"

namespace parlix::reliability {

Audit audit(Connection& db, const test::JsonValue& messages, const std::string& prefix) {
    Audit a;
    std::set<std::string> received;
    for (const test::JsonValue& m : messages.array()) {
        if (m["text"].str().starts_with(prefix)) {
            a.duplicates += received.insert(m["text"].str()).second ? 0 : 1;
        }
    }
    a.receivedDistinct = static_cast<long>(received.size());
    for (const auto& row : test::query(db, "select Message, Status from MessageQueue")) {
        const std::string status = row["Status"].toText();
        if (row["Message"].toText().starts_with(prefix)) {
            ++a.statuses[status];
            const bool never = received.count(row["Message"].toText()) == 0;
            a.deletedNeverReceived += never && status == "Deleted" ? 1 : 0;
        }
    }
    return a;
}

void enqueueNew(Connection& db, const std::string& prefix, int count, size_t length) {
    std::mt19937_64 rng(std::hash<std::string>{}(prefix));
    std::uniform_int_distribution<int> letter('a', 'z');
    db.beginTrans();
    for (int n = 0; n < count; ++n) {
        std::string text = prefix + std::to_string(n) + "-";
        while (text.size() < length) {
            text += static_cast<char>(letter(rng));
        }
        char mobile[16];
        std::snprintf(mobile, sizeof mobile, "98%08d", n);
        test::enqueue(db, std::string(mobile), text);
    }
    db.commitTrans();
}

long waiting(Connection& db) {
    return static_cast<long>(
        db.scalar("select count(*) from MessageQueue where Status in ('Queued', 'Read')")
            .integer());
}

std::string integrityOf(const std::string& dbPath) {
    Connection c;
    c.openFile(dbPath, kDatabasePassword);
    return c.scalar("PRAGMA integrity_check").toText();
}

DaemonFolder::DaemonFolder(test::GatewaySimProcess& sim, const std::string& user)
    : m_db(test::makeQueueDatabase(m_dir.str())) {
    std::string conf = "http.connect_timeout_ms=2000\nhttp.total_timeout_ms=10000\n";
    for (int i = 1; i <= 5; ++i) {
        conf += "server" + std::to_string(i) + ".host=" + sim.serverHost(i) + "\n";
    }
    test::writeFile(m_dir / "parlix.conf", conf);
    std::filesystem::create_directory(m_dir / "config");
    test::writeFile(m_dir / "credentials", "user=" + user + "\npassword=pw\n");
    ::chmod(path("credentials").c_str(), 0600);
}

std::unique_ptr<test::ChildProcess> DaemonFolder::start(const std::string& logName) {
    return std::make_unique<test::ChildProcess>(test::builtProgram("src/daemon/parlixd"), args(),
                                                (m_logs / logName).string());
}

bool waitDrained(Connection& db, test::ChildProcess& p) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(40);
    while (p.running() && std::chrono::steady_clock::now() < until) {
        if (waiting(db) == 0) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

std::optional<int> terminate(test::ChildProcess& p) {
    p.signal(SIGTERM);
    return p.wait(std::chrono::seconds(20));
}

}  // namespace parlix::reliability
