#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/value.h"

struct pg_conn;
struct pg_result;

namespace parlix {

/// The rows a statement returned, as text; a NULL field is a null Value.
class PgRows {
public:
    explicit PgRows(pg_result* result);
    ~PgRows();
    PgRows(PgRows&& other) noexcept;
    PgRows(const PgRows&) = delete;
    PgRows& operator=(const PgRows&) = delete;
    PgRows& operator=(PgRows&&) = delete;

    int size() const;
    Value at(int row, int column) const;
    /// A field that holds a whole number.
    std::int64_t integer(int row, int column) const;
    /// The rows a statement without RETURNING changed.
    int changed() const;
    pg_result* result() const { return m_result; }

private:
    pg_result* m_result;
};

/// A connection to a PostgreSQL server through libpq. A connection that broke (the server
/// restarted, the network cut it) is opened again by the next statement. Everything it cannot do
/// raises DbError; what it raises never holds the password.
class PgConnection {
public:
    /// `conninfo` is a libpq connection string or URI; its password may also come from
    /// ~/.pgpass, PGPASSFILE or a service file, as libpq reads them. `statementTimeoutMs` bounds
    /// every statement, lock waits included.
    PgConnection(std::string conninfo, long statementTimeoutMs);
    ~PgConnection();
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    /// Connects now; raises DbError naming why not.
    void open();
    bool isOpen() const;
    /// Whether the connection is up now: false after the server went away, until the next
    /// statement connects afresh.
    bool connected() const;
    void close();

    const std::string& conninfo() const { return m_conninfo; }
    long statementTimeoutMs() const { return m_statementTimeoutMs; }

    /// Runs one statement with its values bound to $1, $2, ...; raises DbError.
    PgRows run(const std::string& sql, const std::vector<Value>& params = {});

private:
    std::string m_conninfo;
    long m_statementTimeoutMs;
    pg_conn* m_conn = nullptr;
    bool m_closed = true;
};

/// A write transaction that rolls back unless committed.
class PgTransaction {
public:
    explicit PgTransaction(PgConnection& db);
    ~PgTransaction();
    PgTransaction(const PgTransaction&) = delete;
    PgTransaction& operator=(const PgTransaction&) = delete;
    void commit();

private:
    PgConnection& m_db;
    bool m_open = true;
};

/// A PostgreSQL array literal of the values, for one parameter that unnest() spreads over rows.
std::string pgArray(const std::vector<Value>& values);

/// Whether `target` names a PostgreSQL database (a postgresql:// or postgres:// URI, or a libpq
/// "key=value" connection string) rather than a database file.
bool isPostgresTarget(const std::string& target);

}  // namespace parlix
