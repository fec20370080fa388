#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace parlix {

/// One field's value: null, a whole number, a double or a text.
class Value {
public:
    Value() = default;
    Value(std::string text) : m_v(std::move(text)) {}    // NOLINT: implicit by design
    Value(const char* text) : m_v(std::string(text)) {}  // NOLINT
    Value(std::int64_t n) : m_v(n) {}                    // NOLINT
    Value(int n) : m_v(static_cast<std::int64_t>(n)) {}  // NOLINT
    Value(double d) : m_v(d) {}                          // NOLINT

    bool isNull() const { return std::holds_alternative<std::monostate>(m_v); }
    bool isText() const { return std::holds_alternative<std::string>(m_v); }
    bool isInteger() const { return std::holds_alternative<std::int64_t>(m_v); }
    bool isDouble() const { return std::holds_alternative<double>(m_v); }
    /// The value as text: null gives empty text, numbers their shortest decimal form.
    std::string toText() const;

    const std::string& text() const { return std::get<std::string>(m_v); }
    std::int64_t integer() const { return std::get<std::int64_t>(m_v); }
    double real() const { return std::get<double>(m_v); }

    bool operator==(const Value& other) const = default;

private:
    std::variant<std::monostate, std::int64_t, double, std::string> m_v;
};

}  // namespace parlix
