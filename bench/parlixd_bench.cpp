// parlixd_bench: parlixd drains a queue of 160-character messages against gateway-sim; prints
// the messages per second, the CPU time per message and the peak resident memory of parlixd.
// Then a second run is stopped with SIGTERM while the last piece of a batch waits for its
// reply, and prints how many rows were left "Read" (there must be none) and the exit code.
//
//   parlixd_bench [--queued N]     N messages, 20000 unless given; the long soak: 300000
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "parlixd_process.h"
#include "support/gateway_sim_process.h"
#include "support/queue_db.h"
#include "support/temp_dir.h"
#include "transport/gateway_url.h"

namespace parlix {
namespace {

using Clock = std::chrono::steady_clock;

/// A program folder for parlixd with `queued` messages of 160 characters.
struct Folder {
    test::TempDir dir;
    std::unique_ptr<Connection> db;

    Folder(test::GatewaySimProcess& sim, long queued) : db(test::makeQueueDatabase(dir.str())) {
        std::string text(160, 'm');
        db->beginTrans();
        for (long n = 0; n < queued; ++n) {
            const std::string number = std::to_string(9800000000L + n);
            test::enqueue(*db, number, text.replace(0, number.size(), number));
        }
        db->commitTrans();
        test::writeFile(dir / "parlix.conf",
                        "server1.host=" + sim.serverHost(1) + "\nhttp.total_timeout_ms=30000\n");
        bench::writeLoginFiles(dir.str(), "bench", "pw");
    }
    long count(const char* status) { return test::countExact(*db, status); }
    /// Rows still to send, in one statement: two counts would miss rows moving between them.
    long waiting() {
        return db->scalar("SELECT count(*) FROM MessageQueue WHERE Status IN ('Queued', 'Read')")
            .integer();
    }
};

int run(long queued) {
    test::GatewaySimProcess sim;
    sim.addAccount({"bench", "pw", 1000000000, false, "", "ALPHA"});
    {
        Folder f(sim, queued);
        const auto start = Clock::now();
        bench::ParlixdProcess d(f.dir.str());
        while (f.waiting() > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        const double took = std::chrono::duration<double>(Clock::now() - start).count();
        const int code = d.stop(SIGTERM);
        const double cpu = d.cpuSeconds();
        std::printf("drain: %ld messages in %.1f s (start-up included): %.0f messages/s\n", queued,
                    took, static_cast<double>(queued) / took);
        std::printf("drain: CPU %.2f s, %.1f us per message; peak resident memory %ld KiB\n", cpu,
                    cpu * 1e6 / static_cast<double>(queued), d.peakKb());
        std::printf("drain: rows Sent %ld; exit code %d\n", f.count("Sent"), code);
    }

    sim.post("/_sim/reset");
    sim.setFaults("server=1&delay_ms=10000&match=" + encodeQueryValue("Status=1"));
    Folder f(sim, 5000);
    bench::ParlixdProcess d(f.dir.str());
    // The message file's last piece has arrived (the header's comes first); its reply waits.
    auto messageFileArrived = [&] {
        for (const test::Json& b : sim.batches()) {
            if (b.at("kind").get<std::string>() != "TAG") {
                return true;
            }
        }
        return false;
    };
    while (!messageFileArrived()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const long taken = f.count("Read");
    const int code = d.stop(SIGTERM);
    std::printf(
        "stop mid-batch: rows Read at SIGTERM %ld, after it %ld (must be 0); DelSent %ld; "
        "exit code %d\n",
        taken, f.count("Read"), f.count("DelSent"), code);
    return f.count("Read") == 0 && code == 0 ? 0 : 1;
}

}  // namespace
}  // namespace parlix

int main(int argc, char** argv) {
    long queued = 20000;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--queued") == 0 && i + 1 < argc) {
            queued = std::strtol(argv[++i], nullptr, 10);
        } else {
            std::fprintf(stderr, "usage: parlixd_bench [--queued N]\n");
            return 64;
        }
    }
    return queued > 0 ? parlix::run(queued) : 64;
}
