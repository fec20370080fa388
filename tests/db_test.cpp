#include <gtest/gtest.h>

#include <sqlite3.h>

#include <algorithm>
#include <functional>
#include <map>
#include <thread>
#include <tuple>

#include "db/db_error.h"
#include "db/file_queue.h"
#include "db/odbc_dsn.h"
#include "db/open_database.h"
#include "db/pg_connection.h"
#include "db/shared_queue.h"
#include "db/transaction.h"
#include "support/fakes.h"
#include "support/pg_cluster.h"
#include "support/queue_db.h"
#include "support/temp_dir.h"
#include "sys/registry_store.h"

namespace parlix {
namespace {

using test::enqueue;

long errorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const DbError& e) {
        return e.number();
    }
    return 0;
}

/// The queue repository on each backend: the database file, and a shared queue in a private
/// PostgreSQL server. Set-ups and checks speak plain SQL that both understand.
class QueueTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        if (file()) {
            db = test::makeQueueDatabase(dir.str());
            queue = std::make_unique<FileQueue>(*db, dir.str());
            return;
        }
        url = test::PgCluster::shared().newDatabase();
        admin = std::make_unique<PgConnection>(url, 10000);
        admin->open();
        queue = sharedQueue("here");
        queue->createTables();
    }
    bool file() const { return GetParam() == "file"; }
    std::unique_ptr<SharedQueue> sharedQueue(const std::string& installation) {
        auto q = std::make_unique<SharedQueue>(std::make_unique<PgConnection>(url, 10000),
                                               installation, 60);
        q->open();
        return q;
    }
    void exec(const std::string& sql) { file() ? void(db->execute(sql)) : void(admin->run(sql)); }
    std::string field(const std::string& sql) {
        return file() ? db->scalar(sql).toText() : admin->run(sql).at(0, 0).toText();
    }
    void enqueue(const Value& mobile, const Value& message, const std::string& status) {
        const std::int64_t key = queue->enqueue(mobile, message);
        exec("UPDATE MessageQueue SET Status = '" + status + "' WHERE ID = " + std::to_string(key));
    }
    /// Each row as its status, in key order, joined by ",".
    std::string statuses() {
        std::string out;
        for (const QueueRow& row : queue->list(std::nullopt, 100)) {
            out += (out.empty() ? "" : ",") + row.status;
        }
        return out;
    }
    /// Takes the first `limit` queued rows, each as "Read" when `read` holds its key and
    /// "Discarded" otherwise; the keys offered go to `offered`.
    Batch take(long limit, std::vector<std::int64_t> read, std::vector<std::int64_t>* offered) {
        return queue->takeBatch(limit, [&](const std::vector<QueuedRow>& rows) {
            std::vector<RowTaken> out;
            for (const QueuedRow& row : rows) {
                offered->push_back(row.key);
                const bool isRead = std::count(read.begin(), read.end(), row.key) > 0;
                out.push_back({row.key, isRead ? Status::Read : Status::Discarded,
                               "2026-12-06 15:04:05", "id" + row.mobile.toText(), "TEXT",
                               "15:04:05"});
            }
            return out;
        });
    }
    /// What settles an interrupted batch: on the file, the next start; in a shared queue,
    /// another worker once the claim's lease has run out.
    MessageQueue& survivor() {
        if (file()) {
            return *queue;
        }
        exec("UPDATE ParlixClaims SET LeaseUntil = now() - interval '1 second'");
        other = sharedQueue("there");
        return *other;
    }

    test::TempDir dir;
    std::unique_ptr<Connection> db;
    std::string url;
    std::unique_ptr<PgConnection> admin;
    std::unique_ptr<MessageQueue> queue;
    std::unique_ptr<MessageQueue> other;
};

// A batch takes rows only while they are queued, writes its marks in one transaction and
// settles only its own rows; what an interrupted run left is settled by its mark.
TEST_P(QueueTest, ABatchTakesQueuedRowsWholeAndSettlesOnlyItsOwn) {
    for (const char* status : {"queued", "Sent", "QUEUED", "Queued", "Queued", "Queued"}) {
        enqueue("1", "m", status);
    }
    auto refuse = [](const std::vector<QueuedRow>&) -> std::vector<RowTaken> {
        throw FileError(28, "no room");
    };
    EXPECT_THROW(queue->takeBatch(10, refuse), FileError);
    auto foreign = [](const std::vector<QueuedRow>& rows) {  // row 2 is not queued
        return std::vector<RowTaken>{{rows[0].key, Status::Read, "", "a", "", ""},
                                     {2, Status::Read, "", "b", "", ""}};
    };
    EXPECT_EQ(errorOf([&] { queue->takeBatch(10, foreign); }), kDbRowChanged);
    EXPECT_EQ(statuses(), "queued,Sent,QUEUED,Queued,Queued,Queued");
    std::vector<std::int64_t> offered;
    Batch first = take(2, {1}, &offered);
    EXPECT_EQ(offered, (std::vector<std::int64_t>{1, 3}));
    EXPECT_EQ(first.keys, std::vector<std::int64_t>{1});
    const std::vector<QueueRow> rows = queue->list("read", 1);
    EXPECT_EQ(rows.at(0).id, 1);
    EXPECT_EQ(field("SELECT MessageID || SMSType || QDateTime || DelDate FROM MessageQueue WHERE "
                    "ID = 1"),
              "id1TEXT2026-12-06 15:04:0515:04:05");
    Batch second = queue->takeBatch(2, [](const std::vector<QueuedRow>& offer) {
        return std::vector<RowTaken>{{offer[0].key, Status::Read, "", "a", "", ""},
                                     {offer[1].key, Status::Read, "", "b", "", ""}};
    });
    exec("UPDATE MessageQueue SET Status = 'Read' WHERE ID = 6");  // taken by nobody
    EXPECT_EQ(queue->settleBatch(first, Status::Sent), 1);
    queue->markReaching(second, "b2");
    EXPECT_TRUE(second.reaching);
    if (file()) {
        EXPECT_EQ(test::readFile(dir / "InFlight.txt"), "batch=b2\nrows=2\nkeys=4-5\n");
    }
    Interrupted left = survivor().settleInterrupted(Status::Deleted);
    EXPECT_EQ(std::tuple(left.marked, left.reached, left.requeued), std::tuple(true, 2, 1));
    EXPECT_EQ(statuses(), "Sent,Sent,Discarded,Deleted,Deleted,Queued");
    // Settled by another, the batch is no longer its sender's: its own settle moves nothing.
    EXPECT_EQ(queue->settleBatch(second, Status::DelSent), 0);
    left = survivor().settleInterrupted(Status::Deleted);
    EXPECT_EQ(std::tuple(left.marked, left.reached, left.requeued), std::tuple(false, 0, 0));
}

// Statuses and message ids are matched without regard to case, as the outside software writes
// them; a list is queued whole or not at all; counts and lists see statuses as stored.
TEST_P(QueueTest, StatusesAndIdsMatchWithoutCaseAndAListIsQueuedWhole) {
    for (const char* status : {"queued", "Sent", "QUEUED", "read", "Queued", "Read", "Queued"}) {
        enqueue("1", "m", status);
    }
    exec("UPDATE MessageQueue SET MessageID = 'U1ab-' || ID");
    exec("UPDATE MessageQueue SET MessageID = 'u1_b-9' WHERE ID = 7");
    EXPECT_TRUE(queue->hasQueued());
    EXPECT_EQ(queue->countQueued(5000) * 10 + queue->countQueued(3), 43);
    std::vector<std::int64_t> offered;
    Batch batch = take(3, {1, 5}, &offered);
    EXPECT_EQ(offered, (std::vector<std::int64_t>{1, 3, 5}));
    EXPECT_EQ(queue->settleBatch(batch, Status::DelSent), 2);
    EXPECT_EQ(queue->applyReports({{"u1AB-2", "DELIVRD", "it's ok", "2026-12-06 10:00:00"},
                                   {"U1AB-4", "FAILED", "", "2026-12-06 10:00:01"}}),
              2);
    EXPECT_EQ(queue->messageIdsStartingWith("u1_b-"), std::vector<std::string>{"u1_b-9"});
    EXPECT_EQ(queue->count("delsent") * 10 + queue->count(std::nullopt), 27);
    EXPECT_EQ(queue->countByStatus(), (std::map<std::string, long>{{"DelSent", 2},
                                                                   {"Discarded", 1},
                                                                   {"Queued", 1},
                                                                   {"Read", 1},
                                                                   {"Sent", 1},
                                                                   {"read", 1}}));
    exec(file() ? "CREATE TRIGGER refuse BEFORE INSERT ON MessageQueue WHEN NEW.Message = 'c' "
                  "BEGIN SELECT RAISE(ABORT, 'refused'); END"
                : "ALTER TABLE MessageQueue ADD CONSTRAINT refuse CHECK (Message <> 'c')");
    EXPECT_THROW(queue->enqueueAll({{"1", "a"}, {"2", "b"}, {"3", "c"}}), DbError);
    EXPECT_EQ(queue->enqueueAll({{"1", "a"}, {Value(), Value()}}),
              (std::vector<std::int64_t>{file() ? 8 : 11, file() ? 9 : 12}));
    const std::vector<QueueRow> last = queue->list("QUEUED", 5);
    EXPECT_EQ(last.back().mobile + last.back().message + last.at(last.size() - 2).message, "a");
    exec("UPDATE MessageQueue SET Status = 'x'");
    EXPECT_FALSE(queue->hasQueued());
}

TEST_P(QueueTest, TheInstallationNumberIsStoredOnceAndNeverTwoInstallationsOne) {
    EXPECT_TRUE(queue->installationNumber().isNull() && queue->savedLogin().password.isNull());
    EXPECT_TRUE(queue->storeInstallationNumber("12345"));
    EXPECT_EQ(errorOf([&] { queue->storeInstallationNumber("67890"); }), kDbRowChanged);
    EXPECT_EQ(queue->installationNumber(), Value("12345"));
    queue->saveLogin("o'neil", "pw", "3", "gw");
    EXPECT_EQ(queue->savedLogin().userId, Value("o'neil"));
    if (file()) {
        exec("DELETE FROM ProxyConfig");
        EXPECT_EQ(
            errorOf([&] { queue->installationNumber(); }) + errorOf([&] { queue->savedLogin(); }),
            2 * kDbNoCurrentRow);
        return;
    }
    auto there = sharedQueue("there");
    EXPECT_FALSE(there->storeInstallationNumber("12345"));
    EXPECT_TRUE(there->storeInstallationNumber("54321"));
    EXPECT_TRUE(there->savedLogin().userId.isNull());
}

INSTANTIATE_TEST_SUITE_P(BothBackends, QueueTest, ::testing::Values("file", "postgresql"),
                         [](const auto& p) { return p.param; });

// A connection opened again, as after the server went away, ends its old session: reconnects
// never pile up sessions on the server.
TEST(PgConnectionTest, OpeningAgainLeavesOneSession) {
    const std::string url = test::PgCluster::shared().newDatabase();
    PgConnection admin(url, 10000);
    PgConnection again(url, 10000);
    admin.open();
    for (int i = 0; i < 3; ++i) {
        again.open();
    }
    auto sessions = [&] {
        return admin.run("SELECT count(*) FROM pg_stat_activity WHERE datname = current_database()")
            .integer(0, 0);
    };
    for (int i = 0; i < 200 && sessions() != 2; ++i) {  // a session ends a moment after its close
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(sessions(), 2);
}

class DbTest : public ::testing::Test {
protected:
    std::string text(const std::string& sql) { return db->scalar(sql).toText(); }

    test::TempDir dir;
    std::unique_ptr<Connection> db = test::makeQueueDatabase(dir.str());
    FileQueue queue{*db, dir.str()};
};

// Every statement on the file goes through an index, and a marker that cannot be read may name
// any taken row.
TEST_F(DbTest, TheFileIsSearchedThroughItsIndexesAndAnUnreadableMarkerNamesEveryTakenRow) {
    for (const char* status : {"queued", "Sent", "read", "Queued"}) {
        enqueue(*db, "1", "m", status);
    }
    std::vector<std::string> statements;
    sqlite3_trace_v2(
        db->handle(), SQLITE_TRACE_STMT,
        [](unsigned, void* out, void* stmt, void*) {
            // With the values in place: an index on a LIKE needs to see its pattern.
            char* sql = sqlite3_expanded_sql(static_cast<sqlite3_stmt*>(stmt));
            static_cast<std::vector<std::string>*>(out)->push_back(sql);
            sqlite3_free(sql);
            return 0;
        },
        &statements);
    queue.hasQueued();
    queue.countQueued(10);
    Batch batch = queue.takeBatch(10, [](const std::vector<QueuedRow>& rows) {
        return std::vector<RowTaken>{{rows[0].key, Status::Read, "", "a", "", ""}};
    });
    queue.settleBatch(batch, Status::Sent);
    queue.applyReports({{"a", "DELIVRD", "", "2026-12-06 10:00:00"}});
    queue.messageIdsStartingWith("a");
    sqlite3_trace_v2(db->handle(), 0, nullptr, nullptr);
    for (const std::string& sql : statements) {
        sqlite3_stmt* explain = nullptr;
        sqlite3_prepare_v2(db->handle(), ("EXPLAIN QUERY PLAN " + sql).c_str(), -1, &explain,
                           nullptr);
        std::string plan;
        while (sqlite3_step(explain) == SQLITE_ROW) {
            plan += reinterpret_cast<const char*>(sqlite3_column_text(explain, 3));
        }
        sqlite3_finalize(explain);
        EXPECT_TRUE(plan.find("SCAN TABLE MessageQueue") == std::string::npos &&
                    plan.find("TEMP B-TREE") == std::string::npos)
            << sql << ": " << plan;
    }
    EXPECT_GE(statements.size(), 8u);
    db->execute("UPDATE MessageQueue SET Status = 'read' WHERE ID = 1");
    test::writeFile(dir / "InFlight.txt", "batch=b3\nkeys=1-x\n");
    Interrupted left = queue.settleInterrupted(Status::DelSent);
    EXPECT_EQ(std::tuple(left.marked, left.reached, left.requeued), std::tuple(true, 2, 0));
    EXPECT_EQ(text("SELECT group_concat(Status) FROM (SELECT Status FROM MessageQueue ORDER BY "
                   "ID)"),
              "DelSent,Sent,DelSent,Queued");
}

TEST_F(DbTest, ATransactionOrTheSchemaIsWrittenWholeOrNotAtAll) {
    for (bool commit : {false, true}) {
        Transaction tx(*db);
        enqueue(*db, "1111111111", commit ? "kept" : "gone");
        commit ? tx.commit() : void();
    }
    EXPECT_EQ(text("SELECT group_concat(Message) FROM MessageQueue"), "kept");
    db->execute("DROP TABLE MessageQueue");
    db->execute("DROP TABLE ProxyConfig");
    EXPECT_THROW(queue.createTables(), DbError);  // ClientMaster is there: nothing is created
    EXPECT_EQ(text("SELECT count(*) FROM sqlite_master WHERE name = 'MessageQueue'"), "0");
    db->close();
    EXPECT_NO_THROW(queue.upgradeSchema());  // each statement's failure is its own
}

TEST(DbOpen, ConnectionTextsOpenTheFileWhateverTheCaseOfItsNameOrFailWithANumber) {
    test::TempDir dir;
    test::makeQueueDatabase(dir.str(), "SmsDb.Mdb");
    const std::string folder = dir.str();
    auto resolver = [&](const std::string& name) -> Result<DataSource> {
        return name == "Good"
                   ? Result<DataSource>(DataSource{folder + "\\sMsDb.mDb", kDatabasePassword})
                   : Error{2, "no " + name};
    };
    const std::pair<std::string, long> cases[] = {
        {directConnectionText(folder), 0},
        {" dsn = Good ", 0},
        {"Data Source=" + folder + "/SMSDB.MDB;Jet OLEDB:Database Password=wrong", kDbNotADatabase},
        {"Data Source=" + folder + "/other.mdb", kDbCannotOpen},
        {"DSN=Bad", kDbDataSourceMissing},
        {"Provider=x;Persist Security Info=False", kDbBadConnectionText},
        {"DSN=Good;junk", kDbBadConnectionText},
        {"", kDbBadConnectionText}};
    for (const auto& [text, number] : cases) {
        Connection c(resolver);
        EXPECT_EQ(errorOf([&] { c.open(text); }), number) << text;
        EXPECT_EQ(c.isOpen(), number == 0) << text;
    }
    Connection c;
    EXPECT_EQ(errorOf([&] { c.open("DSN=Good"); }), kDbDataSourceMissing);
    EXPECT_EQ(errorOf([&] { c.open(directConnectionText(folder), "admin"); }) +
                  errorOf([&] { c.open(directConnectionText(folder), "", "pw"); }),
              2 * kDbBadConnectionText);
    EXPECT_EQ(findFileIgnoringCase(folder + "\\smsdb.mdb") + findFileIgnoringCase("/no/such/f"),
              folder + "/SmsDb.Mdb/no/such/f");
    EXPECT_EQ(errorOf([&] { createDatabaseFile(folder + "/SmsDb.Mdb", kDatabasePassword); }),
              kDbCannotOpen);
    auto created = createDatabaseFile(folder + "/new.mdb", kDatabasePassword);
    EXPECT_EQ(created->scalar("PRAGMA journal_mode"), Value("wal"));
    EXPECT_NE(test::readFile(dir / "new.mdb").substr(0, 15), "SQLite format 3");
}

class OpenDatabaseTest : public ::testing::Test {
protected:
    bool open(bool directly) {
        DatabaseEnvironment env{
            dir.str(), [this](const std::string& n) { return lookupOdbcDsn(store, n); },
            ui,        log,
            15000,     queueUrl,
            "test",    300};
        return OpenDatabase(connection, directly, env);
    }

    test::TempDir dir;
    test::FakeUi ui;
    test::RecordingLog log;
    RegistryStore store{dir.str() + "/registry.dat"};
    std::unique_ptr<MessageQueue> connection;
    std::string queueUrl;
};

// Every value a driver reads, of its type, under the key it reads it from.
TEST_F(OpenDatabaseTest, TheDataSourceIsWrittenAsADriverReadsIt) {
    RegisterOdbcDsn(store, ui, "Zentroca", "/p\\SMSDB.MDB", "u", "pw");
    auto values = [&](const std::string& key, std::initializer_list<const char*> names) {
        std::string out;
        for (const char* name : names) {
            const std::string k = "SOFTWARE\\ODBC\\ODBC.INI\\" + key;
            auto number = store.getNumber(kHkeyLocalMachine, k, name);
            out += (number ? std::to_string(*number)
                           : store.getString(kHkeyLocalMachine, k, name).value_or("none")) +
                   "|";
        }
        return out;
    };
    EXPECT_EQ(
        values("Zentroca", {"DBQ", "Driver", "DriverId", "FIL", "SafeTransaction", "PWD", "UID"}),
        "/p\\SMSDB.MDB|/usr/lib\\odbcjt32.dll|25|MS Access;|0|pw|u|");
    EXPECT_EQ(values("Zentroca\\Engines\\Jet", {"ImplicitCommitSync", "MaxBufferSize",
                                                "PageTimeOut", "Threads", "UserCommitSync"}),
              "|2048|5|3||");
    EXPECT_EQ(values("ODBC Data Sources", {"Zentroca"}), "|");
    RegisterOdbcDsn(store, ui, "Zentroca", "/elsewhere\\SMSDB.MDB", "", "pw");
    EXPECT_EQ(lookupOdbcDsn(store, "Zentroca").value().path, "/elsewhere\\SMSDB.MDB");
    EXPECT_EQ(SystemFolderPath("WindowsDirectory") + SystemFolderPath("Other"), "/etc");
    EXPECT_TRUE(ui.boxes.empty());
}

// Each failed open logs its number, then its description, and leaves the busy pointer off.
TEST_F(OpenDatabaseTest, OpensThroughTheDataSourceOrDirectlyAndLogsFailures) {
    const std::string key = "SOFTWARE\\ODBC\\ODBC.INI\\Zentroca";
    const std::tuple<std::function<void()>, bool, long> cases[] = {
        {[] {}, false, kDbDataSourceMissing},  // nothing registered
        {[&] { store.ensureKey(kHkeyLocalMachine, key); }, false, kDbDataSourceMissing},
        {[&] { store.setString(kHkeyLocalMachine, key, "DBQ", dir.str() + "\\SMSDB.MDB"); }, false,
         kDbDataSourceMissing},        // no driver
        {[] {}, true, kDbCannotOpen},  // no file
        {[&] {
             test::makeQueueDatabase(dir.str(), "smsdb.MDB");
             RegisterOdbcDsn(store, ui, "Zentroca", dir.str() + "\\SMSDB.MDB", "",
                             kDatabasePassword);
         },
         false, 0}};
    for (const auto& [setUp, directly, number] : cases) {
        setUp();
        log.lines.clear();
        ui.busyChanges.clear();
        MessageQueue* before = connection.get();
        EXPECT_EQ(open(directly), number == 0) << number;
        EXPECT_NE(connection.get(), before);  // every call replaces the connection
        EXPECT_EQ(connection->isOpen(), number == 0);
        EXPECT_EQ(ui.busyChanges, (std::vector<bool>{true, false}));
        EXPECT_EQ(log.lines.size(), number == 0 ? 0u : 2u);
        EXPECT_EQ(
            log.lines.empty() ? "" : log.lines[0] + log.lines[1].substr(0, 15),
            number == 0 ? "" : "DatabaseError: " + std::to_string(number) + "DatabaseError: ");
    }
}

}  // namespace
}  // namespace parlix
