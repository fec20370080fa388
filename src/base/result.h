#pragma once

#include <string>
#include <utility>
#include <variant>

namespace parlix {

/// A failure a caller is expected to handle: a number and a text an operator can act on.
struct Error {
    long code = 0;
    std::string message;
};

/// A value or an Error.
template <typename T>
class Result {
public:
    Result(T value) : m_state(std::move(value)) {}      // NOLINT: implicit by design
    Result(Error error) : m_state(std::move(error)) {}  // NOLINT

    bool ok() const { return std::holds_alternative<T>(m_state); }
    explicit operator bool() const { return ok(); }
    const T& value() const& { return std::get<T>(m_state); }
    T&& value() && { return std::get<T>(std::move(m_state)); }
    const Error& error() const { return std::get<Error>(m_state); }

private:
    std::variant<T, Error> m_state;
};

}  // namespace parlix
