#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace parlix::test {

/// A parsed JSON value, for reading what gateway-sim's control API reports. Every accessor
/// returns a copy, so a value taken from a temporary stays valid.
class JsonValue {
public:
    using Array = std::vector<JsonValue>;
    using Object = std::map<std::string, JsonValue>;

    JsonValue() = default;
    explicit JsonValue(nlohmann::json json) : m_json(std::move(json)) {}

    /// Throws std::runtime_error for text that is not one JSON value.
    static JsonValue parse(std::string_view text);

    bool isNull() const { return m_json.is_null(); }
    /// Each accessor throws std::runtime_error when the value is of another type.
    std::string str() const;
    long long num() const;
    bool boolean() const;
    Array array() const;
    Object object() const;
    /// Member of an object; throws when it is missing.
    JsonValue operator[](const std::string& key) const;
    /// Element of an array; throws when out of range.
    JsonValue at(size_t index) const;
    size_t size() const;
    bool has(const std::string& key) const;

private:
    nlohmann::json m_json;
};

}  // namespace parlix::test
