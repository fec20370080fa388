#include "daemon/http_messages.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>

#include "dispatch/batch_sender.h"
#include "dispatch/message_format.h"

namespace parlix {

namespace {

using Json = nlohmann::json;

constexpr std::size_t kMaxKeyLength = 200;

/// The offset of the first byte that breaks UTF-8 (overlong forms, surrogates and values past
/// U+10FFFF included), or nothing.
std::optional<std::size_t> firstInvalidUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t n = c < 0x80           ? 1
                        : (c >> 5) == 0x6  ? 2
                        : (c >> 4) == 0xE  ? 3
                        : (c >> 3) == 0x1E ? 4
                                           : 0;
        if (n == 0 || i + n > s.size()) {
            return i;
        }
        std::uint32_t cp = n == 1 ? c : c & (0x7Fu >> n);
        for (std::size_t k = 1; k < n; ++k) {
            const auto b = static_cast<unsigned char>(s[i + k]);
            if ((b & 0xC0) != 0x80) {
                return i;
            }
            cp = (cp << 6) | (b & 0x3Fu);
        }
        constexpr std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kLeast[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return i;
        }
        i += n;
    }
    return std::nullopt;
}

std::string typeName(const Json& j) {
    return j.is_number()    ? "a number"
           : j.is_boolean() ? "true or false"
           : j.is_null()    ? "null"
           : j.is_array()   ? "a list"
           : j.is_object()  ? "an object"
                            : "a string";
}

/// Why the sender would discard this number, or nothing.
std::optional<std::string> discardedNumber(const std::string& mobile) {
    // The batch sender's rule is the stricter of the two; the interface cannot know which sender
    // will take the row, so it keeps to that one.
    if (characterCount(mobile) < kBatchProfile.minNumberLength) {
        return "has fewer than " + std::to_string(kBatchProfile.minNumberLength) +
               " characters; the sender would discard it";
    }
    if (mobile.find_first_of("#\r\n") != std::string::npos) {
        return "holds '#' or a line break; the sender would discard it";
    }
    return std::nullopt;
}

std::optional<ApiError> readMessage(const Json& item, const std::string& at, NewMessage& out) {
    if (!item.is_object()) {
        return ApiError{400, at.empty() ? "body" : at,
                        "must be an object with \"to\" and \"text\", not " + typeName(item)};
    }
    const std::string prefix = at.empty() ? "" : at + ".";
    for (const auto& [name, value] : item.items()) {
        if (name != "to" && name != "text") {
            return ApiError{400, prefix + name, "is not a field of a message"};
        }
    }
    for (const char* name : {"to", "text"}) {
        const auto field = item.find(name);
        if (field == item.end()) {
            return ApiError{400, prefix + name, "is missing"};
        }
        if (!field->is_string()) {
            return ApiError{400, prefix + name, "must be a string, not " + typeName(*field)};
        }
        if (field->get_ref<const std::string&>().empty()) {
            return ApiError{400, prefix + name, "is empty"};
        }
    }
    out.mobile = item.at("to").get<std::string>();
    out.text = item.at("text").get<std::string>();
    if (auto why = discardedNumber(out.mobile)) {
        return ApiError{422, prefix + "to", *why};
    }
    return std::nullopt;
}

/// FNV-1a, 64 bits, as hex: stable from one build and run to the next.
std::string fingerprintOf(std::string_view text) {
    std::uint64_t h = 14695981039346656037ULL;
    for (unsigned char c : text) {
        h = (h ^ c) * 1099511628211ULL;
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
    return hex;
}

bool isJsonMediaType(std::string_view contentType) {
    const std::string_view type = contentType.substr(0, contentType.find(';'));
    const std::string_view trimmed = type.substr(0, type.find_last_not_of(" \t") + 1);
    constexpr std::string_view kJson = "application/json";
    return trimmed.size() == kJson.size() &&
           std::equal(trimmed.begin(), trimmed.end(), kJson.begin(),
                      [](char a, char b) { return std::tolower(a) == b; });
}

}  // namespace

std::variant<MessageRequest, ApiError> readMessageRequest(std::string_view contentType,
                                                          std::string_view body) {
    if (!isJsonMediaType(contentType)) {
        return ApiError{415, "Content-Type",
                        "must be application/json, not \"" + std::string(contentType) + "\""};
    }
    if (body.size() > kMaxBodyBytes) {
        return ApiError{413, "body",
                        "is over the limit of " + std::to_string(kMaxBodyBytes) + " bytes"};
    }
    if (auto bad = firstInvalidUtf8(body)) {
        return ApiError{400, "body", "is not valid UTF-8 (byte " + std::to_string(*bad) + ")"};
    }
    Json json;
    try {
        json = Json::parse(body);
    } catch (const Json::parse_error& e) {
        // The parser's own message quotes the body; the offset is enough to find the fault.
        return ApiError{400, "body", "is not valid JSON (at byte " + std::to_string(e.byte) + ")"};
    }
    MessageRequest request;
    if (json.is_array()) {
        if (json.empty()) {
            return ApiError{400, "body", "is an empty list"};
        }
        if (json.size() > kMaxMessagesPerRequest) {
            return ApiError{413, "body",
                            "holds " + std::to_string(json.size()) + " messages; at most " +
                                std::to_string(kMaxMessagesPerRequest) + " are taken at once"};
        }
        request.messages.resize(json.size());
        for (std::size_t i = 0; i < json.size(); ++i) {
            if (auto error =
                    readMessage(json[i], "[" + std::to_string(i) + "]", request.messages[i])) {
                return *error;
            }
        }
    } else {
        request.messages.resize(1);
        if (auto error = readMessage(json, "", request.messages[0])) {
            return *error;
        }
    }
    request.fingerprint = fingerprintOf(json.dump());
    return request;
}

std::optional<ApiError> checkIdempotencyKey(std::string_view key) {
    const bool printable =
        std::all_of(key.begin(), key.end(), [](char c) { return c > ' ' && c < 0x7F; });
    if (key.empty() || key.size() > kMaxKeyLength || !printable) {
        return ApiError{400, "Idempotency-Key",
                        "must be 1 to " + std::to_string(kMaxKeyLength) +
                            " printable ASCII characters without blanks"};
    }
    return std::nullopt;
}

std::string errorJson(const ApiError& error) {
    return jsonText(Json{{"error", {{"field", error.field}, {"reason", error.reason}}}});
}

std::string jsonText(const nlohmann::json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace parlix
