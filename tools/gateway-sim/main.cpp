// gateway-sim: a working gateway on loopback for the tests, the demo and the benchmarks.
//
//   gateway-sim --port N [--accounts FILE] [--state-file FILE] [--codepage NAME]
//   gateway-sim --help | --version
//
// Prints one line "gateway-sim listening on 127.0.0.1:PORT servers 1=P1 ... 9=P9" once every
// port is bound, then serves until SIGINT, SIGTERM or POST /_sim/shutdown.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>

#include "accounts.h"
#include "base/file.h"
#include "gateway.h"
#include "sim_servers.h"
#include "transport/code_page.h"

namespace {

using parlix::sim::Account;

void usage(FILE* out) {
    std::fprintf(out,
                 "usage: gateway-sim --port N [--accounts FILE] [--state-file FILE] "
                 "[--codepage NAME]\n"
                 "       gateway-sim --help | --version\n"
                 "  --port N          main port (control API and a gateway); 0 picks a free one;\n"
                 "                    servers 1-5 and 9 listen on N+1..N+5 and N+9\n"
                 "  --accounts FILE   accounts, one per line: user|password|balance|dr|notice|"
                 "senderids\n"
                 "  --state-file FILE balances are kept here across restarts; read at start "
                 "when it exists\n"
                 "  --codepage NAME   code page of payload files, default WINDOWS-1252\n"
                 "exit codes: 0 stopped by SIGINT, SIGTERM or POST /_sim/shutdown (or --help,\n"
                 "--version); 1 a port cannot be bound; 2 bad options, accounts or code page.\n");
}

bool loadAccounts(const std::string& path, std::vector<Account>& out) {
    std::string text;
    try {
        text = parlix::readFile(path);
    } catch (const parlix::FileError& e) {
        std::fprintf(stderr, "gateway-sim: %s\n", e.what());
        return false;
    }
    auto parsed = parlix::sim::parseAccounts(text);
    if (!parsed) {
        std::fprintf(stderr, "gateway-sim: %s: %s\n", path.c_str(), parsed.error().message.c_str());
        return false;
    }
    out = std::move(parsed).value();
    return true;
}

struct Options {
    int port = -1;
    std::string accountsFile;
    std::string stateFile;
    std::string codePage = parlix::kDefaultPayloadCodePage;
};

/// Reads the command line into `o`; an exit code when the program ends there: --help, --version
/// or a bad option.
std::optional<int> parseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("gateway-sim %s\n", PARLIX_VERSION);
            return 0;
        }
        if (arg == "--port" && hasValue) {
            char* end = nullptr;
            long v = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || v < 0 || v > 65535) {
                usage(stderr);
                return 2;
            }
            o.port = static_cast<int>(v);
        } else if (arg == "--accounts" && hasValue) {
            o.accountsFile = argv[++i];
        } else if (arg == "--state-file" && hasValue) {
            o.stateFile = argv[++i];
        } else if (arg == "--codepage" && hasValue) {
            o.codePage = argv[++i];
        } else {
            usage(stderr);
            return 2;
        }
    }
    if (o.port < 0) {
        usage(stderr);
        return 2;
    }
    return std::nullopt;
}

/// Binds every port, prints the listening line and serves until SIGINT, SIGTERM or POST
/// /_sim/shutdown: 0 then, 1 when a port cannot be bound.
int serve(parlix::sim::Gateway& gateway, int port) {
    // Signals are taken by sigtimedwait below, so every server thread must have them blocked.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    parlix::sim::SimServers servers(gateway);
    std::string error;
    if (!servers.start(port, error)) {
        std::fprintf(stderr, "gateway-sim: %s\n", error.c_str());
        servers.stopAll();
        return 1;
    }
    std::string line;
    for (const auto& [name, p] : servers.ports()) {
        line += name == "main"
                    ? "gateway-sim listening on 127.0.0.1:" + std::to_string(p) + " servers"
                    : " " + name + "=" + std::to_string(p);
    }
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);

    const timespec tick{0, 100 * 1000 * 1000};
    while (!servers.shutdownRequested.load()) {
        if (sigtimedwait(&signals, nullptr, &tick) > 0) {
            break;
        }
    }
    servers.stopAll();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (std::optional<int> code = parseOptions(argc, argv, o)) {
        return *code;
    }
    if (!parlix::CodePageConverter::open(o.codePage, "UTF-8")) {
        std::fprintf(stderr, "gateway-sim: unknown code page %s\n", o.codePage.c_str());
        return 2;
    }
    // Balances kept in the state file outlast the accounts file they started from.
    std::vector<Account> accounts;
    FILE* existing = o.stateFile.empty() ? nullptr : std::fopen(o.stateFile.c_str(), "rb");
    if (existing != nullptr) {
        std::fclose(existing);
        if (!loadAccounts(o.stateFile, accounts)) {
            return 2;
        }
    } else if (!o.accountsFile.empty() && !loadAccounts(o.accountsFile, accounts)) {
        return 2;
    }
    parlix::sim::Gateway gateway(std::move(accounts), o.codePage, o.stateFile);
    return serve(gateway, o.port);
}
