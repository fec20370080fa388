#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "db/value.h"

struct sqlite3_stmt;

namespace parlix {

struct DbHandle;

/// A keyset record set over one table: the set of rows is fixed when it opens, each row's
/// values are read fresh when the cursor reaches it, and a save writes the changed fields back
/// under optimistic locking (it fails when another writer changed them meanwhile).
class Recordset {
public:
    /// Every field of the rows of `table` with the given keys.
    Recordset(std::shared_ptr<DbHandle> handle, std::string table, std::vector<std::int64_t> keys);
    ~Recordset();
    Recordset(const Recordset&) = delete;
    Recordset& operator=(const Recordset&) = delete;

    bool eof() const;
    void moveFirst();
    void moveNext();
    /// Rows in the set, fixed at opening.
    long recordCount() const;
    bool isOpen() const { return m_open; }
    void close();

    /// A field of the current row by name, without regard to case; null when unset.
    Value field(const std::string& name);
    /// Sets a field of the current row; it is written by update().
    void setField(const std::string& name, const Value& value);
    /// Saves the current row's changed fields.
    void update();

    const std::vector<std::string>& columns() const { return m_columns; }

private:
    void load();
    size_t columnIndex(const std::string& name) const;
    void checkOpen() const;
    void finalizeStatements();

    std::shared_ptr<DbHandle> m_handle;
    std::string m_table;
    std::vector<std::int64_t> m_keys;
    std::vector<std::string> m_columns;
    size_t m_pos = 0;
    bool m_open = true;
    bool m_loaded = false;
    bool m_deleted = false;
    std::vector<Value> m_values;
    std::map<size_t, Value> m_changes;
    sqlite3_stmt* m_fetch = nullptr;
    /// Prepared row updates by their text: a sender saves the same fields on every row.
    std::map<std::string, sqlite3_stmt*> m_updates;
};

}  // namespace parlix
