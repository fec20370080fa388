#pragma once

#include <string>
#include <string_view>

namespace parlix {

/// Turns a statement of the program's dialect into one the engine runs:
/// - "select top N ..." becomes "select ... LIMIT N";
/// - in "ALTER TABLE t ADD COLUMN c type", TEXT(n) becomes a text column that compares without
///   regard to case, Date a text column (dates are stored as ISO-8601 text), Number a double;
/// - "CREATE INDEX" indexes its columns without regard to case, so lookups can use it;
/// - every text value or parameter compared in a WHERE clause compares without regard to case,
///   as the statements expect ('queued' is selected by Status='Queued').
/// Column names in square brackets are understood by the engine as they are.
std::string translateStatement(std::string_view sql);

}  // namespace parlix
