#include "daemon/service_log.h"

#include <chrono>
#include <ctime>

#include "base/text.h"

namespace parlix {

std::string isoTimestamp(std::chrono::system_clock::time_point now) {
    std::time_t secs = std::chrono::system_clock::to_time_t(now);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
    std::tm local{};
    localtime_r(&secs, &local);
    char stamp[40];
    char zone[8];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &local);
    std::strftime(zone, sizeof zone, "%z", &local);  // "+0100"
    char out[64];
    std::snprintf(out, sizeof out, "%s.%03d%.3s:%s", stamp, static_cast<int>(ms.count()), zone,
                  zone + 3);
    return out;
}

void ServiceLog::write(const std::string& entry) {
    std::string line =
        replaceAll(replaceAll(replaceAll(entry, "\r\n", " | "), "\n", " | "), "\r", " | ");
    std::fprintf(stdout, "%s %s\n", isoTimestamp().c_str(), line.c_str());
    std::fflush(stdout);
}

}  // namespace parlix
