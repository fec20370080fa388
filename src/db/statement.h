#pragma once

#include <string>
#include <vector>

#include "db/value.h"

struct sqlite3;
struct sqlite3_stmt;

namespace parlix {

/// One prepared statement of the engine, finalized when it goes.
class Statement {
public:
    /// Prepares the text as it stands (no dialect translation) and binds `params` in order.
    Statement(sqlite3* db, const std::string& sql, const std::vector<Value>& params = {});
    /// Prepares a statement that run() gives its values, once per row.
    static Statement prepared(sqlite3* db, const std::string& sql);
    Statement(Statement&& other) noexcept;
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    /// Runs to the next row: true on a row, false when done; raises on failure.
    bool step();
    /// Runs the statement again from the start with new values, to its end; the number of rows
    /// it changed.
    int run(const std::vector<Value>& params);
    int columnCount() const;
    std::string columnName(int i) const;
    Value column(int i) const;

private:
    Statement(sqlite3* db, const std::string& sql, const std::vector<Value>* params);

    sqlite3* m_db;
    sqlite3_stmt* m_stmt = nullptr;
};

/// Binds values to the `?` marks of a prepared statement; raises on a count mismatch.
void bindValues(sqlite3* db, sqlite3_stmt* stmt, const std::vector<Value>& params);
/// Reads a column of the current row.
Value columnValue(sqlite3_stmt* stmt, int i);
/// The DbError for the engine's last failure on `db`.
[[noreturn]] void raiseEngineError(sqlite3* db, int rc, const std::string& context);

}  // namespace parlix
