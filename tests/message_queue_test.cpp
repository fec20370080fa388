#include <gtest/gtest.h>

#include <algorithm>

#include "db/db_error.h"
#include "db/message_queue.h"
#include "db/recordset.h"
#include "db/statement.h"
#include "support/queue_db.h"
#include "support/temp_dir.h"

namespace parlix {
namespace {

using test::countExact;
using test::enqueue;

class QueueTest : public ::testing::Test {
protected:
    /// The engine's plan for a statement, to see which index it uses.
    std::string planOf(const std::string& sql, const std::vector<Value>& params) {
        std::string plan;
        Statement explain(db->handle(), "EXPLAIN QUERY PLAN " + sql, params);
        while (explain.step()) {
            plan += explain.column(explain.columnCount() - 1).toText() + "\n";
        }
        return plan;
    }

    test::TempDir dir;
    std::unique_ptr<Connection> db = test::makeQueueDatabase(dir.str());
    MessageQueue queue{*db};
};

TEST_F(QueueTest, StatusesAreSelectedWithoutRegardToCaseAndSettledExactly) {
    enqueue(*db, "1111111111", "a", "queued");
    enqueue(*db, "2222222222", "b", "QUEUED");
    enqueue(*db, "3333333333", "c", "Sent");
    enqueue(*db, "4444444444", "d", "read");
    enqueue(*db, "5555555555", "e", "Read");
    EXPECT_TRUE(queue.hasQueued());
    EXPECT_EQ(queue.countQueued(5000), 2);
    EXPECT_EQ(queue.countQueued(1), 1);
    auto rs = queue.takeQueued(2000);
    EXPECT_EQ(rs->recordCount(), 2);
    EXPECT_EQ(rs->field("mobileNO").toText(), "1111111111");

    EXPECT_EQ(queue.settleTaken(Status::DelSent), 2);  // every row taken, whatever its case
    EXPECT_EQ(countExact(*db, "DelSent"), 2);
    EXPECT_EQ(countExact(*db, "Sent"), 1);
    EXPECT_EQ(queue.settleTaken(Status::Queued), 0);
    db->execute("UPDATE MessageQueue SET Status='x'");
    EXPECT_FALSE(queue.hasQueued());
}

TEST_F(QueueTest, StatusTextsAreTheStoredOnes) {
    const std::pair<Status, const char*> texts[] = {
        {Status::Queued, "Queued"},   {Status::Read, "Read"},
        {Status::Sent, "Sent"},       {Status::DelSent, "DelSent"},
        {Status::Deleted, "Deleted"}, {Status::Discarded, "Discarded"}};
    for (const auto& [status, text] : texts) {
        EXPECT_EQ(statusText(status), text);
    }
}

TEST_F(QueueTest, QueuedRowsAreTakenInTheOrderTheyCameUpToTheLimit) {
    for (int i = 0; i < 7; ++i) {
        enqueue(*db, "123456789" + std::to_string(i), "m", i == 2 ? "Sent" : "Queued");
    }
    auto rs = queue.takeQueued(5);
    ASSERT_EQ(rs->recordCount(), 5);
    std::string order;
    for (; !rs->eof(); rs->moveNext()) {
        order += rs->field("Mobileno").toText().back();
    }
    EXPECT_EQ(order, "01345");
}

TEST_F(QueueTest, LookupsUseTheIndexes) {
    EXPECT_NE(planOf("SELECT rowid FROM MessageQueue WHERE Status = ? COLLATE NOCASE ORDER BY "
                     "rowid LIMIT 5",
                     {"Queued"})
                  .find("MessageQueue_Status"),
              std::string::npos);
    std::string reportPlan = planOf(
        "UPDATE MessageQueue SET DeliverStatus = ? WHERE MessageID = ? COLLATE NOCASE", {"x", "a"});
    EXPECT_NE(reportPlan.find("MessageID_IDX"), std::string::npos) << reportPlan;
    EXPECT_EQ(reportPlan.find("TEMP B-TREE"), std::string::npos);
}

TEST_F(QueueTest, ReportsFindTheirRowWhateverTheCaseOfTheId) {
    auto key = enqueue(*db, "1111111111", "one", "Sent");
    db->execute("UPDATE MessageQueue SET MessageID = ? WHERE rowid = ?", {"U1abcde-x-1", key});
    EXPECT_EQ(queue.applyReport("u1ABCDE-X-1", "DELIVRD", "it's ok", "2026-12-06 10:00:00"), 1);
    auto row = test::query(*db, "SELECT * FROM MessageQueue").at(0);
    EXPECT_EQ(row["DeliverStatus"].toText(), "DELIVRD");
    EXPECT_EQ(row["DeliverReason"].toText(), "it's ok");
    EXPECT_EQ(row["DeliverDateTime"].toText(), "2026-12-06 10:00:00");
    EXPECT_EQ(queue.applyReport("nobody", "x", "y", "z"), 0);
}

TEST_F(QueueTest, MessageIdsAreMatchedOnTheirExactPrefix) {
    for (const char* id :
         {"a_b1-261206-1", "a_b1-261206-12", "aXb1-261206-3", "A_B1-261206-4", "a_b1-261207-5"}) {
        auto key = enqueue(*db, "1", "m", "Sent");
        db->execute("UPDATE MessageQueue SET MessageID = ? WHERE rowid = ?", {id, key});
    }
    auto ids = queue.messageIdsStartingWith("a_b1-261206-");
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (std::vector<std::string>{"a_b1-261206-1", "a_b1-261206-12"}));
}

TEST_F(QueueTest, TheRememberedLoginIsBoundNotSpliced) {
    const std::string hostile = "x'; DROP TABLE MessageQueue; --";
    enqueue(*db, "1234567890", "it's");
    EXPECT_TRUE(queue.savedLogin().userId.isNull());
    queue.saveLogin("o'brien", hostile, "3", "gw.example:81");
    SavedLogin saved = queue.savedLogin();
    EXPECT_EQ(saved.userId.toText(), "o'brien");
    EXPECT_EQ(saved.password.toText(), hostile);
    EXPECT_EQ(saved.serverNo.toText(), "3");
    EXPECT_EQ(saved.serverHost.toText(), "gw.example:81");
    EXPECT_EQ(queue.count(), 1);
}

TEST_F(QueueTest, TheInstallationNumberIsStoredOnceOnly) {
    EXPECT_TRUE(queue.installationNumber().isNull());
    queue.storeInstallationNumber("12345");
    EXPECT_EQ(queue.installationNumber().toText(), "12345");
    EXPECT_THROW(queue.storeInstallationNumber("67890"), DbError);
    EXPECT_EQ(queue.installationNumber().toText(), "12345");
    db->execute("DELETE FROM ProxyConfig");
    EXPECT_THROW(queue.installationNumber(), DbError);
    EXPECT_THROW(queue.savedLogin(), DbError);
}

TEST_F(QueueTest, TheQueueToolCountsAndListsByStatus) {
    queue.enqueue("9876543210", "hi");
    enqueue(*db, "1", "x", "Sent");
    enqueue(*db, "2", "y", "sent");
    EXPECT_EQ(queue.count(), 3);
    EXPECT_EQ(queue.count(std::string("SENT")), 2);
    EXPECT_EQ(queue.countByStatus(),
              (std::map<std::string, long>{{"Queued", 1}, {"Sent", 1}, {"sent", 1}}));
    auto rows = queue.list(std::string("sent"), 1);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].id, 2);
    EXPECT_EQ(rows[0].mobile, "1");
}

TEST(SchemaUpgrade, AddsEveryColumnAndTheIndexOnceAndSkipsWhatFails) {
    test::TempDir dir;
    auto db = test::makeQueueDatabase(dir.str(), "SMSDB.MDB", false);
    db->execute("ALTER TABLE MessageQueue ADD COLUMN MessageID TEXT");
    db->execute("DROP TABLE ClientMaster");
    MessageQueue queue(*db);
    EXPECT_THROW(queue.savedLogin(), DbError);
    queue.upgradeSchema();
    auto columns = [&](const std::string& table) {
        std::string out;
        for (const auto& row : test::query(*db, "PRAGMA table_info(" + table + ")")) {
            out += row["name"].toText() + " ";
        }
        return out;
    };
    EXPECT_EQ(columns("MessageQueue"),
              "ID Message Mobileno Status DelDate QDateTime MessageID DeliverID DeliverStatus "
              "SMSType DeliverDateTime DeliverReason SMSCount ");
    EXPECT_EQ(columns("ProxyConfig"), "comport User1 Pass1 IPNO IPAddress ");
    std::string schema;
    for (const auto& row : test::query(*db, "SELECT sql FROM sqlite_master WHERE sql NOT NULL")) {
        schema += row["sql"].toText() + "\n";
    }
    queue.upgradeSchema();
    std::string again;
    for (const auto& row : test::query(*db, "SELECT sql FROM sqlite_master WHERE sql NOT NULL")) {
        again += row["sql"].toText() + "\n";
    }
    EXPECT_EQ(again, schema);
    EXPECT_NE(schema.find("MessageID_IDX"), std::string::npos);
    EXPECT_TRUE(queue.savedLogin().userId.isNull());
    db->close();
    EXPECT_NO_THROW(queue.upgradeSchema());
}

}  // namespace
}  // namespace parlix
