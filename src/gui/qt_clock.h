#pragma once

#include "base/clock.h"

namespace parlix {

/// The machine's clock, whose pauses keep the window alive: the operator can still press Exit
/// while the program waits.
class QtClock final : public Clock {
public:
    DateTime now() const override;
    /// Waits the given time while the window processes its events.
    void sleepMs(int ms) override;

private:
    SystemClock m_system;
};

}  // namespace parlix
