#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"

namespace parlix {

/// Where a counter's samples come from.
enum class CounterSource {
    CpuBusy,
    CpuUser,
    CpuPrivileged,
    MemAvailable,
    MemCommitted,
    MemCommitLimit,
    ContextSwitches,
    ProcessCount,
    UpTime,
    WorkingSet,
    ProcessId,
};

/// How a value comes from samples: the latest one as it is, the share of the change of its
/// numerator in the change of its base, or that change per second.
enum class CounterCalc { Raw, Percent, Rate };

/// One counter of the /proc facility's catalogue (the table is documented on
/// ProcCounterFacility).
struct CounterDef {
    std::uint32_t objectIndex;
    std::uint32_t index;
    std::string_view name;
    std::uint32_t type;
    CounterCalc calc;
    CounterSource source;
};

inline constexpr std::uint32_t kProcessorObjectIndex = 238;
inline constexpr int kAllCpus = -1;

/// A counter path resolved against the catalogue.
struct CounterPath {
    const CounterDef* counter = nullptr;
    /// The processor, or kAllCpus for "_Total".
    int cpu = kAllCpus;
    std::string processName;
    /// 1 for "name#1", the second process of that name.
    std::size_t processOrdinal = 0;
};

/// Resolves "\Object(Instance)\Counter" or "\Object\Counter"; the Error carries the
/// facility's status code for what is wrong with it.
Result<CounterPath> parseCounterPath(std::string_view path);
/// The object or counter name of a catalogue index.
Result<std::string> counterNameByIndex(std::uint32_t index);
/// A whole number written in plain digits and nothing else.
std::optional<std::size_t> parseWholeNumber(std::string_view s);

}  // namespace parlix
