#include <gtest/gtest.h>

#include <sqlite3.h>

#include "db/connection.h"
#include "db/db_error.h"
#include "db/open_database.h"
#include "db/recordset.h"
#include "db/schema_upgrade.h"
#include "support/queue_db.h"
#include "support/temp_dir.h"

namespace parlix {
namespace {

using test::countExact;
using test::enqueue;

class DbTest : public ::testing::Test {
protected:
    void SetUp() override { db = test::makeQueueDatabase(dir.str()); }

    std::unique_ptr<Connection> second() {
        auto c = std::make_unique<Connection>();
        c->openFile(dir.str() + "/SMSDB.MDB", kDatabasePassword);
        return c;
    }

    test::TempDir dir;
    std::unique_ptr<Connection> db;
};

TEST_F(DbTest, EveryFixedStatementRunsUnchanged) {
    enqueue(*db, "9876543210", "hello");
    const char* statements[] = {
        "update  MessageQueue set Status='Deleted' where status='Read'",
        "update  MessageQueue set Status='Sent' where status='Read'",
        "update  MessageQueue set Status='DelSent' where status='Read'",
        "update  MessageQueue set Status='Queued' where status='Read'",
    };
    for (const char* sql : statements) {
        SCOPED_TRACE(sql);
        EXPECT_NO_THROW(db->execute(sql));
    }
    const char* queries[] = {
        "select * from messagequeue where status='Queued'",
        "select * from ProxyConfig ",
        "SELECT top 5000 * FROM MessageQueue  WHERE [Status] = 'Queued'",
        "select top 2000 * from MessageQueue where Status='Queued' ",
        "select top 50 * from MessageQueue where  Status='Queued' ",
    };
    for (const char* sql : queries) {
        SCOPED_TRACE(sql);
        auto rs = db->openRecordset(sql);
        EXPECT_TRUE(rs->isOpen());
    }
    EXPECT_EQ(db->execute("update MessageQueue set DeliverStatus=?, DeliverReason=? , "
                          "DeliverDateTime = ? where Messageid=?",
                          {"DELIVRD", "ok", "2026-12-06 10:00:00", "nobody"}),
              0);
    EXPECT_EQ(db->execute("Update proxyconfig set user1=?, pass1=?,IPNO=?,ipaddress=?",
                          {"u", "p", "3", ""}),
              1);
}

TEST_F(DbTest, TextComparisonsIgnoreCase) {
    enqueue(*db, "1111111111", "a", "queued");
    enqueue(*db, "2222222222", "b", "QUEUED");
    enqueue(*db, "3333333333", "c", "Sent");
    auto rs = db->openRecordset("select * from MESSAGEQUEUE where STATUS='Queued'");
    EXPECT_EQ(rs->recordCount(), 2);
    EXPECT_EQ(rs->field("mobileNO").toText(), "1111111111");

    db->execute("update  MessageQueue set Status='Read' where status='Queued'");
    EXPECT_EQ(countExact(*db, "Read"), 2);
    db->execute("update MessageQueue set MessageID=? where rowid=1", {"U1abcde-x-1"});
    EXPECT_EQ(db->execute("update MessageQueue set DeliverStatus=? where Messageid=?",
                          {"DELIVRD", "u1ABCDE-X-1"}),
              1);
}

TEST_F(DbTest, TopLimitsTheRows) {
    for (int i = 0; i < 7; ++i) {
        enqueue(*db, "1234567890", "m");
    }
    EXPECT_EQ(db->openRecordset("select top 5 * from MessageQueue where  Status='Queued' ")
                  ->recordCount(),
              5);
}

TEST_F(DbTest, ValuesAreBoundNotSpliced) {
    const std::string hostile = "x'; DROP TABLE MessageQueue; --";
    enqueue(*db, "1234567890", "it's");
    db->execute("Update proxyconfig set user1=?, pass1=?,IPNO=?,ipaddress=?",
                {"o'brien", hostile, "1", ""});
    auto rs = db->openRecordset("select * from ProxyConfig ");
    EXPECT_EQ(rs->field("user1").toText(), "o'brien");
    EXPECT_EQ(rs->field("PASS1").toText(), hostile);
    EXPECT_EQ(db->scalar("select count(*) from MessageQueue").integer(), 1);
}

TEST_F(DbTest, RecordsetReadsNullsAndSavesRowByRow) {
    enqueue(*db, Value(), "first");
    enqueue(*db, "9999999999", Value());
    auto rs = db->openRecordset("select * from MessageQueue where Status='Queued' ");
    ASSERT_EQ(rs->recordCount(), 2);
    EXPECT_TRUE(rs->field("Mobileno").isNull());
    rs->setField("Status", "Read");
    rs->setField("QDateTime", "2026-12-06 10:11:12");
    EXPECT_EQ(rs->field("status").toText(), "Read");  // a pending change reads back
    rs->update();
    rs->moveNext();
    EXPECT_TRUE(rs->field("Message").isNull());
    rs->moveNext();
    EXPECT_TRUE(rs->eof());
    EXPECT_THROW(rs->moveNext(), DbError);
    EXPECT_EQ(countExact(*db, "Read"), 1);
    rs->close();
    EXPECT_FALSE(rs->isOpen());
    EXPECT_THROW(rs->eof(), DbError);
}

TEST_F(DbTest, KeysetSeesOtherWritersButKeepsItsMembership) {
    enqueue(*db, "1111111111", "one");
    enqueue(*db, "2222222222", "two");
    auto rs = db->openRecordset("select * from MessageQueue where Status='Queued' ");
    auto other = second();
    enqueue(*other, "3333333333", "three");                                 // not a member
    other->execute("update MessageQueue set Message='uno' where rowid=1");  // visible
    other->execute("delete from MessageQueue where rowid=2");
    EXPECT_EQ(rs->recordCount(), 2);
    EXPECT_EQ(rs->field("Message").toText(), "uno");
    rs->moveNext();
    EXPECT_THROW(rs->field("Message"), DbError);
}

TEST_F(DbTest, OptimisticSaveFailsWhenTheFieldChangedMeanwhile) {
    enqueue(*db, "1111111111", "one");
    auto rs = db->openRecordset("select * from MessageQueue where Status='Queued' ");
    EXPECT_EQ(rs->field("Status").toText(), "Queued");
    second()->execute("update MessageQueue set Status='Sent'");
    rs->setField("Status", "Read");
    try {
        rs->update();
        FAIL() << "the save overwrote another writer's change";
    } catch (const DbError& e) {
        EXPECT_EQ(e.number(), kDbRowChanged);
    }
    EXPECT_EQ(countExact(*db, "Sent"), 1);
}

TEST_F(DbTest, RollbackDiscardsAndCommitKeeps) {
    db->beginTrans();
    enqueue(*db, "1111111111", "gone");
    db->rollbackTrans();
    db->beginTrans();
    enqueue(*db, "1111111111", "kept");
    db->commitTrans();
    EXPECT_EQ(db->scalar("select Message from MessageQueue").toText(), "kept");
    EXPECT_EQ(db->scalar("select count(*) from MessageQueue").integer(), 1);
}

TEST_F(DbTest, ARecordSetLeavesNoStatementBehind) {
    enqueue(*db, "1111111111", "one");
    {
        auto rs = db->openRecordset("select * from MessageQueue");
        rs->setField("Status", "Read");
        rs->update();
    }
    EXPECT_EQ(sqlite3_next_stmt(db->handle(), nullptr), nullptr);
}

TEST_F(DbTest, ClosedConnectionRaisesForItsRecordsets) {
    enqueue(*db, "1111111111", "one");
    auto rs = db->openRecordset("select * from MessageQueue");
    db->close();
    EXPECT_FALSE(db->isOpen());
    EXPECT_THROW(rs->field("Message"), DbError);
    EXPECT_THROW(db->execute("select 1"), DbError);
}

TEST(DbOpen, FileProviderFindsTheFileWhateverItsCase) {
    test::TempDir dir;
    test::makeQueueDatabase(dir.str(), "SmsDb.Mdb");
    Connection c;
    c.open(directConnectionText(dir.str()));
    EXPECT_TRUE(c.isOpen());
    EXPECT_EQ(c.scalar("select count(*) from ProxyConfig").integer(), 1);
}

TEST(DbOpen, FailuresCarryANumberAndAnActionableText) {
    test::TempDir dir;
    Connection c;
    try {
        c.open(directConnectionText(dir.str()));
        FAIL();
    } catch (const DbError& e) {
        EXPECT_EQ(e.number(), kDbCannotOpen);
        EXPECT_NE(e.description().find("smsdb.mdb"), std::string::npos);
    }
    test::makeQueueDatabase(dir.str());
    try {
        c.open("Data Source=" + dir.str() + "\\SMSDB.MDB;Jet OLEDB:Database Password=wrong");
        FAIL();
    } catch (const DbError& e) {
        EXPECT_EQ(e.number(), kDbNotADatabase);
        EXPECT_NE(e.description().find("password"), std::string::npos);
    }
    EXPECT_FALSE(c.isOpen());
    EXPECT_THROW(c.open("DSN=Zentroca"), DbError);  // no resolver: no data sources at all
    EXPECT_THROW(c.open("Provider=x"), DbError);
    EXPECT_THROW(c.open(directConnectionText(dir.str()), "admin", ""), DbError);
}

TEST(DbCreate, NewFilesUseWalAndRefuseToOverwrite) {
    test::TempDir dir;
    auto db = test::makeQueueDatabase(dir.str());
    EXPECT_EQ(db->scalar("PRAGMA journal_mode").toText(), "wal");
    EXPECT_THROW(createDatabaseFile(dir.str() + "/SMSDB.MDB", kDatabasePassword), DbError);
}

}  // namespace
}  // namespace parlix
