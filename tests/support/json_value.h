#pragma once

#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace parlix::test {

/// A parsed JSON value, for reading what gateway-sim's control API reports. Every accessor
/// returns a copy, so a value taken from a temporary stays valid; each throws a std::exception
/// for a missing member, an index out of range or a value of another type.
class JsonValue {
public:
    using Array = std::vector<JsonValue>;

    JsonValue() = default;
    explicit JsonValue(nlohmann::json json) : m_json(std::move(json)) {}

    static JsonValue parse(std::string_view text) { return JsonValue(nlohmann::json::parse(text)); }

    std::string str() const { return m_json.get<std::string>(); }
    long long num() const { return expect(m_json.is_number_integer()).get<long long>(); }
    Array array() const { return Array(expect(m_json.is_array()).begin(), m_json.end()); }
    JsonValue operator[](const std::string& key) const { return JsonValue(m_json.at(key)); }
    JsonValue at(size_t index) const { return JsonValue(m_json.at(index)); }
    size_t size() const { return m_json.size(); }
    bool has(const std::string& key) const { return m_json.is_object() && m_json.contains(key); }

private:
    const nlohmann::json& expect(bool isOfType) const {
        return isOfType ? m_json
                        : throw std::runtime_error("JSON: not of that type: " + m_json.dump());
    }

    nlohmann::json m_json;
};

}  // namespace parlix::test
