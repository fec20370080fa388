// The running-instance check reads the process table once per process, so its cost grows with
// the number of processes. This measures it on a machine topped up to about 1000 processes, and
// the matching alone on an in-memory table of the same size.

#include <benchmark/benchmark.h>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <vector>

#include "sys/instance_count.h"

namespace {

using parlix::InstanceCount;
using parlix::ProcessEntry;

constexpr std::size_t kTargetProcesses = 1000;

/// Idle child processes that stop with the benchmark, however it ends.
class IdleProcesses {
public:
    explicit IdleProcesses(std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            pid_t pid = ::fork();
            if (pid == 0) {
                ::prctl(PR_SET_PDEATHSIG, SIGKILL);
                for (;;) {
                    ::pause();
                }
            }
            if (pid < 0) {
                std::perror("fork");
                break;
            }
            m_pids.push_back(pid);
        }
    }
    ~IdleProcesses() {
        for (pid_t pid : m_pids) {
            ::kill(pid, SIGKILL);
        }
        for (pid_t pid : m_pids) {
            ::waitpid(pid, nullptr, 0);
        }
    }
    IdleProcesses(const IdleProcesses&) = delete;
    IdleProcesses& operator=(const IdleProcesses&) = delete;

private:
    std::vector<pid_t> m_pids;
};

class MemoryTable : public parlix::ProcessTable {
public:
    explicit MemoryTable(std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            m_entries.push_back({static_cast<std::uint32_t>(i + 1),
                                 i % 100 == 0 ? "Parlix.exe" : "worker-" + std::to_string(i)});
        }
    }
    std::optional<std::vector<ProcessEntry>> snapshot() override { return m_entries; }
    std::optional<ProcessEntry> entryOf(std::uint32_t id) override {
        for (const ProcessEntry& e : m_entries) {
            if (e.id == id) {
                return e;
            }
        }
        return std::nullopt;
    }

private:
    std::vector<ProcessEntry> m_entries;
};

std::size_t runningProcesses() {
    parlix::ProcProcessTable table;
    auto entries = table.snapshot();
    return entries ? entries->size() : 0;
}

void BM_CountRunningInstancesOnProc(benchmark::State& state) {
    parlix::ProcProcessTable table;
    InstanceCount processes(table, "parlix");
    for (auto _ : state) {
        benchmark::DoNotOptimize(processes.CountRunningInstances());
    }
    state.counters["processes"] = static_cast<double>(runningProcesses());
}
BENCHMARK(BM_CountRunningInstancesOnProc)->Unit(benchmark::kMillisecond);

void BM_CountRunningInstancesInMemory(benchmark::State& state) {
    MemoryTable table(static_cast<std::size_t>(state.range(0)));
    InstanceCount processes(table, "Parlix");
    for (auto _ : state) {
        benchmark::DoNotOptimize(processes.CountRunningInstances());
    }
    state.counters["processes"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_CountRunningInstancesInMemory)
    ->Arg(static_cast<std::int64_t>(kTargetProcesses))
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const std::size_t running = runningProcesses();
    IdleProcesses idle(running < kTargetProcesses ? kTargetProcesses - running : 0);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
