// http_bench: parlixd sends while other software queues over HTTP. Several client threads
// queue N single-message requests (50000 unless given) while parlixd drains the queue into
// gateway-sim; it prints the requests per second, the p50 and p99 latency of a request, and
// parlixd's sending rate next to a run that sends the same number of messages queued beforehand
// with no HTTP load. Last, the queue is audited against what the gateway received: lost and
// duplicated messages (both must be 0).
//
//   http_bench [--messages N] [--clients C]     C client threads, 16 unless given
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>

#include "db/file_queue.h"
#include "reliability/daemon_folder.h"
#include "reliability/reliability_support.h"

namespace parlix {
namespace {

using Clock = std::chrono::steady_clock;
using reliability::DaemonFolder;
// A full batch of the batch sender: while at least this many rows wait, every tick sends all
// it can, so the sending rate measured then is the sender's own.
constexpr long kFullBatch = 2000;
const std::string kToken = "bench-token-93c1";

/// A message text of 160 characters that no other message has.
std::string textOf(const std::string& prefix, long n) {
    std::string text = prefix + std::to_string(n) + "-";
    text.resize(160, 'x');
    return text;
}

/// A parlixd with its HTTP interface on `port`, on a fresh folder; counts its queue 20 times a
/// second and measures the sending rate while at least a full batch waits.
struct Run {
    Run(test::GatewaySimProcess& sim, int port)
        : folder(sim, "bench",
                 "http.listen=127.0.0.1:" + std::to_string(port) +
                     "\nhttp.token_file=token\nhttp.total_timeout_ms=30000\n") {
        test::writeFile(folder.dir / "token", kToken);
        ::chmod(folder.path("token").c_str(), 0600);
    }
    void start() {
        daemon = folder.start();
        sampler = std::jthread([this](std::stop_token stop) { sample(stop); });
    }
    void sample(const std::stop_token& stop) {
        Connection db;
        db.openFile(folder.path("SMSDB.MDB"), kDatabasePassword);
        FileQueue queue(db, folder.path());
        long before = 0;
        long waitedBefore = 0;
        while (!stop.stop_requested()) {
            const long sent = test::countExact(db, "Sent");
            const long waiting = reliability::waiting(queue);
            // A batch settles in one transaction, so Sent moves in steps; a step taken while a
            // full batch waited is the end of a tick that sent all it could.
            if (sent != before && waitedBefore >= kFullBatch) {
                steps.emplace_back(Clock::now(), sent);
            }
            before = sent;
            waitedBefore = waiting;
            drained = waiting == 0 && sent > 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    /// Messages per second from the first full tick's end to the last one's before `until`.
    double sendingRate(Clock::time_point until = Clock::time_point::max()) const {
        auto last = steps.begin();
        for (auto s = steps.begin(); s != steps.end() && s->first <= until; ++s) {
            last = s;
        }
        if (steps.empty() || last == steps.begin()) {
            return 0;
        }
        return static_cast<double>(last->second - steps.front().second) /
               std::chrono::duration<double>(last->first - steps.front().first).count();
    }
    void waitDrained() {
        while (!drained && daemon->running()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        sampler = {};
        reliability::terminate(*daemon);
    }

    DaemonFolder folder;
    std::unique_ptr<test::ChildProcess> daemon;
    /// When Sent moved after a tick that had a full batch waiting, and to what.
    std::vector<std::pair<Clock::time_point, long>> steps;
    std::atomic<bool> drained = false;
    std::jthread sampler;
};

void report(const char* what, test::GatewaySimProcess& sim, Run& run, const std::string& prefix,
            long messages) {
    // Every message the gateway received, read without the test client's reply limit.
    httplib::Client control(sim.host());
    control.set_read_timeout(60);
    auto received = control.Get("/_sim/messages");
    const auto gateway = test::Json::parse(received ? received->body : "{}");
    const reliability::Audit a = reliability::audit(*run.folder.queue, gateway["messages"], prefix);
    std::printf(
        "%s: sending rate %.0f messages/s while a full batch waited; Sent %ld of %ld, "
        "lost %ld, duplicates %ld\n",
        what, run.sendingRate(), a.status("Sent"), messages, messages - a.receivedDistinct,
        a.duplicates);
}

int run(long messages, int clients) {
    test::GatewaySimProcess sim;
    sim.addAccount({"bench", "pw", 1000000000, false, "", "ALPHA"});

    Run quiet(sim, reliability::freeLoopbackPort());
    reliability::enqueueNew(*quiet.folder.queue, "q-", static_cast<int>(messages), 160);
    quiet.start();
    quiet.waitDrained();
    report("without HTTP load", sim, quiet, "q-", messages);
    const double quietRate = quiet.sendingRate();

    sim.post("/_sim/reset");
    const int port = reliability::freeLoopbackPort();
    Run loaded(sim, port);
    loaded.start();
    {
        httplib::Client probe("127.0.0.1", port);
        while (!probe.Get("/v1/status")) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    std::vector<std::vector<double>> latencies(static_cast<size_t>(clients));
    std::atomic<long> refused = 0;
    const auto start = Clock::now();
    {
        std::vector<std::jthread> threads;
        for (int c = 0; c < clients; ++c) {
            threads.emplace_back([&, c] {
                httplib::Client client("127.0.0.1", port);
                client.set_connection_timeout(5);
                client.set_read_timeout(60);
                client.set_keep_alive(true);
                client.set_tcp_nodelay(true);
                const httplib::Headers auth{{"Authorization", "Bearer " + kToken}};
                for (long n = c; n < messages; n += clients) {
                    const std::string body = "{\"to\":\"" + std::to_string(9800000000L + n) +
                                             "\",\"text\":\"" + textOf("h-", n) + "\"}";
                    const auto sent = Clock::now();
                    auto r = client.Post("/v1/messages", auth, body, "application/json");
                    latencies[static_cast<size_t>(c)].push_back(
                        std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
                    if (!r || r->status != 201) {
                        std::fprintf(stderr, "request %ld: %s\n", n,
                                     r ? std::to_string(r->status).c_str()
                                       : httplib::to_string(r.error()).c_str());
                        ++refused;
                    }
                }
            });
        }
    }
    const auto loadEnded = Clock::now();
    const double took = std::chrono::duration<double>(loadEnded - start).count();
    std::vector<double> all;
    for (const auto& l : latencies) {
        all.insert(all.end(), l.begin(), l.end());
    }
    std::sort(all.begin(), all.end());
    std::printf(
        "HTTP: %ld single-message requests from %d clients in %.1f s: %.0f requests/s; "
        "p50 %.2f ms, p99 %.2f ms; not 201: %ld\n",
        messages, clients, took, static_cast<double>(messages) / took, all[all.size() / 2],
        all[all.size() * 99 / 100], refused.load());
    loaded.waitDrained();
    report("with HTTP load", sim, loaded, "h-", messages);
    const double during = loaded.sendingRate(loadEnded);
    std::printf(
        "sending rate while the HTTP requests arrived: %.0f messages/s, %+.1f%% against "
        "the run without HTTP load\n",
        during, quietRate > 0 ? (during / quietRate - 1) * 100 : 0);
    return refused == 0 ? 0 : 1;
}

}  // namespace
}  // namespace parlix

int main(int argc, char** argv) {
    long messages = 50000;
    int clients = 16;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--messages") == 0 && i + 1 < argc) {
            messages = std::strtol(argv[++i], nullptr, 10);
        } else if (std::strcmp(argv[i], "--clients") == 0 && i + 1 < argc) {
            clients = static_cast<int>(std::strtol(argv[++i], nullptr, 10));
        } else {
            std::fprintf(stderr, "usage: http_bench [--messages N] [--clients C]\n");
            return 64;
        }
    }
    return messages > 0 && clients > 0 ? parlix::run(messages, clients) : 64;
}
