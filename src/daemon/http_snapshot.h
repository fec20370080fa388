#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "model/dispatch_counters.h"

namespace parlix {

class FormModel;

/// Upper bounds, in seconds, of the tick-duration histogram's buckets (without +Inf).
inline constexpr std::array<double, 10> kTickBuckets = {0.05, 0.1, 0.25, 0.5, 1,
                                                        2.5,  5,   10,   30,  60};

/// The service's figures as the tick left them: what the HTTP interface shows, read on its own
/// threads while the tick goes on.
struct ServiceSnapshot {
    bool loggedIn = false;
    std::string server;
    long balance = 0;
    long ticks = 0;
    DispatchCounters counters;
    /// ISO-8601 local time of the last tick's end; empty before the first tick.
    std::string lastTickTime;
    /// "sent", "idle", "upload refused" or "error"; empty before the first tick.
    std::string lastTickOutcome;
    /// Unix time of the last tick that ended without an error or a refused upload; 0: none.
    double lastGoodTick = 0;
    /// Ticks per bucket of kTickBuckets, the last one for longer ticks.
    std::array<long, kTickBuckets.size() + 1> tickBuckets{};
    double tickSeconds = 0;
    long sentLastMinute = 0;
    /// Messages sent in each minute of the last hour, the oldest first.
    std::array<long, 60> sentPerMinute{};
    /// The newest activity-log entries, the newest first.
    std::vector<std::string> recentLog;
};

/// Where the tick publishes its snapshot and the server threads read it. Neither side waits for
/// the other: the pointer is swapped and read atomically.
class SnapshotBoard {
public:
    void publish(ServiceSnapshot snapshot);
    std::shared_ptr<const ServiceSnapshot> current() const { return m_current.load(); }

private:
    std::atomic<std::shared_ptr<const ServiceSnapshot>> m_current{
        std::make_shared<const ServiceSnapshot>()};
};

/// Runs on the tick's thread: turns the form model and the tick's counters into snapshots.
class TickRecorder {
public:
    using Time = std::chrono::system_clock::time_point;

    explicit TickRecorder(SnapshotBoard& board) : m_board(board) {}

    /// Keeps an activity-log entry for the next snapshot.
    void logEntry(const std::string& entry);
    /// A tick that took `took` has ended at `now`.
    void tickEnded(const FormModel& form, std::chrono::duration<double> took, Time now);
    /// Publishes the form's state at `now` (after a Connect, or a tick).
    void publish(const FormModel& form, Time now);

private:
    SnapshotBoard& m_board;
    ServiceSnapshot m_snapshot;
    /// Messages sent per tick in the last hour: the tick's end and the count.
    std::deque<std::pair<Time, long>> m_sent;
};

}  // namespace parlix
