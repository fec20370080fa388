#include "db/recordset.h"

#include <sqlite3.h>

#include "base/text.h"
#include "db/connection.h"
#include "db/db_error.h"
#include "db/statement.h"

namespace parlix {

namespace {

std::string quoteIdentifier(const std::string& name) {
    std::string out(1, '"');
    for (char c : name) {
        if (c == '"') {
            out += '"';
        }
        out += c;
    }
    out += '"';
    return out;
}

}  // namespace

Recordset::Recordset(std::shared_ptr<DbHandle> handle, std::string table,
                     std::vector<std::int64_t> keys)
    : m_handle(std::move(handle)), m_table(std::move(table)), m_keys(std::move(keys)) {
    std::string sql = "SELECT * FROM " + quoteIdentifier(m_table) + " WHERE rowid=?";
    int rc = sqlite3_prepare_v2(m_handle->db, sql.c_str(), -1, &m_fetch, nullptr);
    if (rc != SQLITE_OK) {
        raiseEngineError(m_handle->db, rc, sql);
    }
    for (int i = 0; i < sqlite3_column_count(m_fetch); ++i) {
        m_columns.emplace_back(sqlite3_column_name(m_fetch, i));
    }
}

Recordset::~Recordset() {
    finalizeStatements();
}

void Recordset::finalizeStatements() {
    // Statements left unfinalized would keep the engine's connection open after its close.
    sqlite3_finalize(m_fetch);
    m_fetch = nullptr;
    for (auto& [sql, stmt] : m_updates) {
        sqlite3_finalize(stmt);
    }
    m_updates.clear();
}

void Recordset::checkOpen() const {
    if (!m_open || m_handle->db == nullptr) {
        throw DbError(kDbNotOpen, "The record set is closed");
    }
}

bool Recordset::eof() const {
    checkOpen();
    return m_pos >= m_keys.size();
}

void Recordset::moveFirst() {
    checkOpen();
    m_pos = 0;
    m_loaded = false;
    m_changes.clear();
}

void Recordset::moveNext() {
    checkOpen();
    if (m_pos >= m_keys.size()) {
        throw DbError(kDbNoCurrentRow,
                      "Either the beginning or the end of the record set has "
                      "been reached; there is no current row");
    }
    ++m_pos;
    m_loaded = false;
    m_changes.clear();
}

long Recordset::recordCount() const {
    checkOpen();
    return static_cast<long>(m_keys.size());
}

void Recordset::close() {
    checkOpen();
    m_open = false;
    finalizeStatements();
}

void Recordset::load() {
    checkOpen();
    if (m_pos >= m_keys.size()) {
        throw DbError(kDbNoCurrentRow, "There is no current row");
    }
    if (m_loaded) {
        return;
    }
    sqlite3_reset(m_fetch);
    sqlite3_bind_int64(m_fetch, 1, m_keys[m_pos]);
    int rc = sqlite3_step(m_fetch);
    m_values.assign(m_columns.size(), Value());
    if (rc == SQLITE_ROW) {
        for (size_t i = 0; i < m_columns.size(); ++i) {
            m_values[i] = columnValue(m_fetch, static_cast<int>(i));
        }
        m_deleted = false;
    } else if (rc == SQLITE_DONE) {
        m_deleted = true;
    } else {
        raiseEngineError(m_handle->db, rc, "reading a row of " + m_table);
    }
    sqlite3_reset(m_fetch);
    m_loaded = true;
}

size_t Recordset::columnIndex(const std::string& name) const {
    for (size_t i = 0; i < m_columns.size(); ++i) {
        if (iequals(m_columns[i], name)) {
            return i;
        }
    }
    throw DbError(kDbNoSuchField,
                  "Item '" + name + "' cannot be found in the record set of " + m_table);
}

Value Recordset::field(const std::string& name) {
    size_t i = columnIndex(name);
    load();
    if (m_deleted) {
        throw DbError(kDbRowDeleted, "The current row of " + m_table + " has been deleted");
    }
    auto change = m_changes.find(i);
    return change != m_changes.end() ? change->second : m_values[i];
}

void Recordset::setField(const std::string& name, const Value& value) {
    size_t i = columnIndex(name);
    load();
    if (m_deleted) {
        throw DbError(kDbRowDeleted, "The current row of " + m_table + " has been deleted");
    }
    m_changes[i] = value;
}

void Recordset::update() {
    load();
    if (m_changes.empty()) {
        return;
    }
    std::string sets;
    std::string checks;
    std::vector<Value> params;
    for (const auto& [i, v] : m_changes) {
        sets += (sets.empty() ? "" : ", ") + quoteIdentifier(m_columns[i]) + "=?";
        params.push_back(v);
    }
    params.emplace_back(static_cast<std::int64_t>(m_keys[m_pos]));
    // Optimistic locking: the row is written only if the fields being changed still hold what
    // this record set read.
    for (const auto& [i, v] : m_changes) {
        checks += " AND " + quoteIdentifier(m_columns[i]) + " IS ?";
        params.push_back(m_values[i]);
    }
    std::string sql =
        "UPDATE " + quoteIdentifier(m_table) + " SET " + sets + " WHERE rowid=?" + checks;
    sqlite3_stmt*& stmt = m_updates[sql];
    if (stmt == nullptr) {
        int rc = sqlite3_prepare_v2(m_handle->db, sql.c_str(), -1, &stmt, nullptr);
        if (rc != SQLITE_OK) {
            m_updates.erase(sql);
            raiseEngineError(m_handle->db, rc, sql);
        }
    }
    sqlite3_reset(stmt);
    bindValues(m_handle->db, stmt, params);
    int rc = sqlite3_step(stmt);
    sqlite3_reset(stmt);
    if (rc != SQLITE_DONE) {
        raiseEngineError(m_handle->db, rc, sql);
    }
    if (sqlite3_changes(m_handle->db) != 1) {
        m_loaded = false;
        m_changes.clear();
        throw DbError(kDbRowChanged,
                      "Row cannot be located for updating: another writer changed or deleted it "
                      "since it was read");
    }
    m_changes.clear();
    m_loaded = false;
}

}  // namespace parlix
