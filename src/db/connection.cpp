#include "db/connection.h"

#include <dirent.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include "base/text.h"
#include "db/db_error.h"
#include "db/statement.h"

namespace parlix {

namespace {

// Writers outside this program fill the queue at the same time; a locked database is waited
// for this long before a statement gives up.
constexpr long kBusyTimeoutMs = 15000;

bool fileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

struct ConnectionText {
    std::string dsn;
    std::string dataSource;
    std::string password;
};

ConnectionText parseConnectionText(const std::string& text) {
    ConnectionText out;
    bool any = false;
    for (const std::string& part : split(text, ";")) {
        size_t eq = part.find('=');
        if (eq == std::string::npos) {
            if (!trimSpaces(part).empty()) {
                throw DbError(kDbBadConnectionText,
                              "The connection text has an entry without a value: " + part);
            }
            continue;
        }
        std::string key = toLower(trimSpaces(part.substr(0, eq)));
        std::string value = part.substr(eq + 1);
        if (key == "dsn") {
            out.dsn = trimSpaces(value);
            any = true;
        } else if (key == "data source") {
            out.dataSource = value;
            any = true;
        } else if (key == "jet oledb:database password") {
            out.password = value;
        }
    }
    if (!any) {
        throw DbError(kDbBadConnectionText,
                      "The connection text names neither a data source nor a database file");
    }
    return out;
}

}  // namespace

DbHandle::~DbHandle() {
    if (db != nullptr) {
        sqlite3_close_v2(db);
    }
}

std::string findFileIgnoringCase(const std::string& path) {
    std::string p = replaceAll(path, "\\", "/");
    if (fileExists(p)) {
        return p;
    }
    size_t slash = p.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".")
                               : slash == 0               ? std::string("/")
                                                          : p.substr(0, slash);
    const std::string name = slash == std::string::npos ? p : p.substr(slash + 1);
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return p;
    }
    std::string found;
    while (dirent* e = ::readdir(dir)) {
        if (iequals(e->d_name, name)) {
            found = (folder == "/" ? "" : folder) + "/" + e->d_name;
            break;
        }
    }
    ::closedir(dir);
    return found.empty() ? p : found;
}

Connection::Connection(DataSourceResolver resolver)
    : m_resolver(std::move(resolver)), m_busyTimeoutMs(kBusyTimeoutMs) {}

Connection::~Connection() = default;

void Connection::open(const std::string& connectionText, const std::string& user,
                      const std::string& password) {
    if (!user.empty() || !password.empty()) {
        throw DbError(kDbBadConnectionText,
                      "The database takes no user name or password of its own");
    }
    ConnectionText ct = parseConnectionText(connectionText);
    if (!ct.dsn.empty()) {
        if (!m_resolver) {
            throw DbError(kDbDataSourceMissing, "Data source '" + ct.dsn + "' is not registered");
        }
        Result<DataSource> ds = m_resolver(ct.dsn);
        if (!ds) {
            throw DbError(kDbDataSourceMissing, ds.error().message);
        }
        openFile(findFileIgnoringCase(ds.value().path), ds.value().password);
        return;
    }
    openFile(findFileIgnoringCase(ct.dataSource), ct.password);
}

void Connection::openFile(const std::string& path, const std::string& key) {
    close();
    if (!fileExists(path)) {
        throw DbError(kDbCannotOpen, "Could not find the database file '" + path + "'");
    }
    auto handle = std::make_shared<DbHandle>();
    int rc = sqlite3_open_v2(path.c_str(), &handle->db, SQLITE_OPEN_READWRITE, nullptr);
    if (rc != SQLITE_OK) {
        raiseEngineError(handle->db, rc, path);
    }
    sqlite3_extended_result_codes(handle->db, 0);
    if (!key.empty()) {
        sqlite3_key(handle->db, key.data(), static_cast<int>(key.size()));
    }
    sqlite3_busy_timeout(handle->db, static_cast<int>(m_busyTimeoutMs));
    try {
        Statement probe(handle->db, "SELECT count(*) FROM sqlite_master");
        probe.step();
    } catch (const DbError& e) {
        if (e.number() == kDbNotADatabase) {
            throw DbError(kDbNotADatabase, "The database password is wrong, or '" + path +
                                               "' is not a database file");
        }
        throw;
    }
    // Every page read from the file is decrypted and checked; a larger cache keeps the queue's
    // pages and its status index in memory between ticks. A commit returns once the disk holds
    // it.
    for (const char* pragma : {"PRAGMA cache_size=-32768", "PRAGMA synchronous=FULL"}) {
        Statement st(handle->db, pragma);
        st.step();
    }
    m_handle = std::move(handle);
    m_path = path;
    m_key = key;
}

bool Connection::isOpen() const {
    return m_handle && m_handle->db != nullptr;
}

void Connection::close() {
    if (m_handle && m_handle->db != nullptr) {
        sqlite3_close_v2(m_handle->db);
        m_handle->db = nullptr;
    }
    m_handle.reset();
}

sqlite3* Connection::handle() const {
    if (!isOpen()) {
        throw DbError(kDbNotOpen, "The database connection is not open");
    }
    return m_handle->db;
}

int Connection::execute(const std::string& sql, const std::vector<Value>& params) {
    sqlite3* db = handle();
    Statement st(db, sql, params);
    while (st.step()) {
    }
    return sqlite3_changes(db);
}

Value Connection::scalar(const std::string& sql, const std::vector<Value>& params) {
    Statement st(handle(), sql, params);
    return st.step() && st.columnCount() > 0 ? st.column(0) : Value();
}

std::int64_t Connection::lastInsertId() const {
    return sqlite3_last_insert_rowid(handle());
}

void Connection::beginTrans() {
    execute("BEGIN IMMEDIATE");
}

void Connection::commitTrans() {
    execute("COMMIT");
}

void Connection::rollbackTrans() {
    execute("ROLLBACK");
}

std::unique_ptr<Connection> createDatabaseFile(const std::string& path, const std::string& key) {
    if (fileExists(path)) {
        throw DbError(kDbCannotOpen, "'" + path + "' already exists");
    }
    sqlite3* raw = nullptr;
    int rc =
        sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    {
        DbHandle guard;
        guard.db = raw;
        if (rc != SQLITE_OK) {
            raiseEngineError(raw, rc, path);
        }
        if (!key.empty()) {
            sqlite3_key(raw, key.data(), static_cast<int>(key.size()));
        }
        {
            Statement wal(raw, "PRAGMA journal_mode=WAL");
            wal.step();
        }
    }
    auto conn = std::make_unique<Connection>();
    conn->openFile(path, key);
    return conn;
}

}  // namespace parlix
