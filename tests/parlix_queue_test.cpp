#include <gtest/gtest.h>

#include "db/connection.h"
#include "db/open_database.h"
#include "support/child_process.h"
#include "support/queue_db.h"
#include "support/temp_dir.h"

namespace parlix {
namespace {

class QueueToolTest : public ::testing::Test {
protected:
    test::ProcessResult tool(std::vector<std::string> args) {
        return test::runProcess(test::builtProgram("tools/parlix-queue/parlix-queue"), args,
                                dir.str());
    }
    long rows() {
        Connection c;
        c.openFile(dir.str() + "/SMSDB.MDB", kDatabasePassword);
        return static_cast<long>(c.scalar("select count(*) from MessageQueue").integer());
    }
    test::TempDir dir;
};

TEST_F(QueueToolTest, CreatesAnEncryptedQueueAndFillsIt) {
    ASSERT_EQ(tool({"create"}).exitCode, 0);
    EXPECT_EQ(tool({"create"}).exitCode, 2);  // never over an existing file
    EXPECT_EQ(tool({"enqueue", "+919876543210", "It's \"fine\", ok"}).exitCode, 0);
    test::writeFile(dir / "in.csv",
                    "Mobileno,Message\r\n111,\"a, b\"\r\n222,\"two\nlines\"\r\n\r\n333,\r\n");
    auto imported = tool({"import", "in.csv"});
    EXPECT_EQ(imported.exitCode, 0) << imported.out;
    EXPECT_EQ(rows(), 4);
    Connection c;
    c.openFile(dir.str() + "/SMSDB.MDB", kDatabasePassword);
    EXPECT_EQ(c.scalar("select Message from MessageQueue where Mobileno='222'").toText(),
              "two\nlines");
    EXPECT_TRUE(c.scalar("select Message from MessageQueue where Mobileno='333'").isNull());
    EXPECT_EQ(tool({"count", "--status", "queued"}).out, "4\n");
    EXPECT_EQ(tool({"upgrade"}).exitCode, 0);
    EXPECT_NO_THROW(c.scalar("select MessageID from MessageQueue"));
}

TEST_F(QueueToolTest, BadInputIsReportedAndNothingIsHalfDone) {
    ASSERT_EQ(tool({"create"}).exitCode, 0);
    test::writeFile(dir / "bad.csv", "111,ok\n222,\"never closed\n");
    auto r = tool({"import", "bad.csv"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.out.find("line 2"), std::string::npos) << r.out;
    test::writeFile(dir / "short.csv", "111,ok\n222\n");
    EXPECT_NE(tool({"import", "short.csv"}).out.find("line 2"), std::string::npos);
    EXPECT_EQ(rows(), 0);

    r = tool({"import", "missing.csv"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.out.find("missing.csv"), std::string::npos);
    r = tool({"count", "--password", "wrong"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.out.find("password"), std::string::npos);
    EXPECT_EQ(tool({"frobnicate"}).exitCode, 64);
}

}  // namespace
}  // namespace parlix
