// shared_queue_bench: 1, 2 and 3 parlixd workers drain one PostgreSQL queue of 60,000 messages of
// 160 characters to gateway-sim, one after the other in one run, and one parlixd drains the same
// 60,000 from the file (SMSDB.MDB), so that the figures compare. Every worker has a program folder
// of its own and logs in to one gateway-sim account with sender ids, so the batch sender takes up
// to 2,000 rows a tick. For each run it prints:
//   - the messages per second, from the workers' start (start-up and login included) to the
//     moment no row is queued or taken, and how long it took until the first row was taken;
//   - the CPU microseconds per message of the workers, from wait4 once they have stopped;
//   - the CPU microseconds per message of the server: a private cluster with fsync on, whose CPU
//     is read from /proc before and after the run: the user and system time of the postmaster
//     and of each of its living children (backends, checkpointer, WAL writer, background writer,
//     autovacuum), plus the time of the children it has reaped (its cutime and cstime); less the
//     time of the benchmark's own connection, which polls the queue;
//   - each worker's peak resident memory (VmHWM, read just before it is stopped);
//   - what gateway-sim received (/_sim/messages): every message must arrive exactly once, and the
//     numbers lost and received twice are printed.
// Then it prints the figures against the goals: 3 workers at least 2.7 times one worker, one
// worker on PostgreSQL at least 95% of one worker on the file, and memory flat: no worker's peak
// more than 10% above another's, whether it drained 60,000 messages or a third of them.
// It also prints the server's WAL syncs a batch. It exits 1 when a message was lost or received
// twice, or a worker did not stop cleanly.
//
// The workers start together, so their one-second ticks fall together and contend for the
// machine's cores at the same moments: the hardest case. With --stagger they start a tick's
// share apart (a third of a second for three), as workers started at other times would run.
//
//   shared_queue_bench [--messages N] [--stagger]
//       N messages a run, 60000 unless given (at most 100000, what gateway-sim keeps)
#include <curl/curl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "db/pg_connection.h"
#include "db/shared_queue.h"
#include "parlixd_process.h"
#include "support/gateway_sim_process.h"
#include "support/pg_cluster.h"
#include "support/queue_db.h"
#include "support/temp_dir.h"

namespace parlix {
namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr long kFirstNumber = 9800000000L;
constexpr long kSimKeeps = 100000;
constexpr auto kDrainLimit = std::chrono::minutes(10);
constexpr double kScaleGoal = 2.7;
constexpr double kFileGoal = 0.95;
constexpr double kMemorySpread = 1.10;

/// The messages of a run: each has a number of its own, which also starts its text, so that
/// gateway-sim's record tells which row it came from.
std::vector<std::pair<Value, Value>> messages(long count) {
    std::vector<std::pair<Value, Value>> out;
    std::string text(160, 'm');
    for (long n = 0; n < count; ++n) {
        const std::string number = std::to_string(kFirstNumber + n);
        out.emplace_back(number, text.replace(0, number.size(), number));
    }
    return out;
}

/// User and system time of a process in clock ticks: its own, and that of the children it has
/// waited for.
struct ProcCpu {
    pid_t parent = 0;
    long own = 0;
    long reaped = 0;
};

std::optional<ProcCpu> procCpu(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line) || line.rfind(')') == std::string::npos) {
        return std::nullopt;
    }
    // The fields after the command's closing parenthesis, from the state (field 3) on.
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::vector<std::string> f;
    for (std::string word; fields >> word;) {
        f.push_back(word);
    }
    if (f.size() < 15) {
        return std::nullopt;
    }
    return ProcCpu{static_cast<pid_t>(std::stol(f[1])), std::stol(f[11]) + std::stol(f[12]),
                   std::stol(f[13]) + std::stol(f[14])};
}

double ticksToSeconds(long ticks) {
    return static_cast<double>(ticks) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

/// CPU seconds the server has used so far: the postmaster, its living children and those it
/// has reaped.
double serverCpuSeconds(pid_t postmaster) {
    long ticks = 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        const pid_t pid = static_cast<pid_t>(std::stol(name));
        if (std::optional<ProcCpu> cpu = procCpu(pid);
            cpu && (pid == postmaster || cpu->parent == postmaster)) {
            ticks += cpu->own + cpu->reaped;
        }
    }
    return ticksToSeconds(ticks);
}

size_t appendReply(char* data, size_t size, size_t n, void* body) {
    static_cast<std::string*>(body)->append(data, size * n);
    return size * n;
}

/// A GET of gateway-sim's control API without a limit on the reply: the list of 60,000
/// messages is larger than the program's HTTP client takes.
test::Json fetchJson(const std::string& url) {
    std::string body;
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendReply);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 60L);
    const CURLcode code = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    if (code != CURLE_OK) {
        throw std::runtime_error("GET " + url + ": " + curl_easy_strerror(code));
    }
    return test::Json::parse(body);
}

/// What gateway-sim received of the run's messages.
struct Delivery {
    long received = 0;
    long batches = 0;
    long lost = 0;
    long twice = 0;
    long strangers = 0;
    bool ok() const { return lost == 0 && twice == 0 && strangers == 0; }
};

Delivery delivery(test::GatewaySimProcess& sim, long count) {
    Delivery d;
    std::map<std::string, long> arrivals;
    std::set<std::string> flags;
    const test::Json received = fetchJson("http://" + sim.host() + "/_sim/messages");
    for (const test::Json& m : received.at("messages")) {
        ++arrivals[m.at("number").get<std::string>()];
        flags.insert(m.at("flag").get<std::string>());
        ++d.received;
    }
    d.batches = static_cast<long>(flags.size());
    for (long n = 0; n < count; ++n) {
        auto it = arrivals.find(std::to_string(kFirstNumber + n));
        if (it == arrivals.end()) {
            ++d.lost;
            continue;
        }
        d.twice += it->second - 1;
        arrivals.erase(it);
    }
    for (const auto& [number, times] : arrivals) {
        d.strangers += times;
    }
    return d;
}

/// The figures of one run.
struct Figures {
    std::string queue;
    int workers = 0;
    double seconds = 0;
    double workerCpu = 0;
    std::optional<double> serverCpu;
    /// The server's WAL syncs during the run.
    std::optional<long> walSyncs;
    std::vector<long> peakKb;
    std::vector<int> exitCodes;
    Delivery delivered;
    std::map<std::string, long> statuses;
    bool drained = false;

    /// Until the first row was seen taken.
    double startSeconds = 0;

    double perSecond(long count) const { return static_cast<double>(count) / seconds; }
    bool clean() const {
        return drained && delivered.ok() &&
               std::all_of(exitCodes.begin(), exitCodes.end(), [](int c) { return c == 0; });
    }
};

/// A program folder for one worker; `queueUrl` empty for the file in the folder.
std::unique_ptr<test::TempDir> workerFolder(test::GatewaySimProcess& sim,
                                            const std::string& queueUrl) {
    auto dir = std::make_unique<test::TempDir>();
    test::writeFile(*dir / "parlix.conf", (queueUrl.empty() ? "" : "queue.url=" + queueUrl + "\n") +
                                              "server1.host=" + sim.serverHost(1) +
                                              "\nhttp.total_timeout_ms=30000\n");
    bench::writeLoginFiles(dir->str(), "bench", "pw");
    return dir;
}

/// What the command line chose.
struct Options {
    long count = 60000;
    bool stagger = false;
};

/// How the benchmark watches a queue while the workers drain it.
struct Watch {
    /// Rows still queued.
    std::function<long()> queued;
    /// Whether any row is queued or taken.
    std::function<bool()> busy;
    /// The server's CPU seconds so far; empty for the file.
    std::function<double()> serverCpu;
};

/// Starts a parlixd on each folder and lets them drain until no row is queued or taken; the
/// server's CPU is read just before the start and just after the drain.
void drain(const Options& options, const std::vector<std::unique_ptr<test::TempDir>>& folders,
           const Watch& watch, Figures& fig) {
    const double serverBefore = watch.serverCpu ? watch.serverCpu() : 0;
    const auto start = SteadyClock::now();
    std::vector<std::unique_ptr<bench::ParlixdProcess>> workers;
    for (const auto& folder : folders) {
        if (options.stagger && !workers.empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1000) / folders.size());
        }
        workers.push_back(std::make_unique<bench::ParlixdProcess>(folder->str()));
    }
    std::optional<SteadyClock::time_point> firstTaken;
    while (SteadyClock::now() - start < kDrainLimit) {
        if (!firstTaken && watch.queued() < options.count) {
            firstTaken = SteadyClock::now();
        }
        if (firstTaken && !watch.busy()) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    const auto end = SteadyClock::now();
    fig.drained = !watch.busy();
    fig.seconds = std::chrono::duration<double>(end - start).count();
    fig.startSeconds = std::chrono::duration<double>(firstTaken.value_or(end) - start).count();
    if (watch.serverCpu) {
        fig.serverCpu = watch.serverCpu() - serverBefore;
    }
    for (size_t i = 0; i < workers.size(); ++i) {
        fig.exitCodes.push_back(workers[i]->stop(SIGTERM));
        fig.workerCpu += workers[i]->cpuSeconds();
        fig.peakKb.push_back(workers[i]->peakKb());
        if (!fig.drained || fig.exitCodes.back() != 0) {
            std::fprintf(stderr, "worker %zu's log:\n%s\n", i + 1,
                         test::readFile(*folders[i] / "parlixd.log").c_str());
        }
    }
}

Figures fileRun(test::GatewaySimProcess& sim, const Options& options) {
    const long count = options.count;
    Figures fig;
    fig.queue = "file (SMSDB.MDB)";
    fig.workers = 1;
    std::vector<std::unique_ptr<test::TempDir>> folders;
    folders.push_back(workerFolder(sim, ""));
    auto db = test::makeQueueDatabase(folders[0]->str());
    db->beginTrans();
    for (const auto& [mobile, text] : messages(count)) {
        test::enqueue(*db, mobile, text);
    }
    db->commitTrans();
    drain(options, folders,
          {[&] { return test::countExact(*db, "Queued"); },
           [&] { return test::countExact(*db, "Queued") + test::countExact(*db, "Read") > 0; },
           nullptr},
          fig);
    for (const test::Row& row :
         test::query(*db, "SELECT Status, count(*) AS n FROM MessageQueue GROUP BY Status")) {
        fig.statuses[row["Status"].toText()] = static_cast<long>(row["n"].integer());
    }
    return fig;
}

/// The server's WAL syncs so far. A backend reports its figures when it ends, at the latest:
/// they are read once no other connection to the database is left.
long walSyncs(PgConnection& db) {
    for (int wait = 0; wait < 50; ++wait) {
        if (db.run("SELECT count(*) FROM pg_stat_activity WHERE datname = current_database() AND "
                   "pid <> pg_backend_pid()")
                .integer(0, 0) == 0) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return static_cast<long>(db.run("SELECT wal_sync FROM pg_stat_wal").integer(0, 0));
}

Figures sharedRun(test::GatewaySimProcess& sim, test::PgCluster& cluster, int workers,
                  const Options& options) {
    const long count = options.count;
    Figures fig;
    fig.queue = "PostgreSQL";
    fig.workers = workers;
    const std::string url = cluster.newQueue();
    SharedQueue queue(std::make_unique<PgConnection>(url, 60000), "shared_queue_bench", 300);
    queue.open();
    const auto all = messages(count);
    constexpr size_t kChunk = 10000;
    for (size_t i = 0; i < all.size(); i += kChunk) {
        queue.enqueueAll({all.begin() + static_cast<long>(i),
                          all.begin() + static_cast<long>(std::min(all.size(), i + kChunk))});
    }
    queue.close();
    // Every run starts from a table the server has analysed and a checkpoint behind it, so that
    // no run pays for the loading of its queue.
    PgConnection poll(url, 60000);
    poll.open();
    poll.run("VACUUM ANALYZE MessageQueue");
    poll.run("CHECKPOINT");
    const auto own = static_cast<pid_t>(poll.run("SELECT pg_backend_pid()").integer(0, 0));
    const pid_t postmaster = procCpu(own).value().parent;

    const long syncsBefore = walSyncs(poll);
    std::vector<std::unique_ptr<test::TempDir>> folders;
    for (int w = 0; w < workers; ++w) {
        folders.push_back(workerFolder(sim, url));
    }
    drain(options, folders,
          {[&] {
               return static_cast<long>(
                   poll.run("SELECT count(*) FROM MessageQueue WHERE lower(Status) = 'queued'")
                       .integer(0, 0));
           },
           [&] {
               return poll.run(
                              "SELECT EXISTS (SELECT 1 FROM MessageQueue WHERE lower(Status) "
                              "IN ('queued', 'read'))")
                          .at(0, 0) == Value("t");
           },
           [&] { return serverCpuSeconds(postmaster) - ticksToSeconds(procCpu(own).value().own); }},
          fig);
    fig.walSyncs = walSyncs(poll) - syncsBefore;
    queue.open();
    fig.statuses = queue.countByStatus();
    return fig;
}

void print(const Figures& f, long count) {
    const double n = static_cast<double>(count);
    std::string peaks;
    for (long kb : f.peakKb) {
        peaks += (peaks.empty() ? "" : " ") + std::to_string(kb);
    }
    std::string statuses;
    for (const auto& [status, rows] : f.statuses) {
        statuses += (statuses.empty() ? "" : ", ") + status + " " + std::to_string(rows);
    }
    std::printf(
        "%-17s workers %d: %ld messages in %.1f s: %.0f messages/s (the first row taken after "
        "%.1f s)\n",
        f.queue.c_str(), f.workers, count, f.seconds, f.perSecond(count), f.startSeconds);
    std::printf(
        "    CPU per message: workers %.1f us, server %s; peak resident memory KiB: %s\n",
        f.workerCpu * 1e6 / n,
        f.serverCpu
            ? (std::to_string(static_cast<int>(*f.serverCpu * 1e6 / n + 0.5)) + " us").c_str()
            : "none (in the worker)",
        peaks.c_str());
    if (f.walSyncs && f.delivered.batches > 0) {
        std::printf("    server: %ld WAL syncs, %.1f a batch\n", *f.walSyncs,
                    static_cast<double>(*f.walSyncs) / static_cast<double>(f.delivered.batches));
    }
    std::printf(
        "    gateway received %ld in %ld batches: lost %ld, received twice %ld, not of the queue "
        "%ld; rows: %s%s\n",
        f.delivered.received, f.delivered.batches, f.delivered.lost, f.delivered.twice,
        f.delivered.strangers, statuses.c_str(), f.drained ? "" : " (NOT DRAINED in time)");
    std::fflush(stdout);
}

const char* verdict(bool met) {
    return met ? "met" : "NOT met";
}

int run(const Options& options) {
    const long count = options.count;
    curl_global_init(CURL_GLOBAL_DEFAULT);
    test::GatewaySimProcess sim;
    sim.addAccount({"bench", "pw", 1000000000, false, "", "ALPHA"});
    test::PgCluster cluster(true);

    std::vector<Figures> runs;
    auto measured = [&](Figures fig) {
        fig.delivered = delivery(sim, count);
        sim.post("/_sim/reset");
        print(fig, count);
        runs.push_back(std::move(fig));
    };
    std::printf("%ld messages of 160 characters a run; the workers start %s\n", count,
                options.stagger ? "a tick's share apart" : "together");
    measured(fileRun(sim, options));
    for (int workers = 1; workers <= 3; ++workers) {
        measured(sharedRun(sim, cluster, workers, options));
    }

    const double file = runs[0].perSecond(count);
    const double one = runs[1].perSecond(count);
    const double three = runs[3].perSecond(count);
    std::vector<long> peaks;
    for (size_t r = 1; r < runs.size(); ++r) {
        peaks.insert(peaks.end(), runs[r].peakKb.begin(), runs[r].peakKb.end());
    }
    const auto [low, high] = std::minmax_element(peaks.begin(), peaks.end());
    const double spread = static_cast<double>(*high) / static_cast<double>(*low);
    std::printf("goal: 3 workers >= %.1f x one worker: %.2f x (%.0f / %.0f messages/s): %s\n",
                kScaleGoal, three / one, three, one, verdict(three / one >= kScaleGoal));
    std::printf(
        "goal: one worker on PostgreSQL >= %.0f%% of one on the file: %.0f%% (%.0f / %.0f "
        "messages/s): %s\n",
        kFileGoal * 100, one / file * 100, one, file, verdict(one / file >= kFileGoal));
    std::printf(
        "goal: memory flat: workers' peak resident memory %ld to %ld KiB over the runs on "
        "PostgreSQL, the largest %.0f%% above the smallest (at most %.0f%%): %s\n",
        *low, *high, (spread - 1) * 100, (kMemorySpread - 1) * 100,
        verdict(spread <= kMemorySpread));
    const bool clean =
        std::all_of(runs.begin(), runs.end(), [](const Figures& f) { return f.clean(); });
    std::printf("%s\n", clean ? "every message reached the gateway exactly once in every run"
                              : "FAILED: a run lost or repeated messages, or a worker failed");
    curl_global_cleanup();
    return clean ? 0 : 1;
}

}  // namespace
}  // namespace parlix

int main(int argc, char** argv) {
    parlix::Options options;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--messages") == 0 && i + 1 < argc) {
            options.count = std::strtol(argv[++i], nullptr, 10);
        } else if (std::strcmp(argv[i], "--stagger") == 0) {
            options.stagger = true;
        } else {
            options.count = 0;
            break;
        }
    }
    if (options.count <= 0 || options.count > parlix::kSimKeeps) {
        std::fprintf(stderr,
                     "usage: shared_queue_bench [--messages N] [--stagger]   (0 < N <= %ld)\n",
                     parlix::kSimKeeps);
        return 64;
    }
    return parlix::run(options);
}
