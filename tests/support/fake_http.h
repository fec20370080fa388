#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "transport/http_client.h"

namespace parlix::test {

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
        if (replies.empty()) {
            if (responder) {
                return responder(r);
            }
            throw TransferError("no reply scripted for " + r.url, 7);
        }
        std::string reply = replies.front();
        replies.pop_front();
        return reply;
    }
};

}  // namespace parlix::test
