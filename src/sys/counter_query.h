#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sys/counter_facility.h"

namespace parlix {

/// One query of the counter facility with the counters added to it. The query is open for the
/// object's whole life; closing it on destruction also drops its counters.
class CounterQuery {
public:
    explicit CounterQuery(CounterFacility& facility);
    ~CounterQuery();
    CounterQuery(const CounterQuery&) = delete;
    CounterQuery& operator=(const CounterQuery&) = delete;

    /// The number of counters in the list.
    std::int32_t Count() const;
    /// True when the facility accepts the path as naming one of its counters.
    bool IsCounterPath(const std::string& path);
    /// Adds a counter to the end of the list: 0 on success, -1 for a path that is not valid,
    /// otherwise the facility's status code (and the list is unchanged).
    std::int32_t AddCounter(const std::string& path);
    /// Drops the counter at `index`, moving the later ones down one place. True when the
    /// facility removed it; the entry leaves the list either way.
    bool RemoveCounter(std::int32_t index);
    /// Samples all counters; the facility's status code, 0 on success.
    std::int32_t Collect();
    /// The counter's current value as display text with its unit suffix ("12.5%", "3/sec");
    /// empty text when there is no such counter or it has no value.
    std::string GetCounterData(std::int32_t index);
    /// The path "\Object(instance)\Counter" built from the facility's numeric name indexes;
    /// empty text when either index names nothing.
    std::string GetFormatedCounter(std::int32_t objectIndex, const std::string& instance,
                                   std::int32_t counterIndex);

private:
    struct CounterEntry {
        CounterHandle handle = 0;
        std::string path;
    };

    static std::string FormatCounterValue(const FormattedCounter& value);

    CounterFacility& m_facility;
    QueryHandle m_query = 0;
    std::vector<CounterEntry> m_counters;
};

}  // namespace parlix
