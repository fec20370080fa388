#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace parlix {

/// One row of the process table: the id and the executable's file name without its folder.
struct ProcessEntry {
    std::uint32_t id = 0;
    std::string imageName;
};

/// The machine's process table. Every call is a fresh read, so a process that ended since the
/// last one is not in it.
class ProcessTable {
public:
    virtual ~ProcessTable() = default;
    /// Every running process in table order; nothing when the table cannot be read.
    virtual std::optional<std::vector<ProcessEntry>> snapshot() = 0;
    /// The table's row for one process; nothing when there is no such process (any more).
    virtual std::optional<ProcessEntry> entryOf(std::uint32_t id) = 0;
};

/// The process table under /proc. The image name is the file name of the executable the
/// process runs, or its command name where that link cannot be read (kernel threads).
class ProcProcessTable final : public ProcessTable {
public:
    explicit ProcProcessTable(std::filesystem::path procRoot = "/proc");

    std::optional<std::vector<ProcessEntry>> snapshot() override;
    std::optional<ProcessEntry> entryOf(std::uint32_t id) override;

private:
    std::filesystem::path m_procRoot;
};

/// The name the running-instance check compares against: the executable's file name without
/// its folder, with a ".exe" ending dropped. Other dots stay, because on Linux they are part of
/// the name the process table reports ("parlix-1.2" runs as "parlix-1.2").
std::string programNameFromExecutable(std::string_view executablePath);
/// The path of this process's own executable, from /proc/self/exe; empty when unreadable.
std::string currentExecutablePath();

/// Counts how many copies of the program are running.
class InstanceCount {
public:
    /// `ownName` is the program's name as programNameFromExecutable gives it.
    InstanceCount(ProcessTable& table, std::string ownName);

    /// Fills `ids` with the id of every running process in table order. When the table cannot
    /// be read or is empty, `ids` holds the single id 0.
    void ListProcessIds(std::vector<std::uint32_t>& ids);
    /// The image name of the process, cut at its first NUL; empty text when there is none.
    std::string ProcessNameById(std::uint32_t id);
    /// The number of running processes that look like a copy of this program, this one
    /// included; 0 when the table cannot be read.
    double CountRunningInstances();

private:
    ProcessTable& m_table;
    std::string m_ownName;
};

}  // namespace parlix
