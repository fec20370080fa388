#pragma once

#include <string>

#include "transport/transport_config.h"

namespace parlix {

class Clock;
class FolderLock;
class HttpClient;
class Ipv4Table;
class ProcessTable;
class Random;
class RegistryStore;
class SettingsStore;
class Ui;

/// Everything the window's logic needs from outside, wired by main() or by a test.
struct AppEnvironment {
    /// Where SMSDB.MDB, SMS/Pending and LastErr.txt live: the executable's own folder.
    std::string programFolder;
    /// The program's own name, as the running-instance check compares it.
    std::string ownName;
    /// This installation's name among those that share a queue: the host and the program folder.
    std::string installation;
    Ui& ui;
    Clock& clock;
    Random& random;
    ProcessTable& processes;
    Ipv4Table& ipTable;
    /// The gateway transfer element `SendMsgURL`: GET requests, with the proxy settings.
    HttpClient& transfer;
    /// The upload's own client: POST requests, never through the proxy.
    HttpClient& uploader;
    SettingsStore& settings;
    RegistryStore& registry;
    /// The right to send from the program folder.
    FolderLock& sendLock;
    /// The program's configuration file: server hosts, timeouts, payload code page.
    TransportConfig config;
    /// Passes over the gateway servers that one Connect makes before it fails; 0 for as many as
    /// it takes, as an operator watching the window expects.
    int serverPasses = 0;
};

}  // namespace parlix
