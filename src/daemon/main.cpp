// parlixd: Parlix as a service. It runs the window's start-up and Connect on a program folder,
// then fires the dispatch tick every second, with no display and no Qt.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "daemon/exit_codes.h"
#include "daemon/service.h"
#include "daemon/service_log.h"
#include "daemon/signal_watch.h"
#include "transport/transport_config.h"

namespace {

constexpr const char* kUsage =
    "usage: parlixd [--folder DIR] [--settings DIR] [--credentials FILE] [--listen HOST:PORT]\n"
    "               [--verbose]\n"
    "       parlixd [--folder DIR] --login\n"
    "       parlixd --help | --version\n"
    "\n"
    "Sends the messages queued in DIR/SMSDB.MDB to the gateway, as the Parlix window does,\n"
    "until SIGTERM or SIGINT; SIGHUP rereads DIR/parlix.conf. Every activity-log entry goes to\n"
    "standard output after an ISO-8601 time stamp.\n"
    "\n"
    "  --folder DIR        the program folder (default $PARLIX_FOLDER, else parlixd's own folder)\n"
    "  --settings DIR      the settings folder (default ~/.config/parlix)\n"
    "  --credentials FILE  log in with the user= and password= lines of FILE, which only its\n"
    "                      owner may read; without it, the login --login remembered is used\n"
    "  --listen HOST:PORT  serve the HTTP interface there instead of http.listen\n"
    "  --login             ask for the gateway user id and password and remember them\n"
    "  --verbose           also log each request's path and outcome\n"
    "\n"
    "exit codes: 0 stopped by a signal (or --help, --version, --login done); 64 bad options;\n"
    "70 a program error; 73 the login could not be saved; 75 another Parlix program sends\n"
    "from the folder; 78 the folder, parlix.conf, the login, the database, the registry store\n"
    "or the settings cannot be used, or start-up ended the program. Ctrl-C ends --login.\n";

}  // namespace

int main(int argc, char** argv) {
    using namespace parlix;
    // Blocked before anything else, so every thread the program starts inherits the mask.
    SignalWatch signals;
    std::vector<std::string> args(argv + 1, argv + argc);
    Result<ProgramFolders> folders = takeFolderOptions(args);
    if (!folders) {
        std::cerr << "parlixd: " << folders.error().message << "\n" << kUsage;
        return kExitUsage;
    }
    ServiceOptions options{folders.value(), "", false, ""};
    bool login = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return kExitOk;
        }
        if (a == "--version") {
            std::cout << "parlixd " << PARLIX_VERSION_MAJOR << "." << PARLIX_VERSION_MINOR << "."
                      << PARLIX_VERSION_PATCH << "\n";
            return kExitOk;
        }
        if (a == "--login") {
            login = true;
        } else if (a == "--verbose") {
            options.verbose = true;
        } else if (a == "--credentials" && i + 1 < args.size() && !args[i + 1].empty()) {
            options.credentialsFile = args[++i];
        } else if (a == "--listen" && i + 1 < args.size() && parseListenAddress(args[i + 1])) {
            options.listen = args[++i];
        } else {
            std::cerr << "parlixd: "
                      << (a == "--credentials" ? "--credentials needs a file"
                          : a == "--listen"    ? "--listen needs HOST:PORT"
                                               : "unknown option " + a)
                      << "\n"
                      << kUsage;
            return kExitUsage;
        }
    }
    ServiceLog log;
    return login ? saveLogin(options, log, signals) : runService(options, log, signals);
}
