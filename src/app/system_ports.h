#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/random.h"
#include "base/result.h"
#include "model/app_environment.h"
#include "sys/folder_lock.h"
#include "sys/instance_count.h"
#include "sys/ip_address.h"
#include "sys/registry_store.h"
#include "sys/settings_store.h"
#include "transport/curl_http_client.h"

namespace parlix {

/// The real ports of one run of the program, built for a program folder: the clock, the random
/// generator seeded from the system, the process and IPv4 tables, the two curl clients, the
/// settings and registry stores and the configuration. Every front-end builds them here.
class SystemPorts {
public:
    struct Options {
        /// Where SMSDB.MDB, parlix.conf, registry.dat and SMS/Pending live.
        std::string programFolder;
        /// The settings store's folder; empty for the user's own settings folder.
        std::string settingsFolder;
        /// The program's name as the running-instance check compares it.
        std::string ownName;
        /// The front-end's own clock, if it has one; the system clock otherwise.
        Clock* clock = nullptr;
    };

    /// Reads the configuration file of the program folder; an Error naming the file when it
    /// cannot be used.
    static Result<std::shared_ptr<SystemPorts>> open(Ui& ui, Options options);

    SystemPorts(Ui& ui, Options options, TransportConfig config);
    SystemPorts(const SystemPorts&) = delete;
    SystemPorts& operator=(const SystemPorts&) = delete;

    /// The ports as the window's logic takes them.
    AppEnvironment environment();

    SettingsStore& settings() { return m_settings; }
    RegistryStore& registry() { return m_registry; }
    FolderLock& sendLock() { return m_sendLock; }
    const std::string& programFolder() const { return m_options.programFolder; }

private:
    Ui& m_ui;
    Options m_options;
    TransportConfig m_config;
    SystemClock m_systemClock;
    DefaultRandom m_random;
    ProcProcessTable m_processes;
    IfaddrsIpv4Table m_ipTable;
    CurlHttpClient m_transfer;
    CurlHttpClient m_uploader;
    SettingsStore m_settings;
    RegistryStore m_registry;
    FolderLock m_sendLock;
};

/// How an installation is known among those that share a queue: its host name and its program
/// folder, so a folder copied to make another worker joins as an installation of its own.
std::string installationName(const std::string& programFolder);

/// The folder of the running executable: the program folder unless the program is given another.
std::string executableFolder();

/// The folders a front-end runs on.
struct ProgramFolders {
    /// `--folder DIR`, else $PARLIX_FOLDER, else the executable's own folder; made absolute.
    std::string program;
    /// `--settings DIR`, made absolute; empty for the user's own settings folder.
    std::string settings;
};

/// Takes `--folder DIR` and `--settings DIR` out of `args`, leaving the rest; an Error for an
/// option without its value.
Result<ProgramFolders> takeFolderOptions(std::vector<std::string>& args);

/// The configuration file of a program folder.
std::string configPath(const std::string& programFolder);

}  // namespace parlix
