// parlixd as a service manager runs it: what it refuses to start on, its exit codes, its login,
// its signals and its log; and under stress, killed at every moment of a batch or sending while
// outside software fills the queue, where no message may be lost or reach the gateway twice.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <regex>
#include <sstream>
#include <thread>
#include <tuple>

#include "daemon_folder.h"
#include "model/settings_keys.h"
#include "reliability_support.h"
#include "support/child_process.h"
#include "support/fakes.h"
#include "support/gateway_sim_process.h"
#include "sys/registry_keys.h"
#include "sys/registry_store.h"
#include "transport/gateway_url.h"

namespace parlix::reliability {
namespace {

namespace fs = std::filesystem;

/// Runs `parlixd --login` on a terminal and answers each prompt once it shows: what the
/// terminal displayed, and the exit code.
test::ProcessResult loginOnTerminal(const std::string& folder,
                                    const std::vector<std::string>& answers) {
    int terminal = -1;
    pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    if (pid == 0) {
        ::execl(kParlixd.c_str(), kParlixd.c_str(), "--folder", folder.c_str(), "--login", nullptr);
        ::_exit(127);
    }
    test::ProcessResult r;
    size_t answered = 0;
    char buf[256];
    pollfd p{terminal, POLLIN, 0};
    while (::poll(&p, 1, 10000) > 0) {
        ssize_t n = ::read(terminal, buf, sizeof buf);
        if (n <= 0) {
            break;  // the program has closed the terminal
        }
        r.out.append(buf, static_cast<size_t>(n));
        if (answered < answers.size() && r.out.ends_with(": ")) {
            const std::string line = answers[answered++] + "\n";
            EXPECT_EQ(::write(terminal, line.data(), line.size()),
                      static_cast<ssize_t>(line.size()));
        }
    }
    ::close(terminal);
    int status = 0;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

/// Every file under `dir`, by relative name, with its content.
std::map<std::string, std::string> snapshot(const fs::path& dir) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        files[fs::relative(e.path(), dir).string()] =
            e.is_regular_file() ? test::readFile(e.path()) : "<folder>";
    }
    return files;
}

void addConf(DaemonFolder& f, const std::string& lines) {
    test::writeFile(f.path("parlix.conf"), test::readFile(f.path("parlix.conf")) + lines);
}

/// Spoils a fresh folder, or the arguments parlixd gets (those of DaemonFolder::args).
using Spoil = std::function<void(DaemonFolder&, std::vector<std::string>& args)>;

// The one line never shows a password.
TEST(Parlixd, RefusesEachUnusableStartWithItsExitCodeOneLineAndNoFileChanged) {
    static const std::string kSecret = "Secret-77";
    test::GatewaySimProcess sim;
    std::unique_ptr<test::ChildProcess> first;
    // clang-format off
    const std::tuple<const char*, int, Spoil> cases[] = {
        {"a missing folder", 78, [](DaemonFolder& f, auto& args) { args[1] = f.path("missing"); }},
        {"a database with another password", 78, [](DaemonFolder& f, auto&) { fs::remove(f.path("SMSDB.MDB")); createDatabaseFile(f.path("SMSDB.MDB"), "other"); }},
        {"a database cut to half", 78, [](DaemonFolder& f, auto&) { fs::resize_file(f.path("SMSDB.MDB"), fs::file_size(f.path("SMSDB.MDB")) / 2); }},
        {"a corrupt registry.dat", 78, [](DaemonFolder& f, auto&) { test::writeFile(f.path("registry.dat"), "garbage\n"); }},
        {"a corrupt settings file", 78, [](DaemonFolder& f, auto&) { test::writeFile(f.path("config/Zentroca.ini"), "[Sms]\nnot a setting\n"); }},
        {"a shared queue that cannot be reached", 78, [](DaemonFolder& f, auto&) { addConf(f, "queue.url=postgresql://parlix:" + kSecret + "@/sms?host=/nowhere\n"); }},
        {"a bad parlix.conf", 78, [](DaemonFolder& f, auto&) { test::writeFile(f.path("parlix.conf"), "http.total_timeout_ms=soon\n"); }},
        {"an unknown option", 64, [](DaemonFolder&, auto& args) { args.push_back("--fast"); }},
        {"a credentials file its group may read", 78, [](DaemonFolder& f, auto&) { ::chmod(f.path("credentials").c_str(), 0640); }},
        {"a credentials file of another user", 78, [](DaemonFolder& f, auto&) { EXPECT_EQ(::chown(f.path("credentials").c_str(), ::geteuid() + 1, ::getegid()), 0); }},
        {"a credentials file behind a link", 78, [](DaemonFolder& f, auto& args) { fs::create_symlink(f.path("credentials"), f.path("link")); args.back() = f.path("link"); }},
        {"no credentials at all", 78, [](DaemonFolder&, auto& args) { args.resize(4); }},
        {"an HTTP token others may read", 78, [](DaemonFolder& f, auto&) { addConf(f, "http.listen=127.0.0.1:1\nhttp.token_file=credentials\n"); fs::permissions(f.path("credentials"), fs::perms::group_read, fs::perm_options::add); }},
        {"http.listen without a token file", 78, [](DaemonFolder& f, auto&) { addConf(f, "http.listen=127.0.0.1:1\n"); }},
        {"an HTTP address in use", 78, [&sim](DaemonFolder& f, auto&) { addConf(f, "http.listen=" + sim.host() + "\nhttp.token_file=credentials\n"); }},
        {"--listen without a port", 64, [](DaemonFolder&, auto& args) { args.insert(args.end(), {"--listen", "8080"}); }},
        {"a second parlixd on the folder", 75, [&first](DaemonFolder& f, auto&) { first = f.start(); waitUntil(*first, [&] { return first->output().find("Server: Connected") != std::string::npos; }); }},
    };
    // clang-format on
    sim.addAccount({"demo", "pw", 1000, false, "", ""});
    for (const auto& [label, code, spoil] : cases) {
        SCOPED_TRACE(label);
        DaemonFolder f(sim, "demo");
        f.queue.reset();
        f.db.reset();
        std::vector<std::string> args = f.args;
        spoil(f, args);
        // The first parlixd keeps writing its own database; the second may change nothing else.
        auto ours = [&] {
            auto files = snapshot(f.path());
            std::erase_if(files, [&](const auto& file) {
                return first && file.first.starts_with("SMSDB.MDB");
            });
            return files;
        };
        const auto before = ours();
        test::ProcessResult r = test::runProcess(kParlixd, args);
        EXPECT_EQ(r.exitCode, code) << r.out;
        // One line, "parlixd: ..."; after a bad option the usage follows it.
        const char* says = code == 64 ? "parlixd: .*\nusage: [\\s\\S]*" : "parlixd: .*\n";
        EXPECT_TRUE(std::regex_match(r.out, std::regex(says))) << r.out;
        EXPECT_EQ(r.out.find(kSecret), std::string::npos) << r.out;
        EXPECT_EQ(ours(), before);
        first.reset();
    }
}

TEST(Parlixd, HelpAndVersionOfEveryProgramExitZero) {
    for (const char* program : {"src/daemon/parlixd", "tools/gateway-sim/gateway-sim",
                                "tools/parlix-queue/parlix-queue"}) {
        for (const auto& [option, says] :
             {std::pair{"--help", "exit codes"}, {"--version", "1."}}) {
            test::ProcessResult r = test::runProcess(test::builtProgram(program), {option});
            EXPECT_TRUE(r.exitCode == 0 && r.out.find(says) != std::string::npos)
                << program << " " << option << ": " << r.out;
        }
    }
}

// With the login --login saved on a terminal, parlixd serves; SIGHUP rereads parlix.conf; SIGINT
// and SIGTERM together in the middle of a batch (its last piece's reply held back) run Exit once:
// no row is left taken and it exits 0.
// Every line of the log is stamped and holds neither the password nor a request's query.
TEST(Parlixd, ServesWithTheSavedLoginRereadsItsConfigurationStopsCleanlyAndLogsNoSecret) {
    const std::string secret = "Pw-7c1e-secret";
    test::GatewaySimProcess sim;
    sim.addAccount({"demo", secret, 1000000, false, "", ""});
    DaemonFolder f(sim, "unused");
    test::ProcessResult saved = loginOnTerminal(f.path(), {"demo", secret});
    ASSERT_EQ(saved.exitCode, 0) << saved.out;
    EXPECT_NE(saved.out.find("Gateway user id: demo"), std::string::npos) << saved.out;
    EXPECT_EQ(saved.out.find(secret), std::string::npos);  // the terminal never echoes it
    enqueueNew(*f.queue, "one-", 20);
    test::ChildProcess d(kParlixd,
                         {"--folder", f.path(), "--settings", f.path("config"), "--verbose"},
                         f.path("parlixd.out"));
    ASSERT_TRUE(waitUntil(d, [&] { return waiting(*f.queue) == 0; })) << d.output();

    // Server 1 moves to another port; the rows queued after the reread go there.
    test::writeFile(f.path("parlix.conf"), "server1.host=" + sim.serverHost(3) + "\n");
    d.signal(SIGHUP);
    waitUntil(d, [&] { return d.output().find("parlix.conf reread") != std::string::npos; });
    enqueueNew(*f.queue, "two-", 20);
    ASSERT_TRUE(waitUntil(d, [&] { return waiting(*f.queue) == 0; })) << d.output();
    EXPECT_EQ(test::countExact(*f.db, "Sent"), 40);
    for (const test::Json& m : sim.messages()) {
        EXPECT_EQ(m.at("server").get<std::string>(),
                  m.at("text").get<std::string>().starts_with("two-") ? "3" : "1");
    }

    sim.post("/_sim/reset");
    sim.setFaults("server=3&delay_ms=5000&match=" + encodeQueryValue("Status=1"));
    enqueueNew(*f.queue, "term-", 30);
    waitUntil(d, [&] { return sim.batches().size() > 0; });
    const std::string out = d.output();
    d.signal(SIGINT);  // a terminal's and a service manager's stop together are one stop
    EXPECT_EQ(terminate(d), 0) << out;
    EXPECT_TRUE(d.output().ends_with(" parlixd stopped\n")) << d.output();
    const Audit a = audit(*f.queue, sim.messages(), "term-");
    EXPECT_EQ(std::tuple(a.receivedDistinct, a.status("DelSent")), std::tuple(30, 30)) << out;

    const std::regex stamped(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d .*)");
    std::istringstream lines(d.output());
    for (std::string line; std::getline(lines, line);) {
        EXPECT_TRUE(std::regex_match(line, stamped)) << line;
    }
    EXPECT_EQ(d.output().find(secret), std::string::npos);
    EXPECT_FALSE(std::regex_search(d.output(), std::regex(R"((GET|POST) \S*\?)")));
    EXPECT_NE(d.output().find("PostDataZSM.ASP: reply"),
              d.output().rfind("PostDataZSM.ASP: reply"));
}

// --login reads a terminal or a pipe alike; empty answers are refused, a store that cannot be
// replaced is reported, Ctrl-C ends it, and only a saved login is there afterwards.
TEST(Parlixd, LoginSavesWhatItIsGivenAndRefusesEmptyAnswersOrAStoreItCannotWrite) {
    const std::tuple<const char*, std::string, int> cases[] = {
        {"a pipe", "demo\nsecret\n", 0},
        {"empty answers", "\n\n", 64},
        {"no input at all", "", 64},
        {"a store it cannot replace", "demo\nsecret\n", 73},
        {"Ctrl-C at the password", "\x03", 130}};
    for (const auto& [label, input, code] : cases) {
        SCOPED_TRACE(label);
        test::TempDir dir;
        if (code == 73) {
            fs::create_directory(dir / "registry.dat_new");
        }
        const test::ProcessResult r =
            code == 130 ? loginOnTerminal(dir.str(), {"demo", input})
                        : test::runProcess(kParlixd, {"--folder", dir.str(), "--login"}, "", input);
        EXPECT_EQ(r.exitCode, code) << r.out;
        test::FakeUi ui;
        RegistryStore store(dir.str() + "/registry.dat");
        EXPECT_EQ(RegistryKeys(store, ui).ReadRegValue(kProgramRegistryKey, "PassWord"),
                  code == 0 ? "secret" : "");
    }
}

// Runs that start and then end: start-up ending the program exits 78. With every server down,
// one Connect makes one pass over the servers and the next comes after the reconnect interval.
TEST(Parlixd, StartUpEndingTheProgramExits78AndAFailedConnectWaitsForTheNext) {
    test::GatewaySimProcess sim;
    sim.addAccount({"demo", "pw", 1000, false, "", ""});
    {
        DaemonFolder f(sim, "demo");
        test::FakeUi ui;
        RegistryStore store(f.path("registry.dat"));
        RegistryKeys keys(store, ui);
        keys.CreateRegKey(kProgramRegistryKey);
        keys.WriteRegString(kProgramRegistryKey, "Remember Id PassWord", "7");
        test::ProcessResult r = test::runProcess(kParlixd, f.args);
        EXPECT_EQ(r.exitCode, 78) << r.out;
        EXPECT_NE(r.out.find("parlixd: start-up ended the program"), std::string::npos) << r.out;
    }
    DaemonFolder f(sim, "demo");
    for (int server = 1; server <= 5; ++server) {
        sim.setFaults("server=" + std::to_string(server) + "&refuse=1");
    }
    auto d = f.start();
    auto checks = [&] {
        const std::string out = d->output();
        long n = 0;
        for (size_t at = 0; (at = out.find("Trying to Connect server", at)) != std::string::npos;
             ++at) {
            ++n;
        }
        return n;
    };
    ASSERT_TRUE(waitUntil(*d, [&] { return checks() >= 10; })) << d->output();
    std::this_thread::sleep_for(std::chrono::seconds(8));
    EXPECT_EQ(checks(), 10) << "two attempts at each server, then a wait";
    EXPECT_TRUE(waitUntil(*d, [&] { return checks() == 20; })) << d->output();
}

/// A moment is held by delaying the requests whose target holds `match`; the kill comes once
/// the `nth` request whose target `killOn` finds has arrived. Rows of 60 characters: 33 make a
/// message file of two pieces of 2048 hex characters, 56 one of three.
struct Moment {
    const char* name;
    const char* match;
    const char* killOn;
    int nth;
    int rows;
};

const Moment kMoments[] = {
    {"before the first piece", "_TAG", "_TAG", 1, 33},
    {"between pieces", "Status=0", "Status=0", 1, 56},
    {"just before the last piece", "Status=0", "Status=0", 1, 33},
    {"just after the last piece", "Status=1", "Status=1.*_NW", 1, 33},
    {"during the debit", "Debit.asp", "Debit\\.asp", 1, 33},
};
// The single-file sender uploads no header: its batch is taken right after the tick's login,
// the second login of the run, and nothing goes out between the two.
const Moment kSingleBeforeFirstPiece = {"before the first piece", "Logonchks", "Logonchks", 2, 33};

/// One run; the rows "Deleted" that the gateway did receive, a batch it may have held.
long crashRun(int run, test::GatewaySimProcess& sim) {
    const size_t at = static_cast<size_t>(run) % std::size(kMoments);
    const bool batch = (run / static_cast<int>(std::size(kMoments))) % 2 == 0;
    const Moment& m = !batch && at == 0 ? kSingleBeforeFirstPiece : kMoments[at];
    SCOPED_TRACE("run " + std::to_string(run) + ", " + (batch ? "batch" : "single-file") +
                 " sender, killed " + m.name);
    sim.post("/_sim/reset");
    DaemonFolder f(sim, batch ? "batch" : "single");
    enqueueNew(*f.queue, "k-", m.rows);
    sim.setFaults("server=1&delay_ms=1500&match=" + encodeQueryValue(m.match));

    auto first = f.start("first.log");
    const std::regex killOn(m.killOn);
    long long killSeq = -1;
    waitUntil(*first, [&] {
        int found = 0;
        for (const test::Json& r : sim.requests()) {
            if (std::regex_search(r.at("target").get<std::string>(), killOn) && ++found == m.nth) {
                killSeq = r.at("seq").get<long long>();
            }
        }
        return killSeq > 0;
    });
    first->kill();
    // Nothing came after the request the kill waited for: the kill landed at its moment.
    EXPECT_TRUE(killSeq > 0 && sim.requests().back().at("seq").get<long long>() == killSeq)
        << first->output();
    EXPECT_EQ(integrityOf(f.path("SMSDB.MDB")), "ok");

    sim.post("/_sim/faults/clear");
    auto restart = f.start("restart.log");
    EXPECT_TRUE(waitUntil(*restart, [&] { return waiting(*f.queue) == 0; })) << restart->output();
    EXPECT_EQ(terminate(*restart), 0) << restart->output();
    const Audit a = audit(*f.queue, sim.messages(), "k-");
    EXPECT_EQ(a.receivedDistinct, m.rows)
        << "messages that never went out: " << test::Json(a.statuses).dump() << "\n"
        << first->output() << restart->output();
    EXPECT_EQ(a.duplicates, 0);
    EXPECT_EQ(a.deletedNeverReceived, 0) << "lost: " << restart->output();
    return a.status("Deleted");
}

// parlixd is killed with SIGKILL at a set moment of a batch, for both senders, while gateway-sim
// holds back the reply of the request that marks the moment (it has handled the request by
// then). The database must pass its integrity check; a restart must drain the queue and exit 0
// on SIGTERM. Every message must reach the gateway once, and no row may be "Deleted" (lost) that
// it never received. Runs: 30; with PARLIX_RELIABILITY_LONG=1, 200; in the sanitizer build, 10;
// over ten workers, each with its own gateway-sim.
TEST(CrashRestart, AKillAtAnyMomentOfABatchLosesNothingAndSendsNothingTwice) {
    constexpr int kWorkers = 10;
    const int runs = scaled(30, 200, 10);
    std::atomic<long> deletedReceived = 0;
    std::vector<std::jthread> workers;
    for (int w = 0; w < kWorkers; ++w) {
        workers.emplace_back([w, runs, &deletedReceived] {
            test::GatewaySimProcess sim;
            sim.addAccount({"batch", "pw", 1000000000, false, "", "ALPHA"});
            sim.addAccount({"single", "pw", 1000000000, false, "", ""});
            for (int run = w; run < runs; run += kWorkers) {
                deletedReceived += crashRun(run, sim);
            }
        });
    }
    workers.clear();  // joins them
    std::printf("crash runs: %d; rows Deleted after reaching the gateway: %ld\n", runs,
                deletedReceived.load());
}

// The test, as outside software, inserts 100 rows a second while parlixd sends, each in a
// statement of its own that waits out a locked database by the busy timeout alone: no insert
// may fail, every row must be sent once, and parlixd may meet no locked database it does not
// wait out. Writer time: 10 s; with PARLIX_RELIABILITY_LONG=1, 120 s; in the sanitizer build, 6 s.
TEST(OutsideWriter, RowsInsertedWhileParlixdSendsAreAllKeptAndSentOnce) {
    const int seconds = scaled(10, 120, 6);
    test::GatewaySimProcess sim;
    sim.addAccount({"demo", "pw", 1000000000, false, "", "ALPHA"});
    DaemonFolder f(sim, "demo");
    auto d = f.start();
    const auto start = std::chrono::steady_clock::now();
    for (int n = 0; n < 100 * seconds; ++n) {
        std::this_thread::sleep_until(start + std::chrono::milliseconds(10 * n));
        test::enqueue(*f.db, std::to_string(9700000000LL + n), "cw-" + std::to_string(n) + "-");
    }
    EXPECT_TRUE(waitUntil(*d, [&] { return waiting(*f.queue) == 0; }));
    const std::string out = d->output();
    EXPECT_EQ(terminate(*d), 0) << out;
    const Audit a = audit(*f.queue, sim.messages(), "cw-");
    EXPECT_EQ(std::tuple(a.status("Sent"), a.receivedDistinct, a.duplicates),
              std::tuple(100L * seconds, 100L * seconds, 0L));
    EXPECT_FALSE(std::regex_search(out, std::regex("locked|busy|Dispatch error"))) << out;
}

}  // namespace
}  // namespace parlix::reliability
