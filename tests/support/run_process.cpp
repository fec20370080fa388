#include "support/run_process.h"

#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

#ifndef PARLIX_BINARY_DIR
#define PARLIX_BINARY_DIR "."
#endif

namespace parlix::test {

ProcessResult runProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workingDir) {
    int fds[2];
    if (::pipe(fds) != 0) {
        throw std::runtime_error("pipe failed");
    }
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], 1);
        ::dup2(fds[1], 2);
        ::close(fds[0]);
        ::close(fds[1]);
        if (!workingDir.empty() && ::chdir(workingDir.c_str()) != 0) {
            ::_exit(127);
        }
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    ProcessResult r;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0) {
        r.out.append(buf, static_cast<size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

std::string builtProgram(const std::string& relativePath) {
    return std::string(PARLIX_BINARY_DIR) + "/" + relativePath;
}

}  // namespace parlix::test
