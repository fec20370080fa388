#include "db/statement.h"

#include <sqlite3.h>

#include <utility>

#include "db/db_error.h"

namespace parlix {

void raiseEngineError(sqlite3* db, int rc, const std::string& context) {
    std::string msg = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    throw DbError(rc & 0xFF, msg + (context.empty() ? "" : " (" + context + ")"));
}

void bindValues(sqlite3* db, sqlite3_stmt* stmt, const std::vector<Value>& params) {
    if (sqlite3_bind_parameter_count(stmt) != static_cast<int>(params.size())) {
        throw DbError(kDbBadQuery, "The statement expects " +
                                       std::to_string(sqlite3_bind_parameter_count(stmt)) +
                                       " values but was given " + std::to_string(params.size()));
    }
    for (size_t i = 0; i < params.size(); ++i) {
        int idx = static_cast<int>(i) + 1;
        const Value& v = params[i];
        int rc = SQLITE_OK;
        if (v.isNull()) {
            rc = sqlite3_bind_null(stmt, idx);
        } else if (v.isInteger()) {
            rc = sqlite3_bind_int64(stmt, idx, v.integer());
        } else if (v.isDouble()) {
            rc = sqlite3_bind_double(stmt, idx, v.real());
        } else {
            rc = sqlite3_bind_text(stmt, idx, v.text().data(), static_cast<int>(v.text().size()),
                                   SQLITE_TRANSIENT);
        }
        if (rc != SQLITE_OK) {
            raiseEngineError(db, rc, "binding a value");
        }
    }
}

Value columnValue(sqlite3_stmt* stmt, int i) {
    switch (sqlite3_column_type(stmt, i)) {
        case SQLITE_NULL:
            return Value();
        case SQLITE_INTEGER:
            return Value(static_cast<std::int64_t>(sqlite3_column_int64(stmt, i)));
        case SQLITE_FLOAT:
            return Value(sqlite3_column_double(stmt, i));
        default: {
            const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
            return Value(std::string(p != nullptr ? p : "",
                                     static_cast<size_t>(sqlite3_column_bytes(stmt, i))));
        }
    }
}

Statement::Statement(sqlite3* db, const std::string& sql, const std::vector<Value>& params)
    : Statement(db, sql, &params) {}

Statement Statement::prepared(sqlite3* db, const std::string& sql) {
    return Statement(db, sql, nullptr);
}

Statement::Statement(Statement&& other) noexcept
    : m_db(other.m_db), m_stmt(std::exchange(other.m_stmt, nullptr)) {}

Statement::Statement(sqlite3* db, const std::string& sql, const std::vector<Value>* params)
    : m_db(db) {
    int rc = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &m_stmt, nullptr);
    if (rc != SQLITE_OK) {
        raiseEngineError(db, rc, sql);
    }
    if (m_stmt == nullptr) {
        throw DbError(kDbBadQuery, "The statement is empty");
    }
    try {
        if (params != nullptr) {
            bindValues(db, m_stmt, *params);
        }
    } catch (const DbError&) {
        // The destructor does not run for a constructor that throws.
        sqlite3_finalize(m_stmt);
        throw;
    }
}

Statement::~Statement() {
    sqlite3_finalize(m_stmt);
}

bool Statement::step() {
    int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW) {
        return true;
    }
    if (rc == SQLITE_DONE) {
        return false;
    }
    raiseEngineError(m_db, rc, sqlite3_sql(m_stmt));
}

int Statement::run(const std::vector<Value>& params) {
    sqlite3_reset(m_stmt);
    bindValues(m_db, m_stmt, params);
    while (step()) {
    }
    return sqlite3_changes(m_db);
}

int Statement::columnCount() const {
    return sqlite3_column_count(m_stmt);
}

std::string Statement::columnName(int i) const {
    return sqlite3_column_name(m_stmt, i);
}

Value Statement::column(int i) const {
    return columnValue(m_stmt, i);
}

}  // namespace parlix
