#include "support/fakes.h"

namespace parlix::test {

MsgAnswer FakeUi::msgBox(const std::string& text, MsgButtons buttons, MsgIcon icon,
                         const std::string& title) {
    boxes.push_back({text, buttons, icon, title});
    if (!m_answers.empty()) {
        MsgAnswer a = m_answers.front();
        m_answers.pop_front();
        return a;
    }
    return buttons == MsgButtons::YesNo ? MsgAnswer::Yes : MsgAnswer::Ok;
}

void FakeUi::doEvents() {
    ++doEventsCount;
    if (onDoEvents) {
        onDoEvents(doEventsCount);
    }
}

void FakeUi::setBusy(bool b) {
    busy = b;
    busyChanges.push_back(b);
}

void FakeUi::endProgram() {
    throw ProgramEnded();
}

void FakeClock::sleepMs(int ms) {
    sleeps.push_back(ms);
    current.second += ms / 1000;
    current.millisecond += ms % 1000;
    if (current.millisecond >= 1000) {
        current.millisecond -= 1000;
        ++current.second;
    }
    while (current.second >= 60) {
        current.second -= 60;
        if (++current.minute >= 60) {
            current.minute = 0;
            current.hour = (current.hour + 1) % 24;
        }
    }
    if (onSleep) {
        onSleep(ms);
    }
}

double FakeRandom::next() {
    double v = m_values[m_next];
    if (m_next + 1 < m_values.size()) {
        ++m_next;
    }
    return v;
}

}  // namespace parlix::test
