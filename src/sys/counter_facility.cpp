#include "sys/counter_facility.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "sys/counter_catalog.h"
#include "sys/instance_count.h"

namespace parlix {
namespace {

namespace fs = std::filesystem;

Error failure(std::int32_t code, std::string message) {
    return Error{code, std::move(message)};
}

struct CpuTimes {
    double busy = 0;
    double user = 0;
    double privileged = 0;
    double total = 0;
};

struct ProcStat {
    std::map<int, CpuTimes> cpus;
    std::optional<double> contextSwitches;
};

std::optional<std::string> readText(const fs::path& p) {
    std::ifstream in(p);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::optional<ProcStat> readStat(const fs::path& root) {
    auto text = readText(root / "stat");
    if (!text) {
        return std::nullopt;
    }
    ProcStat stat;
    std::istringstream lines(*text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string key;
        fields >> key;
        if (key == "ctxt") {
            double n = 0;
            if (fields >> n) {
                stat.contextSwitches = n;
            }
            continue;
        }
        if (!key.starts_with("cpu")) {
            continue;
        }
        auto number = parseWholeNumber(std::string_view(key).substr(3));
        if (key != "cpu" && !number) {
            continue;
        }
        // user nice system idle iowait irq softirq steal; guest time is already in user.
        std::array<double, 8> t{};
        for (double& v : t) {
            if (!(fields >> v)) {
                v = 0;
                break;
            }
        }
        CpuTimes c;
        c.total = t[0] + t[1] + t[2] + t[3] + t[4] + t[5] + t[6] + t[7];
        c.busy = c.total - t[3] - t[4];
        c.user = t[0] + t[1];
        c.privileged = t[2] + t[5] + t[6];
        stat.cpus[number ? static_cast<int>(*number) : kAllCpus] = c;
    }
    return stat;
}

/// The value of a "Key:   123 kB" line, in bytes.
std::optional<double> readKbField(const fs::path& file, std::string_view key) {
    auto text = readText(file);
    if (!text) {
        return std::nullopt;
    }
    std::istringstream lines(*text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.size() > key.size() && line.starts_with(key) && line[key.size()] == ':') {
            return leadingNumber(std::string_view(line).substr(key.size() + 1)) * 1024.0;
        }
    }
    return std::nullopt;
}

/// One value taken at a collect, with the base it is measured against (total processor time
/// for percentages, the up time for rates).
struct Sample {
    double value = 0;
    double base = 0;
};

/// What one collect has read, so that each file is read once however many counters need it.
class Readings {
public:
    Readings(const fs::path& root, ProcessTable& processes)
        : m_root(root), m_processes(processes) {}

    const std::optional<ProcStat>& stat() {
        if (!m_stat) {
            m_stat = readStat(m_root);
        }
        return *m_stat;
    }

    std::optional<double> uptime() {
        if (!m_uptime) {
            auto text = readText(m_root / "uptime");
            m_uptime = text ? std::optional<double>(leadingNumber(*text)) : std::nullopt;
        }
        return *m_uptime;
    }

    const std::optional<std::vector<ProcessEntry>>& processes() {
        if (!m_table) {
            m_table = m_processes.snapshot();
        }
        return *m_table;
    }

    std::optional<double> memory(std::string_view key) {
        return readKbField(m_root / "meminfo", key);
    }

    const fs::path& root() const { return m_root; }

private:
    fs::path m_root;
    ProcessTable& m_processes;
    std::optional<std::optional<ProcStat>> m_stat;
    std::optional<std::optional<double>> m_uptime;
    std::optional<std::optional<std::vector<ProcessEntry>>> m_table;
};

Error unreadable() {
    return failure(kCounterInvalidData, "the counter's source cannot be read");
}

/// Processes of one name are told apart by id, lowest first: "name", "name#1", "name#2".
Result<std::uint32_t> findProcess(const CounterPath& path, Readings& r) {
    const auto& table = r.processes();
    if (!table) {
        return unreadable();
    }
    std::vector<std::uint32_t> ids;
    for (const ProcessEntry& e : *table) {
        if (iequals(e.imageName, path.processName)) {
            ids.push_back(e.id);
        }
    }
    if (path.processOrdinal >= ids.size()) {
        return failure(kCounterNoInstance, "no such process is running");
    }
    std::nth_element(ids.begin(), ids.begin() + static_cast<std::ptrdiff_t>(path.processOrdinal),
                     ids.end());
    return ids[path.processOrdinal];
}

Result<Sample> takeSample(const CounterPath& path, Readings& r) {
    switch (path.counter->source) {
        case CounterSource::CpuBusy:
        case CounterSource::CpuUser:
        case CounterSource::CpuPrivileged: {
            const auto& stat = r.stat();
            if (!stat) {
                return unreadable();
            }
            auto cpu = stat->cpus.find(path.cpu);
            if (cpu == stat->cpus.end()) {
                return failure(kCounterNoInstance, "no such processor");
            }
            const CpuTimes& t = cpu->second;
            double part = path.counter->source == CounterSource::CpuBusy   ? t.busy
                          : path.counter->source == CounterSource::CpuUser ? t.user
                                                                           : t.privileged;
            return Sample{part, t.total};
        }
        case CounterSource::MemAvailable:
        case CounterSource::MemCommitted:
        case CounterSource::MemCommitLimit: {
            std::string_view key =
                path.counter->source == CounterSource::MemAvailable   ? "MemAvailable"
                : path.counter->source == CounterSource::MemCommitted ? "Committed_AS"
                                                                      : "CommitLimit";
            auto bytes = r.memory(key);
            return bytes ? Result<Sample>(Sample{*bytes, 0}) : unreadable();
        }
        case CounterSource::ContextSwitches: {
            const auto& stat = r.stat();
            auto up = r.uptime();
            if (!stat || !stat->contextSwitches || !up) {
                return unreadable();
            }
            return Sample{*stat->contextSwitches, *up};
        }
        case CounterSource::ProcessCount: {
            const auto& table = r.processes();
            return table ? Result<Sample>(Sample{static_cast<double>(table->size()), 0})
                         : unreadable();
        }
        case CounterSource::UpTime: {
            auto up = r.uptime();
            return up ? Result<Sample>(Sample{*up, 0}) : unreadable();
        }
        case CounterSource::WorkingSet:
        case CounterSource::ProcessId: {
            auto pid = findProcess(path, r);
            if (!pid) {
                return pid.error();
            }
            if (path.counter->source == CounterSource::ProcessId) {
                return Sample{static_cast<double>(pid.value()), 0};
            }
            const fs::path status = r.root() / std::to_string(pid.value()) / "status";
            if (!fs::exists(status)) {
                return failure(kCounterNoInstance, "the process has ended");
            }
            // Kernel threads have no resident set of their own.
            return Sample{readKbField(status, "VmRSS").value_or(0), 0};
        }
    }
    return unreadable();
}

struct CounterState {
    QueryHandle query = 0;
    CounterPath path;
    std::optional<Sample> previous;
    std::optional<Sample> current;
    std::int32_t status = kCounterInvalidData;
};

Result<double> computeValue(const CounterState& c) {
    if (!c.current) {
        return failure(c.status, "the counter has no value");
    }
    if (c.path.counter->calc == CounterCalc::Raw) {
        return c.current->value;
    }
    const double base = c.previous ? c.current->base - c.previous->base : 0;
    if (base <= 0) {
        return failure(kCounterInvalidData, "the counter needs two collects some time apart");
    }
    const double share = std::max(0.0, (c.current->value - c.previous->value) / base);
    return c.path.counter->calc == CounterCalc::Percent ? std::min(100.0, 100.0 * share) : share;
}

}  // namespace

struct ProcCounterFacility::State {
    explicit State(fs::path r) : root(std::move(r)), processes(root) {}

    fs::path root;
    ProcProcessTable processes;
    std::set<QueryHandle> queries;
    std::map<CounterHandle, CounterState> counters;
    std::uint32_t nextHandle = 1;
};

ProcCounterFacility::ProcCounterFacility(std::filesystem::path procRoot)
    : m_state(std::make_unique<State>(std::move(procRoot))) {}

ProcCounterFacility::~ProcCounterFacility() = default;

Result<QueryHandle> ProcCounterFacility::openQuery() {
    QueryHandle q = m_state->nextHandle++;
    m_state->queries.insert(q);
    return q;
}

std::int32_t ProcCounterFacility::closeQuery(QueryHandle query) {
    if (m_state->queries.erase(query) == 0) {
        return kCounterInvalidHandle;
    }
    std::erase_if(m_state->counters, [&](const auto& c) { return c.second.query == query; });
    return kCounterOk;
}

std::int32_t ProcCounterFacility::validatePath(const std::string& path) {
    auto parsed = parseCounterPath(path);
    return parsed ? kCounterOk : static_cast<std::int32_t>(parsed.error().code);
}

Result<CounterHandle> ProcCounterFacility::addCounter(QueryHandle query, const std::string& path) {
    if (m_state->queries.count(query) == 0) {
        return failure(kCounterInvalidHandle, "no such query");
    }
    auto parsed = parseCounterPath(path);
    if (!parsed) {
        return parsed.error();
    }
    if (parsed.value().counter->objectIndex == kProcessorObjectIndex) {
        auto stat = readStat(m_state->root);
        if (!stat) {
            return unreadable();
        }
        if (stat->cpus.count(parsed.value().cpu) == 0) {
            return failure(kCounterNoInstance, "no such processor");
        }
    }
    CounterHandle handle = m_state->nextHandle++;
    m_state->counters[handle] = CounterState{query, std::move(parsed).value(), {}, {}};
    return handle;
}

std::int32_t ProcCounterFacility::removeCounter(CounterHandle counter) {
    return m_state->counters.erase(counter) == 0 ? kCounterInvalidHandle : kCounterOk;
}

std::int32_t ProcCounterFacility::collectQueryData(QueryHandle query) {
    if (m_state->queries.count(query) == 0) {
        return kCounterInvalidHandle;
    }
    Readings readings(m_state->root, m_state->processes);
    bool any = false;
    for (auto& [handle, c] : m_state->counters) {
        if (c.query != query) {
            continue;
        }
        any = true;
        c.previous = c.current;
        auto sample = takeSample(c.path, readings);
        if (sample) {
            c.current = sample.value();
            c.status = kCounterOk;
        } else {
            c.current.reset();
            c.status = static_cast<std::int32_t>(sample.error().code);
        }
    }
    return any ? kCounterOk : kCounterNoData;
}

Result<FormattedCounter> ProcCounterFacility::getFormattedValue(CounterHandle counter,
                                                                std::uint32_t format) {
    auto it = m_state->counters.find(counter);
    if (it == m_state->counters.end()) {
        return failure(kCounterInvalidHandle, "no such counter");
    }
    if ((format & kFormatDouble) == 0) {
        return failure(kCounterInvalidArgument, "values are given as doubles only");
    }
    auto value = computeValue(it->second);
    if (!value) {
        return value.error();
    }
    FormattedCounter out;
    out.type = it->second.path.counter->type;
    out.number = value.value();
    return out;
}

Result<std::string> ProcCounterFacility::lookupNameByIndex(std::uint32_t index) {
    return counterNameByIndex(index);
}

}  // namespace parlix
