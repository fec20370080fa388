#pragma once

#include <string>

#include "base/failure.h"

namespace parlix {

/// Error numbers of the database layer. Failures that come from the engine carry its own result
/// code instead (for example 26 when the file is not a database or the password is wrong).
enum DbErrorNumber : long {
    kDbCannotOpen = 14,
    kDbNotADatabase = 26,
    kDbDataSourceMissing = 3001,
    kDbBadConnectionText = 3002,
    kDbNotOpen = 3003,
    kDbRowChanged = 3004,
    kDbBadQuery = 3005,
    kDbRowDeleted = 3006,
    kDbNoCurrentRow = 3007,
    kDbNoSuchField = 3008,
    kDbUnreachable = 3009,
    kDbServerError = 3010,
    kDbClaimLost = 3011,
    kDbDuplicateKey = 3012,
};

/// What the database layer raises: a number and a description an operator can act on.
class DbError : public OutsideFailure {
public:
    DbError(long number, const std::string& description)
        : OutsideFailure(description), m_number(number) {}
    long number() const { return m_number; }
    std::string description() const { return what(); }

private:
    long m_number;
};

}  // namespace parlix
