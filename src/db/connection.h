#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/result.h"
#include "db/value.h"

struct sqlite3;

namespace parlix {

/// Where a data source name points: the database file and its password.
struct DataSource {
    std::string path;
    std::string password;
};

/// Looks a data source name up; an Error when it is missing or broken.
using DataSourceResolver = std::function<Result<DataSource>(const std::string& name)>;

/// The open database handle.
struct DbHandle {
    sqlite3* db = nullptr;
    ~DbHandle();
};

/// A connection to an encrypted database file. Everything it cannot do raises DbError.
class Connection {
public:
    explicit Connection(DataSourceResolver resolver = {});
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    /// Opens by connection text: "DSN=<name>", or the file-provider form with "Data Source=" (a
    /// path, `\` or `/` separated, whose file name may differ in case) and
    /// "Jet OLEDB:Database Password=". User name and password must be empty.
    void open(const std::string& connectionText, const std::string& user = "",
              const std::string& password = "");
    /// Opens an existing file with its key.
    void openFile(const std::string& path, const std::string& key);
    bool isOpen() const;
    void close();
    /// How long a statement waits for another writer's lock before it fails; from the next
    /// open on.
    void setBusyTimeout(long ms) { m_busyTimeoutMs = ms; }

    /// Runs a statement with its values bound to the `?` marks; the number of rows changed.
    int execute(const std::string& sql, const std::vector<Value>& params = {});
    /// The first column of the first row of a query, or null.
    Value scalar(const std::string& sql, const std::vector<Value>& params = {});
    /// The key of the row the last INSERT added.
    std::int64_t lastInsertId() const;

    void beginTrans();
    void commitTrans();
    void rollbackTrans();

    /// The engine's handle, for checks such as integrity tests.
    sqlite3* handle() const;
    /// The file and key of the last open, to open another connection to the same file.
    const std::string& path() const { return m_path; }
    const std::string& key() const { return m_key; }
    long busyTimeoutMs() const { return m_busyTimeoutMs; }

private:
    DataSourceResolver m_resolver;
    std::shared_ptr<DbHandle> m_handle;
    long m_busyTimeoutMs;
    std::string m_path;
    std::string m_key;
};

/// Finds a file whose name matches the last component of `path` without regard to case, in the
/// folder the path names; `\` separators are read as `/`. The exact name wins when present.
std::string findFileIgnoringCase(const std::string& path);

/// Creates an empty encrypted file with the given key, in WAL mode. Raises when it exists.
std::unique_ptr<Connection> createDatabaseFile(const std::string& path, const std::string& key);

}  // namespace parlix
