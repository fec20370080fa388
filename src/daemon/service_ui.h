#pragma once

#include <functional>
#include <string>

#include "base/ui.h"

namespace parlix {

class ServiceLog;
class SignalWatch;

/// Raised by the service's endProgram: it unwinds every handler to the service loop, as ending
/// the window's program stops every handler at once.
struct ProgramEnd {};

/// The Ui port of the service. Nobody is there to answer a message box, so each box becomes a
/// log line with the answer it got: OK, or Yes to a question. Processing pending events means
/// taking the signals that arrived; a stop signal runs `stop` once, at that point, as an
/// operator's Exit would run there.
class ServiceUi final : public Ui {
public:
    ServiceUi(ServiceLog& log, SignalWatch& signals) : m_log(log), m_signals(signals) {}

    /// What a stop signal runs.
    void onStop(std::function<void()> stop) { m_stop = std::move(stop); }

    MsgAnswer msgBox(const std::string& text, MsgButtons buttons, MsgIcon icon,
                     const std::string& title) override;
    void doEvents() override;
    void setBusy(bool) override {}
    [[noreturn]] void endProgram() override;

private:
    ServiceLog& m_log;
    SignalWatch& m_signals;
    std::function<void()> m_stop;
    bool m_stopping = false;
};

}  // namespace parlix
