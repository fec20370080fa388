#include "app/system_ports.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <random>

#include <unistd.h>

#include "transport/transport_config.h"

namespace parlix {

namespace {

std::uint64_t entropySeed() {
    std::random_device device;
    return (static_cast<std::uint64_t>(device()) << 32) ^ device();
}

}  // namespace

Result<std::shared_ptr<SystemPorts>> SystemPorts::open(Ui& ui, Options options) {
    const std::string path = configPath(options.programFolder);
    Result<TransportConfig> config = loadTransportConfig(path);
    if (!config) {
        return Error{config.error().code, path + ": " + config.error().message};
    }
    return std::make_shared<SystemPorts>(ui, std::move(options), std::move(config).value());
}

SystemPorts::SystemPorts(Ui& ui, Options options, TransportConfig config)
    : m_ui(ui),
      m_options(std::move(options)),
      m_config(std::move(config)),
      m_random(entropySeed()),
      m_transfer(ui, m_config.timeouts),
      m_uploader(ui, m_config.timeouts),
      m_settings(m_options.settingsFolder.empty() ? SettingsStore::defaultFolder()
                                                  : m_options.settingsFolder),
      m_registry(m_options.programFolder + "/registry.dat"),
      m_sendLock(m_options.programFolder) {}

AppEnvironment SystemPorts::environment() {
    Clock& clock = m_options.clock != nullptr ? *m_options.clock : m_systemClock;
    return AppEnvironment{m_options.programFolder,
                          m_options.ownName,
                          installationName(m_options.programFolder),
                          m_ui,
                          clock,
                          m_random,
                          m_processes,
                          m_ipTable,
                          m_transfer,
                          m_uploader,
                          m_settings,
                          m_registry,
                          m_sendLock,
                          m_config};
}

std::string installationName(const std::string& programFolder) {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0) {
        host[0] = '\0';
    }
    return std::string(host) + ":" + programFolder;
}

std::string executableFolder() {
    return std::filesystem::path(currentExecutablePath()).parent_path().string();
}

Result<ProgramFolders> takeFolderOptions(std::vector<std::string>& args) {
    ProgramFolders folders;
    const char* fromEnvironment = std::getenv("PARLIX_FOLDER");
    if (fromEnvironment != nullptr && *fromEnvironment != '\0') {
        folders.program = fromEnvironment;
    }
    std::vector<std::string> rest;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--folder" || a == "--settings") {
            if (i + 1 == args.size() || args[i + 1].empty()) {
                return Error{EINVAL, a + " needs a folder"};
            }
            (a == "--folder" ? folders.program : folders.settings) = args[++i];
        } else {
            rest.push_back(a);
        }
    }
    args = std::move(rest);
    if (folders.program.empty()) {
        folders.program = executableFolder();
    }
    folders.program = std::filesystem::absolute(folders.program).lexically_normal().string();
    if (!folders.settings.empty()) {
        folders.settings = std::filesystem::absolute(folders.settings).lexically_normal().string();
    }
    // A trailing separator would double up in the paths built from the folder.
    while (folders.program.size() > 1 && folders.program.back() == '/') {
        folders.program.pop_back();
    }
    return folders;
}

std::string configPath(const std::string& programFolder) {
    return programFolder + "/" + kConfigFileName;
}

}  // namespace parlix
