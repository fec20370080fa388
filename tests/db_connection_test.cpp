#include <gtest/gtest.h>

#include <sqlite3.h>

#include "db/connection.h"
#include "db/db_error.h"
#include "db/message_queue.h"
#include "db/open_database.h"
#include "db/recordset.h"
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

TEST_F(DbTest, RecordsetReadsNullsAndSavesRowByRow) {
    enqueue(*db, Value(), "first");
    enqueue(*db, "9999999999", Value());
    auto rs = MessageQueue(*db).takeQueued(2000);
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
    auto rs = MessageQueue(*db).takeQueued(2000);
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
    auto rs = MessageQueue(*db).takeQueued(2000);
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
        auto rs = db->keyset("MessageQueue", {1});
        rs->setField("Status", "Read");
        rs->update();
    }
    EXPECT_EQ(sqlite3_next_stmt(db->handle(), nullptr), nullptr);
}

TEST_F(DbTest, ClosedConnectionRaisesForItsRecordsets) {
    enqueue(*db, "1111111111", "one");
    auto rs = db->keyset("MessageQueue", {1});
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
