#pragma once

namespace parlix {

/// SIGTERM, SIGINT and SIGHUP as the service loop sees them: blocked from the start and taken
/// only at points the loop chooses, so a signal never interrupts a database write or a request
/// halfway. After the first stop signal a second one ends the program at once.
class SignalWatch {
public:
    /// Blocks the three signals; create it before any thread starts, so every thread inherits
    /// the mask.
    SignalWatch();

    /// Takes the signals that arrive within `ms` milliseconds (0: only those pending).
    void wait(int ms);
    /// A stop signal has come.
    bool stopRequested() const { return m_stop; }
    /// A reload signal has come since the last call.
    bool takeReload();

private:
    bool m_stop = false;
    bool m_reload = false;
};

}  // namespace parlix
