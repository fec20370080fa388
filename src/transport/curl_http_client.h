#pragma once

#include <memory>
#include <string>

#include "base/ui.h"
#include "transport/http_client.h"

namespace parlix {

/// HttpClient over libcurl. A request runs on the curl multi interface while the window keeps
/// processing its events through Ui::doEvents(); an exception thrown from there (the program
/// ending) abandons the request and releases its handles. Connections are kept alive between
/// requests. Proxy settings come only from setProxy(): the http_proxy family of environment
/// variables is never read.
class CurlHttpClient final : public HttpClient {
public:
    CurlHttpClient(Ui& ui, HttpTimeouts timeouts);
    ~CurlHttpClient() override;
    CurlHttpClient(CurlHttpClient&& other) noexcept;
    CurlHttpClient& operator=(CurlHttpClient&& other) noexcept;
    CurlHttpClient(const CurlHttpClient&) = delete;
    CurlHttpClient& operator=(const CurlHttpClient&) = delete;

    std::string get(const std::string& url) override;
    std::string post(const std::string& url, const std::string& body,
                     const std::string& contentType) override;
    void cancel() override;
    void setProxy(const ProxySettings& proxy) override;
    void setTimeouts(const HttpTimeouts& timeouts) override;

    /// Largest reply body accepted; a longer one fails the transfer.
    static constexpr size_t kMaxReplyBytes = 16 * 1024 * 1024;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace parlix
