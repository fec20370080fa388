#include "db/pg_connection.h"

#include <libpq-fe.h>

#include <cstdlib>
#include <utility>

#include "db/db_error.h"

namespace parlix {

namespace {

// SQLSTATE of a statement that broke a unique index.
constexpr const char* kUniqueViolation = "23505";

/// libpq's message on one line: its lines joined by blanks.
std::string trimmedError(const char* message) {
    std::string text;
    for (const char* c = message != nullptr ? message : ""; *c != '\0'; ++c) {
        const bool blank = *c == '\n' || *c == '\t' || *c == ' ';
        if (!blank || (!text.empty() && text.back() != ' ')) {
            text += blank ? ' ' : *c;
        }
    }
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text;
}

}  // namespace

PgRows::PgRows(pg_result* result) : m_result(result) {}

PgRows::~PgRows() {
    PQclear(m_result);
}

PgRows::PgRows(PgRows&& other) noexcept : m_result(std::exchange(other.m_result, nullptr)) {}

int PgRows::size() const {
    return PQntuples(m_result);
}

Value PgRows::at(int row, int column) const {
    if (PQgetisnull(m_result, row, column) != 0) {
        return Value();
    }
    return Value(std::string(PQgetvalue(m_result, row, column),
                             static_cast<size_t>(PQgetlength(m_result, row, column))));
}

std::int64_t PgRows::integer(int row, int column) const {
    return std::strtoll(PQgetvalue(m_result, row, column), nullptr, 10);
}

int PgRows::changed() const {
    return std::atoi(PQcmdTuples(m_result));
}

PgConnection::PgConnection(std::string conninfo, long statementTimeoutMs)
    : m_conninfo(std::move(conninfo)), m_statementTimeoutMs(statementTimeoutMs) {}

PgConnection::~PgConnection() {
    close();
}

void PgConnection::open() {
    // The old connection goes, but not the wish to be connected: a connection that broke is
    // tried again by every statement until the server is back.
    if (m_conn != nullptr) {
        PQfinish(m_conn);
        m_conn = nullptr;
    }
    // Defaults first: what the connection string sets itself wins over them. Every wait has an
    // end: the connection, a dead peer's silence, a statement and the locks it waits for.
    const std::string options = "-c statement_timeout=" + std::to_string(m_statementTimeoutMs) +
                                " -c lock_timeout=" + std::to_string(m_statementTimeoutMs) +
                                " -c client_min_messages=warning";
    const char* keywords[] = {"connect_timeout",  "keepalives_idle",  "keepalives_interval",
                              "keepalives_count", "tcp_user_timeout", "application_name",
                              "options",          "dbname",           nullptr};
    const char* values[] = {
        "10", "30", "10", "3", "60000", "parlix", options.c_str(), m_conninfo.c_str(), nullptr};
    m_conn = PQconnectdbParams(keywords, values, 1);
    if (PQstatus(m_conn) != CONNECTION_OK) {
        std::string why = trimmedError(PQerrorMessage(m_conn));
        PQfinish(m_conn);
        m_conn = nullptr;
        throw DbError(kDbUnreachable, "The shared queue cannot be reached: " + why);
    }
    // The server's notices are not this program's to show; its errors come back as DbError.
    PQsetNoticeProcessor(
        m_conn, [](void*, const char*) {}, nullptr);
    m_closed = false;
}

bool PgConnection::isOpen() const {
    return !m_closed;
}

bool PgConnection::connected() const {
    return m_conn != nullptr && PQstatus(m_conn) == CONNECTION_OK;
}

void PgConnection::close() {
    if (m_conn != nullptr) {
        PQfinish(m_conn);
        m_conn = nullptr;
    }
    m_closed = true;
}

PgRows PgConnection::run(const std::string& sql, const std::vector<Value>& params) {
    if (m_closed) {
        throw DbError(kDbNotOpen, "The database connection is not open");
    }
    if (m_conn == nullptr || PQstatus(m_conn) != CONNECTION_OK) {
        // The server went away since the last statement: connect afresh.
        open();
    }
    std::vector<std::string> texts;
    texts.reserve(params.size());
    for (const Value& v : params) {
        texts.push_back(v.toText());
    }
    std::vector<const char*> pointers;
    for (size_t i = 0; i < params.size(); ++i) {
        pointers.push_back(params[i].isNull() ? nullptr : texts[i].c_str());
    }
    PgRows rows(PQexecParams(m_conn, sql.c_str(), static_cast<int>(params.size()), nullptr,
                             pointers.data(), nullptr, nullptr, 0));
    const ExecStatusType status = PQresultStatus(rows.result());
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
        return rows;
    }
    const char* state = PQresultErrorField(rows.result(), PG_DIAG_SQLSTATE);
    const std::string why = trimmedError(PQresultErrorMessage(rows.result()));
    if (PQstatus(m_conn) != CONNECTION_OK) {
        throw DbError(kDbUnreachable, "The shared queue cannot be reached: " + why);
    }
    throw DbError(state != nullptr && std::string(state) == kUniqueViolation ? kDbDuplicateKey
                                                                             : kDbServerError,
                  why);
}

PgTransaction::PgTransaction(PgConnection& db) : m_db(db) {
    m_db.run("BEGIN");
}

PgTransaction::~PgTransaction() {
    // A connection that broke took its transaction with it: nothing is left to roll back.
    if (m_open && m_db.connected()) {
        try {
            m_db.run("ROLLBACK");
        } catch (const DbError&) {
            // The connection is gone; the server has rolled the transaction back with it.
        }
    }
}

void PgTransaction::commit() {
    m_db.run("COMMIT");
    m_open = false;
}

std::string pgArray(const std::vector<Value>& values) {
    std::string out = "{";
    for (const Value& v : values) {
        if (out.size() > 1) {
            out += ',';
        }
        if (v.isNull()) {
            out += "NULL";
            continue;
        }
        out += '"';
        for (char c : v.toText()) {
            if (c == '"' || c == '\\') {
                out += '\\';
            }
            out += c;
        }
        out += '"';
    }
    return out + "}";
}

bool isPostgresTarget(const std::string& target) {
    return target.starts_with("postgresql://") || target.starts_with("postgres://") ||
           target.find('=') != std::string::npos;
}

}  // namespace parlix
