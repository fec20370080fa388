#include <gtest/gtest.h>

#include "db/connection.h"
#include "db/schema_upgrade.h"
#include "db/statement.h"
#include "support/queue_db.h"
#include "support/temp_dir.h"

namespace parlix {
namespace {

std::string schemaOf(Connection& db) {
    std::string out;
    auto rs = db.openRecordset("select name, sql from sqlite_master where sql is not null");
    for (; !rs->eof(); rs->moveNext()) {
        out += rs->field("sql").toText() + "\n";
    }
    return out;
}

bool hasColumn(Connection& db, const std::string& table, const std::string& column) {
    auto rs = db.openRecordset("select * from " + table);
    for (const std::string& c : rs->columns()) {
        if (c == column) {
            return true;
        }
    }
    return false;
}

TEST(SchemaUpgrade, AddsEveryColumnAndTheIndexOnce) {
    test::TempDir dir;
    auto db = test::makeQueueDatabase(dir.str(), "SMSDB.MDB", false);
    Cmd_AlterDatabase_Click(db.get());
    for (const char* col : {"MessageID", "DeliverID", "DeliverStatus", "SMSType", "DeliverDateTime",
                            "DeliverReason", "SMSCount"}) {
        EXPECT_TRUE(hasColumn(*db, "MessageQueue", col)) << col;
    }
    for (const char* col : {"User1", "Pass1", "IPNO", "IPAddress"}) {
        EXPECT_TRUE(hasColumn(*db, "ProxyConfig", col)) << col;
    }
    EXPECT_TRUE(hasColumn(*db, "ClientMaster", "smsAnni"));
    std::string once = schemaOf(*db);
    Cmd_AlterDatabase_Click(db.get());
    EXPECT_EQ(schemaOf(*db), once);
    // The message-id lookup of delivery reports uses the index.
    std::string plan;
    Statement explain(db->handle(),
                      "explain query plan update MessageQueue set DeliverStatus='x' "
                      "where Messageid='a' collate nocase");
    while (explain.step()) {
        plan += explain.column(explain.columnCount() - 1).toText();
    }
    EXPECT_NE(plan.find("MessageID_IDX"), std::string::npos) << plan;
}

TEST(SchemaUpgrade, PartialDatabaseGainsOnlyWhatIsMissing) {
    test::TempDir dir;
    auto db = test::makeQueueDatabase(dir.str(), "SMSDB.MDB", false);
    db->execute("ALTER TABLE messagequeue ADD COLUMN MessageID TEXT(50)");
    db->execute("update MessageQueue set Status='x'");
    Cmd_AlterDatabase_Click(db.get());
    EXPECT_TRUE(hasColumn(*db, "MessageQueue", "SMSCount"));
    EXPECT_EQ(db->scalar("select count(*) from sqlite_master where name='MessageID_IDX'").integer(),
              1);
}

TEST(SchemaUpgrade, MissingTableOrClosedDatabaseIsSkipped) {
    test::TempDir dir;
    auto db = test::makeQueueDatabase(dir.str(), "SMSDB.MDB", false);
    db->execute("DROP TABLE ClientMaster");
    EXPECT_NO_THROW(Cmd_AlterDatabase_Click(db.get()));
    EXPECT_TRUE(hasColumn(*db, "ProxyConfig", "IPAddress"));
    EXPECT_TRUE(hasColumn(*db, "MessageQueue", "DeliverReason"));
    db->close();
    EXPECT_NO_THROW(Cmd_AlterDatabase_Click(db.get()));
    EXPECT_NO_THROW(Cmd_AlterDatabase_Click(nullptr));
}

}  // namespace
}  // namespace parlix
