#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "base/activity_log.h"
#include "base/clock.h"
#include "base/random.h"
#include "base/ui.h"
#include "transport/http_client.h"

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
                     const std::string& title) override {
        boxes.push_back({text, buttons, icon, title});
        MsgAnswer a = buttons == MsgButtons::YesNo ? MsgAnswer::Yes : MsgAnswer::Ok;
        if (!m_answers.empty()) {
            a = m_answers.front();
            m_answers.pop_front();
        }
        return a;
    }
    void doEvents() override {
        ++doEventsCount;
        if (onDoEvents) {
            onDoEvents(doEventsCount);
        }
    }
    void setBusy(bool busy) override { busyChanges.push_back(busy); }
    [[noreturn]] void endProgram() override { throw ProgramEnded(); }

    /// The answer the next box gets; without one, Ok or Yes.
    void setNextAnswer(MsgAnswer a) { m_answers.push_back(a); }

    std::vector<ShownBox> boxes;
    std::vector<bool> busyChanges;
    int doEventsCount = 0;
    /// Runs at every doEvents with its count; a test plays an operator's click here.
    std::function<void(int)> onDoEvents;

private:
    std::deque<MsgAnswer> m_answers;
};

/// A clock that only moves when told to; pauses advance it.
class FakeClock : public Clock {
public:
    explicit FakeClock(DateTime start = {2026, 12, 6, 15, 4, 5, 0}) : current(start) {}
    DateTime now() const override { return current; }
    void sleepMs(int ms) override {
        sleeps.push_back(ms);
        long t = ((current.hour * 60L + current.minute) * 60 + current.second) * 1000 +
                 current.millisecond + ms;
        current.millisecond = static_cast<int>(t % 1000);
        current.second = static_cast<int>(t / 1000 % 60);
        current.minute = static_cast<int>(t / 60000 % 60);
        current.hour = static_cast<int>(t / 3600000 % 24);
    }

    DateTime current;
    std::vector<int> sleeps;
};

/// A generator that returns the given fractions in turn, then repeats the last one.
class FakeRandom : public Random {
public:
    explicit FakeRandom(std::vector<double> values = {0.5}) : m_values(std::move(values)) {}
    double next() override { return m_values[m_next + 1 < m_values.size() ? m_next++ : m_next]; }

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

/// An HttpClient that records its requests and answers from a script.
class FakeHttpClient : public HttpClient {
public:
    struct Request {
        std::string method;
        std::string url;
        std::string body;
    };

    std::string get(const std::string& url) override { return answer({"GET", url, ""}); }
    std::string post(const std::string& url, const std::string& body, const std::string&) override {
        return answer({"POST", url, body});
    }
    void cancel() override { ++cancels; }
    void setProxy(const ProxySettings& p) override { proxy = p; }
    void setTimeouts(const HttpTimeouts& t) override { timeouts = t; }

    /// Answers requests in order; `responder` decides once the queue is empty.
    std::deque<std::string> replies;
    std::function<std::string(const Request&)> responder;
    std::vector<Request> requests;
    ProxySettings proxy;
    HttpTimeouts timeouts;
    int cancels = 0;

private:
    std::string answer(const Request& r) {
        requests.push_back(r);
        if (replies.empty() && !responder) {
            throw TransferError("no reply scripted for " + r.url, 7);
        }
        if (replies.empty()) {
            return responder(r);
        }
        std::string reply = replies.front();
        replies.pop_front();
        return reply;
    }
};

}  // namespace parlix::test
