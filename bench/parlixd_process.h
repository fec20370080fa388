#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <string>

namespace parlix::bench {

/// parlixd started on a program folder (its settings in FOLDER/config, its login in
/// FOLDER/credentials, its log in FOLDER/parlixd.log) and waited for with wait4, so that its
/// own CPU time is known once it has ended. Its peak resident memory is read from /proc just
/// before it is stopped: wait4's ru_maxrss would also count the peak of this process, whose
/// memory the child shares from posix_spawn until its exec.
class ParlixdProcess {
public:
    explicit ParlixdProcess(const std::string& folder);
    /// SIGKILL, should it still run.
    ~ParlixdProcess();
    ParlixdProcess(const ParlixdProcess&) = delete;
    ParlixdProcess& operator=(const ParlixdProcess&) = delete;

    /// Sends `sig` and waits for the end: the exit code, or -signal.
    int stop(int sig);
    pid_t pid() const { return m_pid; }
    /// Its CPU time in seconds, once stopped.
    double cpuSeconds() const;
    /// Its peak resident memory in KiB until it was stopped.
    long peakKb() const { return m_peakKb; }

private:
    pid_t m_pid = -1;
    bool m_ended = false;
    rusage m_usage{};
    long m_peakKb = 0;
};

/// Writes the files a program folder of parlixd needs besides parlix.conf: the settings folder
/// and a credentials file (mode 0600) for `user` and `password`.
void writeLoginFiles(const std::string& folder, const std::string& user,
                     const std::string& password);

}  // namespace parlix::bench
