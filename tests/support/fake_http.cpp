#include "support/fake_http.h"

namespace parlix::test {

std::string FakeHttpClient::answer(const Request& r) {
    requests.push_back(r);
    if (!replies.empty()) {
        std::string reply = replies.front();
        replies.pop_front();
        return reply;
    }
    if (responder) {
        return responder(r);
    }
    throw TransferError("no reply scripted for " + r.url, 7);
}

std::string FakeHttpClient::get(const std::string& url) {
    return answer({"GET", url, ""});
}

std::string FakeHttpClient::post(const std::string& url, const std::string& body,
                                 const std::string&) {
    return answer({"POST", url, body});
}

}  // namespace parlix::test
