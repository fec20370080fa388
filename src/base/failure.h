#pragma once

#include <stdexcept>
#include <string>

namespace parlix {

/// A failure of the world outside the program: the database, a transfer, a file, the system.
/// Steps that go on after a failure catch this and nothing wider, so a logic error (a misspelt
/// element name, an index out of range) is never swallowed and reaches the top-level handler.
class OutsideFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// A file or folder that cannot be read or written.
class FileError : public OutsideFailure {
public:
    FileError(int code, const std::string& message) : OutsideFailure(message), m_code(code) {}
    /// The system's error number (errno).
    int code() const { return m_code; }

private:
    int m_code;
};

}  // namespace parlix
