#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace parlix::test {

/// A parsed JSON value, for reading what gateway-sim's control API reports.
class JsonValue {
public:
    using Array = std::vector<JsonValue>;
    using Object = std::map<std::string, JsonValue>;

    /// Throws std::runtime_error for text that is not one JSON value.
    static JsonValue parse(std::string_view text);

    bool isNull() const { return std::holds_alternative<std::monostate>(m_value); }
    /// Each accessor throws std::runtime_error when the value is of another type.
    const std::string& str() const;
    long long num() const;
    bool boolean() const;
    const Array& array() const;
    const Object& object() const;
    /// Member of an object; throws when it is missing.
    const JsonValue& operator[](const std::string& key) const;
    /// Element of an array; throws when out of range.
    const JsonValue& at(size_t index) const;
    size_t size() const;
    bool has(const std::string& key) const;

private:
    friend class JsonParser;
    std::variant<std::monostate, bool, long long, std::string, std::shared_ptr<Array>,
                 std::shared_ptr<Object>>
        m_value;
};

}  // namespace parlix::test
