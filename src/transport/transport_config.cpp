#include "transport/transport_config.h"

#include <cerrno>
#include <charconv>
#include <fstream>

namespace parlix {

namespace {

// A day: long enough for any gateway, short enough that a typo does not hang a request forever.
constexpr long kMaxTimeoutMs = 24L * 60 * 60 * 1000;

Result<long> parseTimeout(const std::string& key, const std::string& value) {
    long ms = 0;
    auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), ms);
    if (ec != std::errc() || end != value.data() + value.size() || ms <= 0 || ms > kMaxTimeoutMs) {
        return Error{EINVAL, key + " must be a whole number of milliseconds from 1 to " +
                                 std::to_string(kMaxTimeoutMs) + ", not \"" + value + "\""};
    }
    return ms;
}

std::string trimBlanks(std::string_view s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string_view::npos) {
        return {};
    }
    size_t e = s.find_last_not_of(" \t\r");
    return std::string(s.substr(b, e - b + 1));
}

}  // namespace

Result<ListenAddress> parseListenAddress(const std::string& text) {
    const size_t colon = text.rfind(':');
    std::string host = colon == std::string::npos ? std::string() : text.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    int port = 0;
    const char* digits = text.data() + (colon == std::string::npos ? text.size() : colon + 1);
    auto [end, ec] = std::from_chars(digits, text.data() + text.size(), port);
    if (host.empty() || ec != std::errc() || end != text.data() + text.size() || port < 1 ||
        port > 65535) {
        return Error{EINVAL, "http.listen must be host:port with a port from 1 to 65535, not \"" +
                                 text + "\""};
    }
    return ListenAddress{host, port};
}

Result<std::map<std::string, std::string>> readConfigValues(const std::string& path) {
    std::map<std::string, std::string> values;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return values;
    }
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        std::string text = trimBlanks(line);
        if (text.empty() || text[0] == '#' || text[0] == ';') {
            continue;
        }
        size_t eq = text.find('=');
        if (eq == std::string::npos) {
            return Error{EINVAL, path + " line " + std::to_string(number) + ": no '=' in the line"};
        }
        values[trimBlanks(std::string_view(text).substr(0, eq))] =
            trimBlanks(std::string_view(text).substr(eq + 1));
    }
    return values;
}

Result<TransportConfig> loadTransportConfig(const std::string& path) {
    Result<std::map<std::string, std::string>> read = readConfigValues(path);
    if (!read) {
        return read.error();
    }
    const auto& values = read.value();
    TransportConfig config;
    for (const auto& [key, value] : values) {
        if (key == "http.connect_timeout_ms" || key == "http.total_timeout_ms" ||
            key == "db.busy_timeout_ms") {
            Result<long> ms = parseTimeout(key, value);
            if (!ms) {
                return ms.error();
            }
            (key == "http.connect_timeout_ms" ? config.timeouts.connectMs
             : key == "http.total_timeout_ms" ? config.timeouts.totalMs
                                              : config.busyTimeoutMs) = ms.value();
        } else if (key == "queue.url") {
            config.queueUrl = value;
        } else if (key == "queue.lease_s") {
            long seconds = 0;
            auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), seconds);
            if (ec != std::errc() || end != value.data() + value.size() || seconds < 5 ||
                seconds > kMaxTimeoutMs / 1000) {
                return Error{EINVAL, "queue.lease_s must be a whole number of seconds from 5 to " +
                                         std::to_string(kMaxTimeoutMs / 1000) + ", not \"" + value +
                                         "\""};
            }
            config.leaseSeconds = seconds;
        } else if (key == "payload.codepage") {
            if (!CodePageConverter::open("UTF-8", value)) {
                return Error{EINVAL, "payload.codepage: unknown code page \"" + value + "\""};
            }
            config.payloadCodePage = value;
        } else if (key.size() == 12 && key.starts_with("server") && key.ends_with(".host") &&
                   key[6] >= '1' && key[6] <= '5') {
            config.serverHosts[static_cast<size_t>(key[6] - '1')] = value;
        } else if (key == "http.listen" && !value.empty()) {
            if (auto listen = parseListenAddress(value); !listen) {
                return listen.error();
            }
            config.httpListen = value;
        } else if (key == "http.token_file") {
            config.httpTokenFile = value;
        }
    }
    return config;
}

}  // namespace parlix
