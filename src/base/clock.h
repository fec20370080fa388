#pragma once

#include "base/date_time.h"

namespace parlix {

/// Local date and time, and pauses.
class Clock {
public:
    virtual ~Clock() = default;
    virtual DateTime now() const = 0;
    /// Waits the given number of milliseconds.
    virtual void sleepMs(int ms) = 0;
};

/// The machine's local clock.
class SystemClock final : public Clock {
public:
    DateTime now() const override;
    void sleepMs(int ms) override;
};

}  // namespace parlix
