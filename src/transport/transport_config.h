#pragma once

#include <array>
#include <map>
#include <string>

#include "base/result.h"
#include "transport/code_page.h"
#include "transport/http_client.h"

namespace parlix {

/// Name of the configuration file in the program folder.
inline constexpr const char* kConfigFileName = "parlix.conf";

/// Transport settings from the configuration file. The file holds one "key=value" per line;
/// blank lines and lines starting with '#' or ';' are ignored, blanks around keys and values
/// are dropped, and keys this loader does not know are left to other readers. Keys:
///   http.connect_timeout_ms  time to set up a connection, default 10000
///   http.total_timeout_ms    time for a whole request and its reply, default 60000
///   payload.codepage         8-bit code page of payload files (iconv name), default WINDOWS-1252
///   server1.host .. server5.host   host (and ":port") of the gateway servers, default empty
///   db.busy_timeout_ms       time a statement waits for another writer's lock, default 15000
///   queue.url                a PostgreSQL connection string or URI: the queue is shared there
///   queue.lease_s            seconds a worker's claim on a batch lasts unrenewed, default 300
///   http.listen              where parlixd's HTTP interface listens, "host:port"; off when empty
///   http.token_file          the file holding that interface's bearer token
struct TransportConfig {
    HttpTimeouts timeouts;
    long busyTimeoutMs = 15000;
    std::string queueUrl;
    long leaseSeconds = 300;
    std::string payloadCodePage = kDefaultPayloadCodePage;
    std::array<std::string, 5> serverHosts;
    std::string httpListen;
    std::string httpTokenFile;
};

/// A host and a port to listen on.
struct ListenAddress {
    std::string host;
    int port = 0;
};

/// Reads "host:port" or "[v6-address]:port", the port from 1 to 65535; an Error saying why not.
Result<ListenAddress> parseListenAddress(const std::string& text);

/// Every key and value of a "key=value" file, later lines winning. A missing file gives none;
/// a line without '=' is an Error naming its number.
Result<std::map<std::string, std::string>> readConfigValues(const std::string& path);

/// The transport settings of the file at `path`; defaults for what it does not set, and for a
/// missing file. An Error for a timeout that is not a positive whole number of milliseconds or
/// a code page iconv cannot convert UTF-8 into.
Result<TransportConfig> loadTransportConfig(const std::string& path);

}  // namespace parlix
