#include "support/child_process.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <stdexcept>
#include <thread>

#ifndef PARLIX_BINARY_DIR
#define PARLIX_BINARY_DIR "."
#endif

namespace parlix::test {

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::string& outputFile, const std::string& input,
                           const std::string& workingDir)
    : m_outputFile(outputFile) {
    std::vector<std::string> all = {program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    writeFile(outputFile + ".in", input);
    int in = ::open((outputFile + ".in").c_str(), O_RDONLY | O_CLOEXEC);
    int out = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (in < 0 || out < 0) {
        throw std::runtime_error("cannot open the files of " + outputFile);
    }
    const pid_t parent = ::getpid();
    m_pid = ::fork();
    if (m_pid < 0) {
        throw std::runtime_error("cannot start " + program);
    }
    if (m_pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) {
            ::_exit(127);
        }
        ::dup2(in, STDIN_FILENO);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(out, STDERR_FILENO);
        if (!workingDir.empty() && ::chdir(workingDir.c_str()) != 0) {
            ::_exit(127);
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(in);
    ::close(out);
}

bool ChildProcess::running() {
    if (!m_done && ::waitpid(m_pid, &m_status, WNOHANG) == m_pid) {
        m_done = true;
    }
    return !m_done;
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds timeout) {
    auto until = std::chrono::steady_clock::now() + timeout;
    while (running()) {
        if (std::chrono::steady_clock::now() >= until) {
            kill();
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(m_status) ? WEXITSTATUS(m_status) : -WTERMSIG(m_status);
}

void ChildProcess::signal(int sig) {
    if (running()) {
        ::kill(m_pid, sig);
    }
}

void ChildProcess::kill() {
    if (running()) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, &m_status, 0);
        m_done = true;
    }
}

ProcessResult runProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workingDir, const std::string& input) {
    TempDir scratch;
    ChildProcess child(program, args, (scratch / "output").string(), input, workingDir);
    std::optional<int> code = child.wait(std::chrono::minutes(1));
    return ProcessResult{code.value_or(-1), child.output()};
}

std::string builtProgram(const std::string& relativePath) {
    return std::string(PARLIX_BINARY_DIR) + "/" + relativePath;
}

}  // namespace parlix::test
