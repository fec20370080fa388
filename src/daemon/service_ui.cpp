#include "daemon/service_ui.h"

#include "daemon/service_log.h"
#include "daemon/signal_watch.h"

namespace parlix {

MsgAnswer ServiceUi::msgBox(const std::string& text, MsgButtons buttons, MsgIcon,
                            const std::string& title) {
    MsgAnswer answer = buttons == MsgButtons::YesNo ? MsgAnswer::Yes : MsgAnswer::Ok;
    m_log.write("Message box \"" + title + "\": " + text + " -> answered " +
                (answer == MsgAnswer::Yes ? "Yes" : "OK"));
    return answer;
}

void ServiceUi::doEvents() {
    m_signals.wait(0);
    if (m_signals.stopRequested() && !m_stopping && m_stop) {
        m_stopping = true;
        m_stop();
    }
}

void ServiceUi::endProgram() {
    throw ProgramEnd{};
}

}  // namespace parlix
