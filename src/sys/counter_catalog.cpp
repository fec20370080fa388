#include "sys/counter_catalog.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "base/text.h"
#include "sys/counter_facility.h"

namespace parlix {
namespace {

enum class Instances { None, Processor, Process };

struct ObjectDef {
    std::uint32_t index;
    std::string_view name;
    Instances instances;
};

constexpr std::uint32_t kDecimal = kTypeBaseDecimalOrAnsi;
constexpr std::uint32_t kPercentType = kTypeSuffixPercent | kDecimal;
constexpr std::uint32_t kRateType = kTypeSuffixPerSecond | kDecimal;
constexpr std::uint32_t kSecondsType = kTypeSuffixSeconds | kDecimal;

constexpr std::uint32_t kSystem = 2;
constexpr std::uint32_t kMemory = 4;
constexpr std::uint32_t kProcess = 230;
constexpr std::uint32_t kProcessor = kProcessorObjectIndex;

constexpr std::array kObjects{
    ObjectDef{kProcessor, "Processor", Instances::Processor},
    ObjectDef{kMemory, "Memory", Instances::None},
    ObjectDef{kSystem, "System", Instances::None},
    ObjectDef{kProcess, "Process", Instances::Process},
};

constexpr std::array kCounters{
    CounterDef{kProcessor, 6, "% Processor Time", kPercentType, CounterCalc::Percent,
               CounterSource::CpuBusy},
    CounterDef{kProcessor, 142, "% User Time", kPercentType, CounterCalc::Percent,
               CounterSource::CpuUser},
    CounterDef{kProcessor, 144, "% Privileged Time", kPercentType, CounterCalc::Percent,
               CounterSource::CpuPrivileged},
    CounterDef{kMemory, 24, "Available Bytes", kDecimal, CounterCalc::Raw,
               CounterSource::MemAvailable},
    CounterDef{kMemory, 26, "Committed Bytes", kDecimal, CounterCalc::Raw,
               CounterSource::MemCommitted},
    CounterDef{kMemory, 30, "Commit Limit", kDecimal, CounterCalc::Raw,
               CounterSource::MemCommitLimit},
    CounterDef{kSystem, 146, "Context Switches/sec", kRateType, CounterCalc::Rate,
               CounterSource::ContextSwitches},
    CounterDef{kSystem, 248, "Processes", kDecimal, CounterCalc::Raw, CounterSource::ProcessCount},
    CounterDef{kSystem, 674, "System Up Time", kSecondsType, CounterCalc::Raw,
               CounterSource::UpTime},
    CounterDef{kProcess, 180, "Working Set", kDecimal, CounterCalc::Raw, CounterSource::WorkingSet},
    CounterDef{kProcess, 784, "ID Process", kDecimal, CounterCalc::Raw, CounterSource::ProcessId},
};

Error failure(std::int32_t code, std::string message) {
    return Error{code, std::move(message)};
}

}  // namespace

std::optional<std::size_t> parseWholeNumber(std::string_view s) {
    std::size_t n = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), n);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size()) {
        return std::nullopt;
    }
    return n;
}

Result<CounterPath> parseCounterPath(std::string_view path) {
    // "\\machine\..." names another machine; only this one is served.
    if (path.size() < 2 || path[0] != '\\' || path[1] == '\\') {
        return failure(kCounterBadName, "a counter path starts with one backslash");
    }
    std::string_view rest = path.substr(1);
    std::size_t open = rest.find_first_of("(\\");
    if (open == std::string_view::npos) {
        return failure(kCounterBadName, "a counter path needs a counter name");
    }
    std::string_view objectName = rest.substr(0, open);
    std::string_view instance;
    std::string_view counterName;
    if (rest[open] == '(') {
        // Process names may hold parentheses themselves, so the instance ends at the last ")\".
        std::size_t close = rest.rfind(")\\");
        if (close == std::string_view::npos || close < open) {
            return failure(kCounterBadName, "the instance has no closing parenthesis");
        }
        instance = rest.substr(open + 1, close - open - 1);
        counterName = rest.substr(close + 2);
    } else {
        counterName = rest.substr(open + 1);
    }
    if (objectName.empty() || counterName.empty() ||
        counterName.find('\\') != std::string_view::npos) {
        return failure(kCounterBadName, "a counter path has an object and a counter name");
    }

    auto object = std::find_if(kObjects.begin(), kObjects.end(),
                               [&](const ObjectDef& o) { return iequals(o.name, objectName); });
    if (object == kObjects.end()) {
        return failure(kCounterNoObject, "no such counter object");
    }
    auto counter = std::find_if(kCounters.begin(), kCounters.end(), [&](const CounterDef& c) {
        return c.objectIndex == object->index && iequals(c.name, counterName);
    });
    if (counter == kCounters.end()) {
        return failure(kCounterNoCounter, "the object has no such counter");
    }

    CounterPath result;
    result.counter = &*counter;
    switch (object->instances) {
        case Instances::None:
            if (!instance.empty()) {
                return failure(kCounterNoInstance, "the object has no instances");
            }
            return result;
        case Instances::Processor:
            if (iequals(instance, "_Total")) {
                return result;
            }
            if (auto cpu = parseWholeNumber(instance); cpu && *cpu < 100000) {
                result.cpu = static_cast<int>(*cpu);
                return result;
            }
            return failure(kCounterNoInstance, "a processor is \"_Total\" or a number");
        case Instances::Process: {
            if (instance.empty()) {
                return failure(kCounterNoInstance, "a process counter needs a process name");
            }
            std::size_t hash = instance.rfind('#');
            auto ordinal = hash == std::string_view::npos
                               ? std::nullopt
                               : parseWholeNumber(instance.substr(hash + 1));
            result.processName = std::string(ordinal ? instance.substr(0, hash) : instance);
            result.processOrdinal = ordinal.value_or(0);
            return result;
        }
    }
    return failure(kCounterBadName, "unknown object kind");
}

Result<std::string> counterNameByIndex(std::uint32_t index) {
    for (const ObjectDef& o : kObjects) {
        if (o.index == index) {
            return std::string(o.name);
        }
    }
    for (const CounterDef& c : kCounters) {
        if (c.index == index) {
            return std::string(c.name);
        }
    }
    return failure(kCounterInvalidArgument, "no name has that index");
}

}  // namespace parlix
