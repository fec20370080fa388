// parlixd as a service manager runs it: what it refuses to start on, its exit codes, its login,
// its signals and its log.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <regex>
#include <sstream>
#include <thread>
#include <tuple>

#include "reliability_support.h"
#include "support/queue_db.h"
#include "transport/gateway_url.h"

namespace parlix::reliability {
namespace {

namespace fs = std::filesystem;
const std::string kParlixd = "src/daemon/parlixd";

/// Every file under `dir`, by relative name, with its content.
std::map<std::string, std::string> snapshot(const fs::path& dir) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        files[fs::relative(e.path(), dir).string()] =
            e.is_regular_file() ? test::readFile(e.path()) : "<folder>";
    }
    return files;
}

/// Waits until parlixd has logged `text`, or ended.
void waitForLog(test::ChildProcess& d, const std::string& text) {
    while (d.running() && d.output().find(text) == std::string::npos) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

/// Spoils a fresh folder, or the arguments parlixd gets (those of DaemonFolder::args()).
using Spoil = std::function<void(DaemonFolder&, std::vector<std::string>& args)>;

Spoil writes(const char* name, const std::string& content) {
    return [=](DaemonFolder& f, auto&) { test::writeFile(f.path(name), content); };
}

TEST(Parlixd, RefusesEachUnusableStartWithItsExitCodeOneLineAndNoFileChanged) {
    std::unique_ptr<test::ChildProcess> first;
    // clang-format off
    const std::tuple<const char*, int, Spoil> cases[] = {
        {"a missing folder", 78, [](DaemonFolder& f, auto& args) { args[1] = f.path("missing"); }},
        {"a database with another password", 78, [](DaemonFolder& f, auto&) { fs::remove(f.path("SMSDB.MDB")); createDatabaseFile(f.path("SMSDB.MDB"), "other"); }},
        {"a database cut to half", 78, [](DaemonFolder& f, auto&) { fs::resize_file(f.path("SMSDB.MDB"), fs::file_size(f.path("SMSDB.MDB")) / 2); }},
        {"a corrupt registry.dat", 78, writes("registry.dat", "garbage\n")},
        {"a corrupt settings file", 78, writes("config/Zentroca.ini", "[Sms]\nnot a setting\n")},
        {"a bad parlix.conf", 78, writes("parlix.conf", "http.total_timeout_ms=soon\n")},
        {"an unknown option", 64, [](DaemonFolder&, auto& args) { args.push_back("--fast"); }},
        {"a credentials file others may read", 78, [](DaemonFolder& f, auto&) { fs::permissions(f.path("credentials"), fs::perms::others_read, fs::perm_options::add); }},
        {"no credentials at all", 78, [](DaemonFolder&, auto& args) { args.resize(4); }},
        {"a second parlixd on the folder", 75, [&first](DaemonFolder& f, auto&) { first = f.start(); waitForLog(*first, "Server: Connected"); }},
    };
    // clang-format on
    test::GatewaySimProcess sim;
    sim.addAccount({"demo", "pw", 1000, false, "", ""});
    for (const auto& [label, code, spoil] : cases) {
        SCOPED_TRACE(label);
        DaemonFolder f(sim, "demo");
        f.closeDb();
        std::vector<std::string> args = f.args();
        spoil(f, args);
        const auto before = snapshot(f.path());
        test::ProcessResult r = test::runProcess(test::builtProgram(kParlixd), args);
        EXPECT_EQ(r.exitCode, code) << r.out;
        EXPECT_EQ(r.out.rfind("parlixd: ", 0), 0u) << r.out;
        EXPECT_EQ(r.out.find("\nparlixd: "), std::string::npos) << r.out;
        if (code != 64) {  // the usage follows the one line
            EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << r.out;
        }
        EXPECT_EQ(snapshot(f.path()), before);
        first.reset();
    }
}

TEST(Parlixd, HelpAndVersionOfEveryProgramExitZero) {
    for (const char* program : {"src/daemon/parlixd", "tools/gateway-sim/gateway-sim",
                                "tools/parlix-queue/parlix-queue"}) {
        for (const char* option : {"--help", "--version"}) {
            SCOPED_TRACE(std::string(program) + " " + option);
            test::ProcessResult r = test::runProcess(test::builtProgram(program), {option});
            EXPECT_EQ(r.exitCode, 0) << r.out;
            EXPECT_NE(r.out.find(option == std::string("--help") ? "exit codes" : "1."),
                      std::string::npos)
                << r.out;
        }
    }
}

TEST(Parlixd, ServesWithTheSavedLoginRereadsItsConfigurationAndLogsNoSecret) {
    const std::string secret = "Pw-7c1e-secret";
    test::GatewaySimProcess sim;
    sim.addAccount({"demo", secret, 1000000, false, "", "ALPHA"});
    DaemonFolder f(sim, "unused");
    test::ProcessResult saved =
        test::runProcess(test::builtProgram(kParlixd), {"--folder", f.path(), "--login"}, "",
                         "demo\n" + secret + "\n");
    ASSERT_EQ(saved.exitCode, 0) << saved.out;
    enqueueNew(f.db(), "one-", 20);
    test::ChildProcess d(test::builtProgram(kParlixd),
                         {"--folder", f.path(), "--settings", f.path("config"), "--verbose"},
                         f.path("parlixd.out"));
    ASSERT_TRUE(waitDrained(f.db(), d)) << d.output();

    // Server 1 moves to another port; the rows queued after the reread go there.
    test::writeFile(f.path("parlix.conf"), "server1.host=" + sim.serverHost(3) + "\n");
    d.signal(SIGHUP);
    waitForLog(d, "parlix.conf reread");
    enqueueNew(f.db(), "two-", 20);
    ASSERT_TRUE(waitDrained(f.db(), d)) << d.output();
    const std::string out = d.output();
    EXPECT_EQ(terminate(d), 0) << out;

    EXPECT_EQ(test::countExact(f.db(), "Sent"), 40);
    for (const test::JsonValue& m : sim.messages().array()) {
        EXPECT_EQ(m["server"].str(), m["text"].str().rfind("two-", 0) == 0 ? "3" : "1");
    }
    EXPECT_EQ(saved.out.find(secret), std::string::npos);
    const std::regex stamped(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d .*)");
    const std::regex query(R"((GET|POST) \S*\?)");
    long requests = 0;
    std::istringstream lines(d.output());
    for (std::string line; std::getline(lines, line);) {
        EXPECT_TRUE(std::regex_match(line, stamped)) << line;
        EXPECT_EQ(line.find(secret), std::string::npos) << line;
        EXPECT_FALSE(std::regex_search(line, query)) << line;
        requests += line.find("PostDataZSM.ASP: reply") != std::string::npos ? 1 : 0;
    }
    EXPECT_GE(requests, 2);
}

TEST(Parlixd, SigtermInTheMiddleOfABatchLeavesNoRowTakenAndExitsZero) {
    test::GatewaySimProcess sim;
    sim.addAccount({"demo", "pw", 1000000, false, "", ""});
    DaemonFolder f(sim, "demo");
    enqueueNew(f.db(), "term-", 30);
    sim.setFaults("server=1&delay_ms=5000&match=" + encodeQueryValue("Status=1"));
    auto d = f.start();
    while (d->running() && sim.batches().size() == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(terminate(*d), 0) << d->output();
    const Audit a = audit(f.db(), sim.messages(), "term-");
    EXPECT_EQ(a.receivedDistinct, 30);
    EXPECT_EQ(a.status("DelSent"), 30) << d->output();
}

}  // namespace
}  // namespace parlix::reliability
