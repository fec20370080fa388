#pragma once

#include <string>
#include <vector>

namespace parlix::test {

struct ProcessResult {
    int exitCode = -1;
    std::string out;  // standard output and standard error together
};

/// Runs a program with arguments (no shell) and waits for it.
ProcessResult runProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workingDir = "");

/// A program built into the build tree, e.g. "tools/parlix-queue/parlix-queue".
std::string builtProgram(const std::string& relativePath);

}  // namespace parlix::test
