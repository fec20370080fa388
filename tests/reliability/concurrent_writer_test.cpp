// The outside software writing while parlixd sends: queue-writer, a separate process, inserts
// 100 rows a second. No insert may fail, every row must be sent once, and neither side may meet
// a locked database it does not wait out.
//
// Writer time: 10 s; with PARLIX_RELIABILITY_LONG=1, 120 s; in the sanitizer build, 6 s.
#include <gtest/gtest.h>

#include "reliability_support.h"

namespace parlix::reliability {
namespace {

TEST(OutsideWriter, RowsInsertedWhileParlixdSendsAreAllKeptAndSentOnce) {
    const int seconds = scaled(10, 120, 6);
    test::GatewaySimProcess sim;
    sim.addAccount({"demo", "pw", 1000000000, false, "", "ALPHA"});
    DaemonFolder f(sim, "demo");
    auto d = f.start();
    test::ChildProcess writer(std::string(PARLIX_RELIABILITY_DIR) + "/queue-writer",
                              {"--db", f.path("SMSDB.MDB"), "--rate", "100", "--seconds",
                               std::to_string(seconds), "--prefix", "cw-"},
                              f.path("writer.log"));
    EXPECT_EQ(writer.wait(std::chrono::seconds(seconds + 60)), 0) << writer.output();
    EXPECT_EQ(writer.output().rfind("inserted " + std::to_string(100 * seconds) + " failed 0", 0),
              0u)
        << writer.output();
    EXPECT_TRUE(waitDrained(f.db(), *d));
    const std::string out = d->output();
    EXPECT_EQ(terminate(*d), 0) << out;

    const Audit a = audit(f.db(), sim.messages(), "cw-");
    EXPECT_EQ(a.rows, 100 * seconds);
    EXPECT_EQ(a.status("Sent"), a.rows);
    EXPECT_EQ(a.receivedDistinct, a.rows);
    EXPECT_EQ(a.duplicates, 0);
    for (const char* trouble : {"locked", "busy", "Dispatch error"}) {
        EXPECT_EQ(out.find(trouble), std::string::npos) << out;
    }
}

}  // namespace
}  // namespace parlix::reliability
