#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace parlix::test {

/// A program run as a child process, as its users run it: no shell, its standard output and
/// error going to a file, its standard input from `input` (empty: nothing), in `workingDir`
/// (empty: this process's). It is killed when this object goes, and also when the test process
/// dies.
class ChildProcess {
public:
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::string& outputFile, const std::string& input = "",
                 const std::string& workingDir = "");
    ~ChildProcess() { kill(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    /// Whether it still runs; collects its status once it has ended.
    bool running();
    /// Waits for it to end: its exit code, -signal when a signal ended it, or nothing when it
    /// still ran after `timeout` (it is then killed).
    std::optional<int> wait(std::chrono::milliseconds timeout);
    /// Sends a signal.
    void signal(int sig);
    /// SIGKILL, then waits for it.
    void kill();
    std::string output() const { return readFile(m_outputFile); }

private:
    pid_t m_pid = -1;
    int m_status = 0;
    bool m_done = false;
    std::string m_outputFile;
};

struct ProcessResult {
    int exitCode = -1;
    std::string out;  // standard output and standard error together
};

/// Runs a program to its end, within a minute.
ProcessResult runProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workingDir = "", const std::string& input = "");

/// A program of the build tree, e.g. "tools/parlix-queue/parlix-queue".
std::string builtProgram(const std::string& relativePath);

}  // namespace parlix::test
