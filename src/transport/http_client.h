#pragma once

#include <string>

#include "base/failure.h"

namespace parlix {

/// A request that did not bring back a whole reply: no connection, a time-out, a cut
/// connection, a cancel. The message names the host, never the query, which may hold a password.
class TransferError : public OutsideFailure {
public:
    TransferError(const std::string& message, int code) : OutsideFailure(message), m_code(code) {}
    /// The transfer library's own error number; 0 when the transfer was cancelled.
    int code() const { return m_code; }

private:
    int m_code;
};

/// Proxy for the gateway GET requests; an empty host means a direct connection.
struct ProxySettings {
    std::string host;
    int port = 0;  // 0: the proxy protocol's default port
    std::string userName;
    std::string password;
};

/// Limits every request has; a request past either fails with a TransferError.
struct HttpTimeouts {
    long connectMs = 10000;
    long totalMs = 60000;
};

/// What the core needs from HTTP: one request at a time that returns the reply body as text.
/// The HTTP status is not examined; only a failed transfer is an error.
class HttpClient {
public:
    virtual ~HttpClient() = default;
    /// GET; throws TransferError.
    virtual std::string get(const std::string& url) = 0;
    /// POST of `body` with the given content type; throws TransferError.
    virtual std::string post(const std::string& url, const std::string& body,
                             const std::string& contentType) = 0;
    /// Ends every request still open on this client; each of them throws TransferError.
    virtual void cancel() = 0;
    /// Applies to the requests that start afterwards.
    virtual void setProxy(const ProxySettings& proxy) = 0;
    /// Applies to the requests that start afterwards.
    virtual void setTimeouts(const HttpTimeouts& timeouts) = 0;
};

}  // namespace parlix
