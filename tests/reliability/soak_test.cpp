// Memory and time: a queue of many messages sent by parlix-driver (the window's logic with the
// real ports, in a process of its own) against gateway-sim, batch after batch. Its resident
// memory is sampled from /proc while it works. The database connection keeps a page cache of a
// set size, which fills as the queue file grows; beyond that nothing may grow with the number
// of messages sent, and once the file is well past the cache the memory must level off. The
// sanitizer build runs the same driver, whose leak check fails its exit code.
//
// Messages: 100,000; with PARLIX_RELIABILITY_LONG=1, 300,000; in the sanitizer build, 20,000.
// gateway-sim keeps the newest 100,000 messages, so beyond that the count of messages it
// received (kept and dropped) stands in for the per-message check of the older ones.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "db/open_database.h"
#include "reliability_support.h"
#include "support/gateway_sim_process.h"
#include "support/queue_db.h"
#include "support/temp_dir.h"

namespace parlix::reliability {
namespace {

long residentKbOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

long receivedSoFar(test::GatewaySimProcess& sim) {
    long n = 0;
    for (const test::JsonValue& b : sim.batches().array()) {
        n += static_cast<long>(b["records"].num());
    }
    return n;
}

TEST(SoakTest, ResidentMemoryStaysFlatWhileAQueueOfManyMessagesDrains) {
    const int messages = scaled(100000, 300000, 20000);
    test::GatewaySimProcess sim;
    sim.addAccount({"soak", "pw", 1000000000, false, "", "ALPHA"});
    test::TempDir program;
    test::TempDir settings;
    {
        auto db = test::makeQueueDatabase(program.str());
        std::mt19937_64 rng(99);
        enqueueAll(*db, uniqueTexts("soak-", messages, 70, rng));
    }
    test::writeFile(program / "parlix.conf", "server1.host=" + sim.serverHost(1) +
                                                 "\nhttp.connect_timeout_ms=2000\n"
                                                 "http.total_timeout_ms=10000\n");

    const auto start = std::chrono::steady_clock::now();
    ChildProcess driver(
        reliabilityProgram("parlix-driver"),
        {"--program-folder", program.str(), "--settings-folder", settings.str(), "--user", "soak",
         "--password", "pw", "--tick-ms", "10", "--time-limit-s", "280", "--until-drained"},
        program.str() + "/driver.log");
    // Samples of (messages the gateway has, resident KiB of the driver).
    std::vector<std::pair<long, long>> samples;
    while (driver.running()) {
        const long rss = residentKbOf(driver.pid());
        const long received = receivedSoFar(sim);
        if (rss > 0) {
            samples.emplace_back(received, rss);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    std::optional<int> code = driver.wait(std::chrono::seconds(5));
    const long long totalMs = msSince(start);
    ASSERT_EQ(code, 0) << driver.output();

    // The page cache the program's connection is given, in KiB.
    Connection c;
    c.openFile(program.str() + "/SMSDB.MDB", kDatabasePassword);
    const std::int64_t cacheSetting = c.scalar("PRAGMA cache_size").integer();
    const long cacheKb = static_cast<long>(cacheSetting < 0 ? -cacheSetting : cacheSetting * 4);
    const long fileKb = static_cast<long>(std::filesystem::file_size(program / "SMSDB.MDB") / 1024);

    // Settled once a tenth of the messages are out; levelled off once two thirds are.
    long settled = -1;
    long highest = -1;
    long atTwoThirds = -1;
    long highestAfterTwoThirds = -1;
    for (const auto& [received, rss] : samples) {
        if (settled < 0 && received >= messages / 10) {
            settled = rss;
        }
        if (settled >= 0) {
            highest = std::max(highest, rss);
        }
        if (atTwoThirds < 0 && received >= messages * 2L / 3) {
            atTwoThirds = rss;
        }
        if (atTwoThirds >= 0) {
            highestAfterTwoThirds = std::max(highestAfterTwoThirds, rss);
        }
    }
    const std::string out = driver.output();
    const size_t peakAt = out.rfind("peak resident ");
    const std::string peak = peakAt == std::string::npos
                                 ? "unknown"
                                 : out.substr(peakAt + 14, out.find('\n', peakAt) - peakAt - 14);
    figure("soak messages", messages);
    figure("soak time from start to drained (ms)", totalMs);
    figure("soak messages per second", totalMs > 0 ? messages * 1000LL / totalMs : 0);
    figure("soak queue file size (KiB)", fileKb);
    figure("soak page cache of the connection (KiB)", cacheKb);
    figure("soak driver resident memory once a tenth was sent (KiB)", settled);
    figure("soak driver resident memory once two thirds were sent (KiB)", atTwoThirds);
    figure("soak driver resident memory, highest (KiB)", highest);
    figure("soak driver peak resident memory", peak);
    ASSERT_GT(settled, 0) << "no sample was taken once the sending had settled";
    ASSERT_GT(atTwoThirds, 0) << "no sample was taken late in the run";
    if (!sanitized()) {
        EXPECT_LT(highest - settled, cacheKb + 8 * 1024)
            << "resident memory grew beyond what the page cache explains";
        if (fileKb > 2 * cacheKb) {
            EXPECT_LT(highestAfterTwoThirds - atTwoThirds, 8 * 1024)
                << "resident memory kept growing after the page cache was full";
        }
    }

    test::JsonValue got = fetchLargeJson(sim.host(), "/_sim/messages");
    Audit a = audit(c, got["messages"], "soak-");
    const long dropped = static_cast<long>(got["messagesDropped"].num());
    figures("soak", a);
    figure("soak messages gateway-sim no longer keeps", dropped);
    EXPECT_EQ(a.status("Sent"), messages);
    EXPECT_EQ(a.received + dropped, messages);
    EXPECT_EQ(a.duplicates, 0);
    EXPECT_EQ(a.receivedDistinct, messages - dropped);
    EXPECT_EQ(a.receivedWithoutRow, 0);
    // The rows whose messages gateway-sim no longer keeps show as sent but not received.
    EXPECT_EQ(a.sentNeverReceived, dropped);
}

}  // namespace
}  // namespace parlix::reliability
