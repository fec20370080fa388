#include "parlixd_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "support/child_process.h"
#include "support/temp_dir.h"

extern char** environ;

namespace parlix::bench {

ParlixdProcess::ParlixdProcess(const std::string& folder) {
    const std::string program = test::builtProgram("src/daemon/parlixd");
    const std::string log = folder + "/parlixd.log";
    std::vector<std::string> args = {program,
                                     "--folder",
                                     folder,
                                     "--settings",
                                     folder + "/config",
                                     "--credentials",
                                     folder + "/credentials"};
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const int failed =
        posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        throw std::runtime_error("cannot start " + program);
    }
}

ParlixdProcess::~ParlixdProcess() {
    if (!m_ended) {
        stop(SIGKILL);
    }
}

int ParlixdProcess::stop(int sig) {
    std::ifstream procStatus("/proc/" + std::to_string(m_pid) + "/status");
    for (std::string line; std::getline(procStatus, line);) {
        if (line.rfind("VmHWM:", 0) == 0) {
            m_peakKb = std::stol(line.substr(6));
        }
    }
    ::kill(m_pid, sig);
    int status = 0;
    ::wait4(m_pid, &status, 0, &m_usage);
    m_ended = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

double ParlixdProcess::cpuSeconds() const {
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(m_usage.ru_utime) + seconds(m_usage.ru_stime);
}

void writeLoginFiles(const std::string& folder, const std::string& user,
                     const std::string& password) {
    std::filesystem::create_directories(folder + "/config");
    const std::string credentials = folder + "/credentials";
    test::writeFile(credentials, "user=" + user + "\npassword=" + password + "\n");
    ::chmod(credentials.c_str(), 0600);
}

}  // namespace parlix::bench
