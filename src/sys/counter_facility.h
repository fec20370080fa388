#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "base/result.h"

namespace parlix {

/// Handles the facility gives out; 0 is never a valid one.
using QueryHandle = std::uint32_t;
using CounterHandle = std::uint32_t;

/// Status codes of the facility; 0 is success.
inline constexpr std::int32_t kCounterOk = 0;
/// The instance named in the path does not exist (now).
inline constexpr std::int32_t kCounterNoInstance = static_cast<std::int32_t>(0x800007D1u);
/// The query has no counters to collect.
inline constexpr std::int32_t kCounterNoData = static_cast<std::int32_t>(0x800007D5u);
/// The path names no object the facility knows.
inline constexpr std::int32_t kCounterNoObject = static_cast<std::int32_t>(0xC0000BB8u);
/// The object has no counter of that name.
inline constexpr std::int32_t kCounterNoCounter = static_cast<std::int32_t>(0xC0000BB9u);
/// No value yet: not collected, or a rate that needs a second collect.
inline constexpr std::int32_t kCounterInvalidData = static_cast<std::int32_t>(0xC0000BBAu);
inline constexpr std::int32_t kCounterInvalidHandle = static_cast<std::int32_t>(0xC0000BBCu);
inline constexpr std::int32_t kCounterInvalidArgument = static_cast<std::int32_t>(0xC0000BBDu);
/// The text is not of the form "\Object(Instance)\Counter" or "\Object\Counter".
inline constexpr std::int32_t kCounterBadName = static_cast<std::int32_t>(0xC0000BC0u);

/// Asks getFormattedValue for the value as a double; the only format the facility renders.
inline constexpr std::uint32_t kFormatDouble = 0x200;

/// Bits of a counter's type word that say how its value is shown.
inline constexpr std::uint32_t kTypeClassMask = 0xF00;
inline constexpr std::uint32_t kTypeClassText = 0x800;
/// Numbers: hexadecimal (0) or decimal display. Text: UTF-16 (0) or single-byte text.
inline constexpr std::uint32_t kTypeBaseMask = 0xF0000;
inline constexpr std::uint32_t kTypeBaseHexOrWide = 0x0;
inline constexpr std::uint32_t kTypeBaseDecimalOrAnsi = 0x10000;
inline constexpr std::uint32_t kTypeSuffixMask = 0xF0000000;
inline constexpr std::uint32_t kTypeSuffixPerSecond = 0x10000000;
inline constexpr std::uint32_t kTypeSuffixPercent = 0x20000000;
inline constexpr std::uint32_t kTypeSuffixSeconds = 0x30000000;

/// One rendered counter value. The type word says which field holds it: numbers are in
/// `number`, single-byte text in `ansiText`, UTF-16 text in `wideText`.
struct FormattedCounter {
    std::uint32_t type = 0;
    double number = 0;
    std::string ansiText;
    std::u16string wideText;
};

/// A facility of performance counters: queries hold counters, a collect samples all of a
/// query's counters at once, and a counter's value is computed from its latest samples.
/// Errors carry one of the status codes above.
class CounterFacility {
public:
    virtual ~CounterFacility() = default;
    virtual Result<QueryHandle> openQuery() = 0;
    /// Closes the query and every counter in it.
    virtual std::int32_t closeQuery(QueryHandle query) = 0;
    /// 0 when the path names a counter this facility has.
    virtual std::int32_t validatePath(const std::string& path) = 0;
    virtual Result<CounterHandle> addCounter(QueryHandle query, const std::string& path) = 0;
    virtual std::int32_t removeCounter(CounterHandle counter) = 0;
    /// Takes one sample of every counter of the query.
    virtual std::int32_t collectQueryData(QueryHandle query) = 0;
    /// The counter's current value, in the given format.
    virtual Result<FormattedCounter> getFormattedValue(CounterHandle counter,
                                                       std::uint32_t format) = 0;
    /// The object or counter name that a numeric index stands for.
    virtual Result<std::string> lookupNameByIndex(std::uint32_t index) = 0;
};

/// Counters read from /proc. Paths have the form "\Object(Instance)\Counter", or
/// "\Object\Counter" for objects without instances; names match without regard to case.
///
/// Objects, counters and the fixed indexes that lookupNameByIndex resolves. The numbers are
/// the ones the Windows counter catalogue gives the same names, so an index written for that
/// platform names the same thing here.
///
/// | Index | Object    | Instance                    | Index | Counter              | Suffix |
/// |-------|-----------|-----------------------------|-------|----------------------|--------|
/// | 238   | Processor | "_Total", or a CPU number   | 6     | % Processor Time     | "%"    |
/// |       |           |                             | 142   | % User Time          | "%"    |
/// |       |           |                             | 144   | % Privileged Time    | "%"    |
/// | 4     | Memory    | none                        | 24    | Available Bytes      |        |
/// |       |           |                             | 26    | Committed Bytes      |        |
/// |       |           |                             | 30    | Commit Limit         |        |
/// | 2     | System    | none                        | 146   | Context Switches/sec | "/sec" |
/// |       |           |                             | 248   | Processes            |        |
/// |       |           |                             | 674   | System Up Time       | "secs" |
/// | 230   | Process   | image name; "name#1" is the | 180   | Working Set          |        |
/// |       |           | second process of that name | 784   | ID Process           |        |
///
/// All values are shown in decimal. An empty instance, "\Memory()\Available Bytes", counts as
/// none. A processor instance must exist when the counter is added; a process may come and go,
/// and has no value while it is not running.
///
/// Percentages and rates compare the last two collects, so they have a value from the second
/// collect on. Processor times come from /proc/stat, memory from /proc/meminfo, the up time
/// from /proc/uptime and the working set from a process's resident size (VmRSS).
class ProcCounterFacility final : public CounterFacility {
public:
    explicit ProcCounterFacility(std::filesystem::path procRoot = "/proc");
    ~ProcCounterFacility() override;
    ProcCounterFacility(const ProcCounterFacility&) = delete;
    ProcCounterFacility& operator=(const ProcCounterFacility&) = delete;

    Result<QueryHandle> openQuery() override;
    std::int32_t closeQuery(QueryHandle query) override;
    std::int32_t validatePath(const std::string& path) override;
    Result<CounterHandle> addCounter(QueryHandle query, const std::string& path) override;
    std::int32_t removeCounter(CounterHandle counter) override;
    std::int32_t collectQueryData(QueryHandle query) override;
    Result<FormattedCounter> getFormattedValue(CounterHandle counter,
                                               std::uint32_t format) override;
    Result<std::string> lookupNameByIndex(std::uint32_t index) override;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace parlix
