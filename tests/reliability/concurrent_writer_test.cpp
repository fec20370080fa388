// The outside software writing while the program sends: queue-writer, a separate process,
// inserts 100 rows a second into the queue while the dispatch tick runs against gateway-sim.
// No insert may fail or go missing, every inserted row must be sent exactly once, and neither
// side may meet a locked database it does not wait out.
//
// Writer time: 15 s; with PARLIX_RELIABILITY_LONG=1, 120 s; in the sanitizer build, 8 s.
#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include "live_dispatch.h"

namespace parlix::reliability {
namespace {

struct WriterReport {
    long inserted = -1;
    long failed = -1;
    long late = -1;
    long maxInsertMs = -1;
    std::string firstError;
};

WriterReport parseWriter(const std::string& out) {
    WriterReport r;
    size_t at = out.rfind("inserted ");
    if (at == std::string::npos) {
        return r;
    }
    std::istringstream in(out.substr(at));
    std::string word;
    in >> word >> r.inserted >> word >> r.failed >> word >> r.late >> word >> r.maxInsertMs >> word;
    std::getline(in, r.firstError);
    return r;
}

using ConcurrentWriterTest = LiveDispatchTest;

TEST_F(ConcurrentWriterTest, RowsInsertedWhileSendingAreAllKeptAndSentOnce) {
    startLoggedIn();
    const int seconds = scaled(15, 120, 8);
    const int rate = 100;
    ChildProcess writer(reliabilityProgram("queue-writer"),
                        {"--db", fx.programDir.str() + "/SMSDB.MDB", "--rate", std::to_string(rate),
                         "--seconds", std::to_string(seconds), "--prefix", "cw-"},
                        fx.programDir.str() + "/writer.log");
    const auto start = std::chrono::steady_clock::now();
    // Ticks come faster than the window's one second, to meet the writer more often.
    while (writer.running()) {
        tick();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        ASSERT_LT(msSince(start), (seconds + 60) * 1000LL) << "the writer does not end";
    }
    const long ticksWhileWriting = ticks;
    std::optional<int> code = writer.wait(std::chrono::seconds(5));
    WriterReport w = parseWriter(writer.output());
    const int drainTicks = drain(5);

    Audit a = auditOf("cw-");
    figure("outside writer: rows inserted", w.inserted);
    figure("outside writer: inserts failed", w.failed);
    figure("outside writer: inserts more than 1 s behind schedule", w.late);
    figure("outside writer: slowest insert (ms)", w.maxInsertMs);
    figure("outside writer: ticks while writing", ticksWhileWriting);
    figure("outside writer: slowest tick (ms)", slowestTickMs);
    figure("outside writer: ticks to drain afterwards", drainTicks);
    figures("outside writer at 100 rows/s", a);
    EXPECT_EQ(code, 0) << writer.output();
    EXPECT_EQ(w.failed, 0) << w.firstError;
    EXPECT_EQ(w.inserted, static_cast<long>(rate) * seconds);
    EXPECT_EQ(a.rows, w.inserted);
    EXPECT_EQ(a.status("Sent"), w.inserted);
    EXPECT_EQ(a.receivedDistinct, w.inserted);
    EXPECT_EQ(a.duplicates, 0);
    EXPECT_GE(drainTicks, 1);
    EXPECT_EQ(log->firstWith({"locked", "busy", "Dispatch error"}), "");
    EXPECT_TRUE(fx.ui.boxes.empty());
}

}  // namespace
}  // namespace parlix::reliability
