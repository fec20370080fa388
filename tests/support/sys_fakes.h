#pragma once

#include <algorithm>
#include <optional>
#include <set>
#include <vector>

#include "sys/instance_count.h"
#include "sys/ip_address.h"

namespace parlix::test {

/// A process table held in memory; processes in `ended` are gone by the time they are looked
/// up one by one.
class FakeProcessTable : public ProcessTable {
public:
    std::optional<std::vector<ProcessEntry>> snapshot() override { return entries; }
    std::optional<ProcessEntry> entryOf(std::uint32_t id) override {
        if (!entries || ended.count(id) != 0) {
            return std::nullopt;
        }
        auto it = std::find_if(entries->begin(), entries->end(),
                               [id](const ProcessEntry& e) { return e.id == id; });
        return it == entries->end() ? std::nullopt : std::optional(*it);
    }

    std::optional<std::vector<ProcessEntry>> entries;
    std::set<std::uint32_t> ended;
};

/// An address table held in memory.
class FakeIpv4Table : public Ipv4Table {
public:
    std::optional<std::vector<Ipv4Address>> addresses() override { return table; }
    std::optional<std::vector<Ipv4Address>> table;
};

}  // namespace parlix::test
