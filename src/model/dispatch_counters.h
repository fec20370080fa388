#pragma once

namespace parlix {

/// What the tick counts for parlixd's figures. Only the tick's thread touches them; the service
/// copies them into the snapshot it publishes after each tick.
struct DispatchCounters {
    /// Rows settled "Sent" or "DelSent": the gateway has them.
    long messagesSent = 0;
    /// Uploads the gateway refused.
    long failedUploads = 0;
    /// Ticks that ended in an error of the outside world.
    long tickErrors = 0;
};

}  // namespace parlix
