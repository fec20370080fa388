#pragma once

#include <string>

#include "app/system_ports.h"

namespace parlix {

class ServiceLog;
class SignalWatch;

struct ServiceOptions {
    ProgramFolders folders;
    /// A credentials file to log in with instead of the remembered login.
    std::string credentialsFile;
    /// Log each request's path and outcome too.
    bool verbose = false;
    /// Where the HTTP interface listens instead of http.listen ("host:port").
    std::string listen;
};

/// Runs parlixd: checks everything it needs without changing a file, runs the window's
/// start-up and Connect, then fires the dispatch tick every second as the window's timer does,
/// until a stop signal runs the window's Exit. Returns the exit code.
int runService(const ServiceOptions& options, ServiceLog& log, SignalWatch& signals);

/// parlixd --login: asks for a user id and a password (the password without echo when the
/// input is a terminal) and remembers them as the window's "remember" option does.
int saveLogin(const ServiceOptions& options, ServiceLog& log, SignalWatch& signals);

}  // namespace parlix
