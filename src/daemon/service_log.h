#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace parlix {

/// The service's log: one line per entry on standard output, after an ISO-8601 time stamp, so
/// that the journal keeps it. Line breaks inside an entry become " | ".
class ServiceLog {
public:
    void write(const std::string& entry);
};

/// The local time as "2026-12-06T15:04:05.123+01:00".
std::string isoTimestamp(
    std::chrono::system_clock::time_point now = std::chrono::system_clock::now());

}  // namespace parlix
