#include <gtest/gtest.h>

#include <sqlite3.h>

#include <functional>
#include <tuple>

#include "db/db_error.h"
#include "db/message_queue.h"
#include "db/odbc_dsn.h"
#include "db/open_database.h"
#include "db/recordset.h"
#include "db/transaction.h"
#include "support/fakes.h"
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

class DbTest : public ::testing::Test {
protected:
    std::string text(const std::string& sql) { return db->scalar(sql).toText(); }

    test::TempDir dir;
    std::unique_ptr<Connection> db = test::makeQueueDatabase(dir.str());
    MessageQueue queue{*db};
};

// A keyset: its rows are fixed when it opens, each is read afresh when the cursor reaches it,
// and a save writes only over the values it read.
TEST_F(DbTest, AKeysetSeesOtherWritersAndSavesOnlyOverWhatItRead) {
    enqueue(*db, Value(), "one");
    enqueue(*db, "2222222222", Value());
    enqueue(*db, "3333333333", "three");
    auto rs = queue.takeQueued(2000);
    Connection other;
    other.openFile(dir.str() + "/SMSDB.MDB", kDatabasePassword);
    enqueue(other, "4444444444", "not a member");
    other.execute("UPDATE MessageQueue SET Message = 'uno' WHERE rowid = 1");
    other.execute("DELETE FROM MessageQueue WHERE rowid = 3");
    EXPECT_EQ(rs->recordCount(), 3);
    EXPECT_EQ(rs->field("message").toText() + rs->field("Mobileno").toText(), "uno");
    EXPECT_TRUE(rs->field("Mobileno").isNull());
    rs->setField("Message", "dropped");
    rs->moveFirst();  // drops the change
    rs->setField("Status", "Read");
    EXPECT_EQ(rs->field("STATUS").toText() + rs->field("Message").toText(), "Readuno");
    rs->update();
    other.execute("UPDATE MessageQueue SET Status = 'Sent' WHERE rowid = 1");
    rs->setField("Mobileno", "1");
    rs->update();  // saves the number alone
    EXPECT_EQ(text("SELECT Mobileno || Status || Message FROM MessageQueue WHERE rowid = 1"),
              "1Sentuno");
    rs->moveNext();
    EXPECT_EQ(rs->field("Status").toText(), "Queued");
    other.execute("UPDATE MessageQueue SET Status = 'Sent' WHERE rowid = 2");
    rs->setField("Status", "Read");
    EXPECT_EQ(errorOf([&] { rs->update(); }), kDbRowChanged);
    EXPECT_EQ(rs->field("Status").toText(), "Sent");
    rs->setField("Message", "kept");
    rs->update();
    EXPECT_EQ(text("SELECT Message || Status FROM MessageQueue WHERE rowid = 2"), "keptSent");
    rs->moveNext();
    const long deleted = errorOf([&] { rs->field("Message"); });
    const long notSet = errorOf([&] { rs->setField("Message", "x"); });
    rs->moveNext();
    EXPECT_TRUE(rs->eof());
    EXPECT_EQ(std::vector<long>({deleted, notSet, errorOf([&] { rs->moveNext(); }),
                                 errorOf([&] { rs->field("Message"); }),
                                 errorOf([&] { rs->field("Nothing"); })}),
              std::vector<long>({kDbRowDeleted, kDbRowDeleted, kDbNoCurrentRow, kDbNoCurrentRow,
                                 kDbNoSuchField}));
    rs->moveFirst();
    EXPECT_EQ(rs->field("Message"), Value("uno"));
}

// Between calls a record set runs no statement, so no read holds back the outside writers, and
// it finalizes every statement when it closes or goes.
TEST_F(DbTest, MisusedStatementsAndRecordSetsRaiseTheirNumbersAndHoldNoStatement) {
    enqueue(*db, "1111111111", "one");
    auto rs = db->keyset("MessageQueue", {1});
    EXPECT_EQ(rs->field("Message"), Value("one"));
    for (sqlite3_stmt* s = nullptr; (s = sqlite3_next_stmt(db->handle(), s));) {
        EXPECT_FALSE(sqlite3_stmt_busy(s)) << sqlite3_sql(s);
    }
    rs->close();
    EXPECT_EQ(sqlite3_next_stmt(db->handle(), nullptr), nullptr);
    EXPECT_EQ(
        std::vector<long>({errorOf([&] { rs->field("Message"); }), errorOf([&] { rs->eof(); }),
                           errorOf([&] { rs->moveFirst(); }), errorOf([&] { rs->recordCount(); }),
                           errorOf([&] { rs->close(); })}),
        std::vector<long>(5, kDbNotOpen));
    rs = db->keyset("MessageQueue", {1});
    rs->setField("Status", "Read");
    rs->update();
    rs.reset();
    EXPECT_EQ(sqlite3_next_stmt(db->handle(), nullptr), nullptr);
    rs = db->keyset("MessageQueue", {1});
    rs->setField("Message", "x");
    db->execute("DROP TABLE MessageQueue");
    db->execute("CREATE TABLE MessageQueue (ID INTEGER PRIMARY KEY, Text TEXT)");
    EXPECT_EQ(errorOf([&] { rs->update(); }), SQLITE_ERROR);  // the engine's own error
    EXPECT_EQ(errorOf([&] {
                  db->execute("SELECT ?", {1, 2});
              }) + errorOf([&] { db->execute(" "); }),
              2 * kDbBadQuery);
    db->close();
    EXPECT_EQ(std::vector<long>({errorOf([&] { rs->field("Message"); }),
                                 errorOf([&] { db->execute("SELECT 1"); }),
                                 errorOf([&] { db->keyset("MessageQueue", {1}); })}),
              std::vector<long>(3, kDbNotOpen));
}

// Statuses and message ids are matched without regard to case, as the outside software writes
// them, and every lookup goes through an index.
TEST_F(DbTest, TheQueueMatchesStatusesAndIdsWithoutCaseThroughItsIndexes) {
    for (const char* status : {"queued", "Sent", "QUEUED", "read", "Queued", "Read", "Queued"}) {
        enqueue(*db, "1", "m", status);
    }
    db->execute("UPDATE MessageQueue SET MessageID = 'U1ab-' || rowid");
    db->execute("UPDATE MessageQueue SET MessageID = 'u1_b-9' WHERE rowid = 7");
    std::vector<std::string> statements;
    sqlite3_trace_v2(
        db->handle(), SQLITE_TRACE_STMT,
        [](unsigned, void* out, void* stmt, void*) {
            static_cast<std::vector<std::string>*>(out)->push_back(
                sqlite3_sql(static_cast<sqlite3_stmt*>(stmt)));
            return 0;
        },
        &statements);
    EXPECT_TRUE(queue.hasQueued());
    EXPECT_EQ(queue.countQueued(5000) * 10 + queue.countQueued(3), 43);
    std::string keys;
    for (auto rs = queue.takeQueued(3); !rs->eof(); rs->moveNext()) {
        keys += rs->field("ID").toText();
    }
    EXPECT_EQ(keys, "135");
    EXPECT_EQ(queue.settleTaken(Status::DelSent), 2);
    EXPECT_EQ(queue.applyReport("u1AB-2", "DELIVRD", "it's ok", "2026-12-06 10:00:00"), 1);
    sqlite3_trace_v2(db->handle(), 0, nullptr, nullptr);
    EXPECT_EQ(test::countExact(*db, "DelSent") * 10 + queue.settleTaken(Status::Queued), 20);
    EXPECT_EQ(text("SELECT DeliverStatus || DeliverReason || DeliverDateTime FROM MessageQueue "
                   "WHERE rowid = 2"),
              "DELIVRDit's ok2026-12-06 10:00:00");
    EXPECT_EQ(queue.messageIdsStartingWith("u1_b-"), std::vector<std::string>{"u1_b-9"});
    for (const std::string& sql : statements) {
        sqlite3_stmt* explain = nullptr;  // unbound parameters are null
        sqlite3_prepare_v2(db->handle(), ("EXPLAIN QUERY PLAN " + sql).c_str(), -1, &explain,
                           nullptr);
        std::string plan;
        while (sqlite3_step(explain) == SQLITE_ROW) {
            plan += reinterpret_cast<const char*>(sqlite3_column_text(explain, 3));
        }
        sqlite3_finalize(explain);
        EXPECT_TRUE(plan.find("SCAN MessageQueue") == std::string::npos &&
                    plan.find("TEMP B-TREE") == std::string::npos)
            << sql << ": " << plan;
    }
    EXPECT_GE(statements.size(), 6u);
    db->execute("UPDATE MessageQueue SET Status = 'x'");
    EXPECT_FALSE(queue.hasQueued());
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

TEST_F(DbTest, TheInstallationNumberIsStoredOnlyWhereThereIsNone) {
    EXPECT_TRUE(queue.installationNumber().isNull() && queue.savedLogin().password.isNull());
    queue.storeInstallationNumber("12345");
    EXPECT_EQ(errorOf([&] { queue.storeInstallationNumber("67890"); }), kDbRowChanged);
    EXPECT_EQ(queue.installationNumber(), Value("12345"));
    db->execute("DELETE FROM ProxyConfig");
    EXPECT_EQ(errorOf([&] { queue.installationNumber(); }) + errorOf([&] { queue.savedLogin(); }),
              2 * kDbNoCurrentRow);
}

TEST(DbValue, IsANumberOnlyWhenItsWholeTextIsOne) {
    const std::pair<Value, std::optional<double>> cases[] = {
        {Value(2.5), 2.5}, {Value(" 3 "), 3},          {Value(4), 4},
        {Value("3x"), {}}, {Value(" "), std::nullopt}, {Value(), std::nullopt}};
    for (const auto& [value, number] : cases) {
        EXPECT_EQ(value.toNumber(), number) << value.toText();
    }
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
            dir.str(), [this](const std::string& n) { return lookupOdbcDsn(store, n); }, ui, log};
        return OpenDatabase(connection, directly, env);
    }

    test::TempDir dir;
    test::FakeUi ui;
    test::RecordingLog log;
    RegistryStore store{dir.str() + "/registry.dat"};
    std::unique_ptr<Connection> connection;
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
        Connection* before = connection.get();
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
