#include "base/clock.h"

#include <chrono>
#include <ctime>
#include <thread>

namespace parlix {

DateTime SystemClock::now() const {
    auto tp = std::chrono::system_clock::now();
    std::time_t secs = std::chrono::system_clock::to_time_t(tp);
    std::tm local{};
    localtime_r(&secs, &local);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(tp.time_since_epoch()) % 1000;
    return DateTime{local.tm_year + 1900,
                    local.tm_mon + 1,
                    local.tm_mday,
                    local.tm_hour,
                    local.tm_min,
                    local.tm_sec,
                    static_cast<int>(ms.count())};
}

void SystemClock::sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace parlix
