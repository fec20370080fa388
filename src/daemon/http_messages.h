#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace parlix {

/// The largest body POST /v1/messages takes, in bytes; the server refuses a larger one before
/// it is read.
inline constexpr std::size_t kMaxBodyBytes = 1024 * 1024;
/// The most messages one request queues.
inline constexpr std::size_t kMaxMessagesPerRequest = 1000;

/// A refused request: its HTTP status, the field at fault and why.
struct ApiError {
    int status = 400;
    std::string field;
    std::string reason;
};

/// A message to queue: its number and its text.
struct NewMessage {
    std::string mobile;
    std::string text;
};

/// The messages of a valid POST /v1/messages, in order, and a fingerprint of what they say,
/// which tells a repeated request from another one under the same idempotency key.
struct MessageRequest {
    std::vector<NewMessage> messages;
    std::string fingerprint;
};

/// Reads the body of POST /v1/messages: one {"to", "text"} object or a list of 1 to
/// kMaxMessagesPerRequest of them, as JSON in UTF-8. A number the sender would discard is
/// refused here, so that nothing is queued that would never be sent.
std::variant<MessageRequest, ApiError> readMessageRequest(std::string_view contentType,
                                                          std::string_view body);

/// Why an Idempotency-Key header cannot be used, or nothing when it can.
std::optional<ApiError> checkIdempotencyKey(std::string_view key);

/// {"error": {"field": ..., "reason": ...}}
std::string errorJson(const ApiError& error);

/// JSON text of a value; bytes that are not UTF-8 (a status or a log line another program
/// wrote, a path a client sent) become U+FFFD instead of failing the answer.
std::string jsonText(const nlohmann::json& value);

}  // namespace parlix
