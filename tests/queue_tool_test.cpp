#include <gtest/gtest.h>

#include <tuple>

#include "support/child_process.h"
#include "support/pg_cluster.h"
#include "support/queue_db.h"
#include "support/temp_dir.h"

namespace parlix {
namespace {

/// The tool run in `dir`, on the file there or on the queue `url` names.
test::ProcessResult runTool(const test::TempDir& dir, std::vector<std::string> args,
                            const std::string& url = "") {
    if (!url.empty()) {
        args.insert(args.begin(), {"--db", url});
    }
    return test::runProcess(test::builtProgram("tools/parlix-queue/parlix-queue"), args, dir.str());
}

class QueueToolTest : public ::testing::TestWithParam<std::string> {
protected:
    test::ProcessResult tool(std::vector<std::string> args) { return runTool(dir, args, url); }
    test::TempDir dir;
    std::string url = GetParam() == "postgresql" ? test::PgCluster::shared().newDatabase() : "";
};

// The tool is what the outside software does to the queue: it creates the queue, the database
// file encrypted, queues messages and reports them by status, whatever the case of the status.
TEST_P(QueueToolTest, CreatesAQueueFillsItAndReportsIt) {
    ASSERT_EQ(tool({"create"}).exitCode, 0);
    EXPECT_EQ(test::readFile(dir / "SMSDB.MDB").substr(0, 15).find("SQLite format"),
              std::string::npos);
    EXPECT_EQ(tool({"count"}).out, "total\t0\n");
    EXPECT_EQ(tool({"create"}).exitCode, 2);  // never over an existing queue
    EXPECT_EQ(tool({"enqueue", "+919876543210", "It's \"fine\", ok"}).exitCode, 0);
    test::writeFile(dir / "in.csv",
                    "Mobileno,Message\r\n111,\"a, b\"\r\n222,\"two\nlines\"\r\n\r\n333,\r\n");
    EXPECT_EQ(tool({"import", "in.csv"}).out, "queued 3 messages\n");
    EXPECT_EQ(tool({"count", "--status", "queued"}).out, "4\n");
    EXPECT_EQ(tool({"list", "--status", "QUEUED", "--limit", "3"}).out,
              "1\tQueued\t+919876543210\tIt's \"fine\", ok\n2\tQueued\t111\ta, b\n"
              "3\tQueued\t222\ttwo\nlines\n");
    EXPECT_EQ(tool({"list", "--status", "Sent"}).out, "");
    EXPECT_EQ(tool({"count"}).out, "Queued\t4\ntotal\t4\n");
    EXPECT_EQ(tool({"upgrade"}).exitCode, 0);
    const std::string all = tool({"list"}).out;
    EXPECT_EQ(all.substr(all.rfind("4\t")), "4\tQueued\t333\t\n");
}

INSTANTIATE_TEST_SUITE_P(BothBackends, QueueToolTest, ::testing::Values("file", "postgresql"),
                         [](const auto& p) { return p.param; });

TEST(QueueTool, BadInputIsReportedAndNothingIsHalfDone) {
    test::TempDir dir;
    test::makeQueueDatabase(dir.str())->execute(
        "CREATE TRIGGER refuse BEFORE INSERT ON MessageQueue WHEN NEW.Message = "
        "'three' BEGIN SELECT RAISE(ABORT, 'refused here'); END");
    test::writeFile(dir / "bad.csv", "111,ok\n222,\"never closed\n");
    test::writeFile(dir / "short.csv", "111,ok\n222\n");
    test::writeFile(dir / "three.csv", "111,one\n222,two\n333,three\n");
    // Refused input exits 2 naming what is wrong; a wrong command line exits 64.
    const std::tuple<std::vector<std::string>, int, const char*> cases[] = {
        {{"import", "bad.csv"}, 2, "line 2"},
        {{"import", "short.csv"}, 2, "line 2"},
        {{"import", "missing.csv"}, 2, "missing.csv"},
        {{"import", "three.csv"}, 2, "refused here"},
        {{"count", "--password", "wrong"}, 2, "password"},
        {{"list", "--db", "none.mdb"}, 2, "none.mdb"},
        {{"count", "--db", "host=/nowhere dbname=q password=Secret-9"}, 2, "cannot be reached"},
        {{"frobnicate"}, 64, ""},
        {{"list", "--limit", "0"}, 64, ""},
        {{"enqueue", "1"}, 64, ""},
        {{}, 64, ""}};
    for (const auto& [args, code, mentions] : cases) {
        auto r = runTool(dir, args);
        EXPECT_TRUE(r.exitCode == code && r.out.find(mentions) != std::string::npos &&
                    r.out.find("Secret-9") == std::string::npos)
            << r.exitCode << ": " << r.out;
    }
    EXPECT_EQ(runTool(dir, {"count", "--status", "Queued"}).out, "0\n");
}

}  // namespace
}  // namespace parlix
