#include "support/fakes.h"

namespace parlix::test {

void FakeClock::sleepMs(int ms) {
    sleeps.push_back(ms);
    long t = ((current.hour * 60L + current.minute) * 60 + current.second) * 1000 +
             current.millisecond + ms;
    current.millisecond = static_cast<int>(t % 1000);
    current.second = static_cast<int>(t / 1000 % 60);
    current.minute = static_cast<int>(t / 60000 % 60);
    current.hour = static_cast<int>(t / 3600000 % 24);
}

std::string FakeHttpClient::answer(const Request& r) {
    requests.push_back(r);
    if (!replies.empty()) {
        std::string reply = replies.front();
        replies.pop_front();
        return reply;
    }
    if (!responder) {
        throw TransferError("no reply scripted for " + r.url, 7);
    }
    return responder(r);
}

}  // namespace parlix::test
