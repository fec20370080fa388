#pragma once

#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/activity_log.h"
#include "base/clock.h"
#include "base/random.h"
#include "base/ui.h"

namespace parlix::test {

/// Thrown by FakeUi::endProgram, so a test sees that nothing ran after it. It is not a
/// std::exception, so the program's continue-on-error steps let it pass as the real end would.
struct ProgramEnded {};

struct ShownBox {
    std::string text;
    MsgButtons buttons;
    MsgIcon icon;
    std::string title;
};

/// A Ui whose message boxes are answered in advance and whose event points can play clicks.
class FakeUi : public Ui {
public:
    MsgAnswer msgBox(const std::string& text, MsgButtons buttons, MsgIcon icon,
                     const std::string& title) override;
    void doEvents() override;
    void setBusy(bool busy) override;
    [[noreturn]] void endProgram() override;

    /// The answer the next box gets; without one, Ok or Yes.
    void setNextAnswer(MsgAnswer a) { m_answers.push_back(a); }

    std::vector<ShownBox> boxes;
    std::vector<bool> busyChanges;
    int doEventsCount = 0;
    bool busy = false;
    /// Runs at every doEvents; a test plays an operator's click here.
    std::function<void(int)> onDoEvents;

private:
    std::deque<MsgAnswer> m_answers;
};

/// A clock that only moves when told to; pauses advance it.
class FakeClock : public Clock {
public:
    explicit FakeClock(DateTime start = {2026, 12, 6, 15, 4, 5, 0}) : current(start) {}
    DateTime now() const override { return current; }
    void sleepMs(int ms) override;

    DateTime current;
    std::vector<int> sleeps;
    std::function<void(int)> onSleep;
};

/// A generator that returns the given fractions in turn, then repeats the last one.
class FakeRandom : public Random {
public:
    explicit FakeRandom(std::vector<double> values = {0.5}) : m_values(std::move(values)) {}
    double next() override;

private:
    std::vector<double> m_values;
    size_t m_next = 0;
};

/// Collects the lines written to the activity log, oldest first.
class RecordingLog : public ActivityLog {
public:
    void writeLog(const std::string& entry) override { lines.push_back(entry); }
    std::vector<std::string> lines;
};

}  // namespace parlix::test
