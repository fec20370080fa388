#include "reliability_support.h"

#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "db/message_queue.h"
#include "db/open_database.h"

namespace parlix::reliability {

int scaled(int shortCount, int longCount, int sanitizedCount) {
    const char* v = std::getenv("PARLIX_RELIABILITY_LONG");
    if (v != nullptr && std::string(v) != "0" && std::string(v) != "") {
        return longCount;
    }
#ifdef PARLIX_RELIABILITY_SANITIZED
    shortCount = sanitizedCount;
#endif
    (void)sanitizedCount;
    return shortCount;
}

long Audit::status(const std::string& s) const {
    auto it = statuses.find(s);
    return it == statuses.end() ? 0 : it->second;
}

Audit audit(Connection& db, const test::JsonValue& messages, const std::string& prefix) {
    std::map<std::string, long> copies;
    for (const test::JsonValue& m : messages.array()) {
        if (m["text"].str().rfind(prefix, 0) == 0) {
            ++copies[m["text"].str()];
        }
    }
    Audit a;
    for (const auto& row : test::query(db, "select Message, Status from MessageQueue")) {
        const std::string text = row["Message"].toText();
        if (text.rfind(prefix, 0) != 0) {
            continue;
        }
        ++a.rows;
        const std::string status = row["Status"].toText();
        ++a.statuses[status];
        const bool got = copies.count(text) != 0;
        a.sentNeverReceived += (status == "Sent" || status == "DelSent") && !got ? 1 : 0;
        if (status == "Deleted") {
            ++(got ? a.deletedReceived : a.deletedNeverReceived);
        }
    }
    for (const auto& [text, n] : copies) {
        ++a.receivedDistinct;
        a.duplicates += n - 1;
    }
    return a;
}

std::vector<std::string> uniqueTexts(const std::string& prefix, int count, size_t length) {
    std::mt19937_64 rng(std::hash<std::string>{}(prefix));
    std::uniform_int_distribution<int> letter('a', 'z');
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) {
        std::string t = prefix + std::to_string(i) + "-";
        while (t.size() < length) {
            t += static_cast<char>(letter(rng));
        }
        out.push_back(std::move(t));
    }
    return out;
}

void enqueueAll(Connection& db, const std::vector<std::string>& texts) {
    db.beginTrans();
    int n = 0;
    for (const std::string& t : texts) {
        char mobile[16];
        std::snprintf(mobile, sizeof mobile, "98%08d", n++ % 100000000);
        test::enqueue(db, std::string(mobile), t);
    }
    db.commitTrans();
}

void enqueueNew(Connection& db, const std::string& prefix, int count, size_t length) {
    enqueueAll(db, uniqueTexts(prefix, count, length));
}

std::string databaseBytes(const std::string& password, int rows) {
    test::TempDir dir;
    auto db = createDatabaseFile(dir.str() + "/q", password);
    MessageQueue(*db).createTables();
    enqueueNew(*db, "db-", rows, 200);
    db->execute("PRAGMA wal_checkpoint(TRUNCATE)");
    return test::readFile(dir / "q");
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

std::vector<std::string> DaemonFolder::args() const {
    return {"--folder", path(), "--settings", path("config"), "--credentials", path("credentials")};
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

void LiveDispatchTest::startLoggedIn(const std::string& senderIds,
                                     const std::function<void(Connection&)>& beforeLoad) {
    sim.addAccount({"demo", "pw", 1000000, false, "", senderIds});
    for (int i = 0; i < 5; ++i) {
        fx.config.serverHosts[static_cast<size_t>(i)] = sim.serverHost(i + 1);
    }
    fx.useRealHttp({1000, 1500});
    db = fx.makeDatabase();
    if (beforeLoad) {
        beforeLoad(*db);
    }
    fx.start();
    f().onLogEntry([this](const std::string& entry) { log.push_back(entry); });
    ASSERT_TRUE(fx.load());
    f().setText("txtUserId", "demo");
    f().setText("txtUSerPassWord", "pw");
    f().fire("cmdConnect2", Event::Click);
    ASSERT_TRUE(f().loginOk);
    fx.ui.boxes.clear();
}

void LiveDispatchTest::tick() {
    // A tick comes a second after the one before, so batch names and times move on as they do
    // in the program.
    fx.clock.sleepMs(1000);
    f().fire("SendMessage", Event::Timer);
    EXPECT_TRUE(f().enabled("SendMessage")) << "the timer stayed stopped";
    EXPECT_EQ(rowsWith("Read"), 0) << "rows left taken for sending";
}

int LiveDispatchTest::drain(int maxTicks) {
    for (int i = 1; i <= maxTicks; ++i) {
        tick();
        if (waiting(*db) == 0) {
            return i;
        }
    }
    return -1;
}

long LiveDispatchTest::logged(const std::string& part) const {
    long n = 0;
    for (const std::string& entry : log) {
        n += entry.find(part) != std::string::npos ? 1 : 0;
    }
    return n;
}

}  // namespace parlix::reliability
