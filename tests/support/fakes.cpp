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
    long t = ((current.hour * 60L + current.minute) * 60 + current.second) * 1000 +
             current.millisecond + ms;
    current.millisecond = static_cast<int>(t % 1000);
    current.second = static_cast<int>(t / 1000 % 60);
    current.minute = static_cast<int>(t / 60000 % 60);
    current.hour = static_cast<int>(t / 3600000 % 24);
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
