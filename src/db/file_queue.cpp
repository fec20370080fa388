#include "db/file_queue.h"

#include "db/connection.h"
#include "db/db_error.h"
#include "db/statement.h"
#include "db/transaction.h"

namespace parlix {

namespace {

// Text columns compare without regard to case, as the outside software's own database did;
// dates are ISO-8601 text.
constexpr const char* kUpgradeStatements[] = {
    "ALTER TABLE ClientMaster ADD COLUMN BirthDate TEXT",
    "ALTER TABLE ClientMaster ADD COLUMN Anniversary TEXT",
    "ALTER TABLE ClientMaster ADD COLUMN smsbirth TEXT COLLATE NOCASE",
    "ALTER TABLE ClientMaster ADD COLUMN smsAnni TEXT COLLATE NOCASE",
    "ALTER TABLE ProxyConfig ADD COLUMN User1 TEXT COLLATE NOCASE",
    "ALTER TABLE ProxyConfig ADD COLUMN Pass1 TEXT COLLATE NOCASE",
    "ALTER TABLE ProxyConfig ADD COLUMN IPNO TEXT COLLATE NOCASE",
    "ALTER TABLE ProxyConfig ADD COLUMN IPAddress TEXT COLLATE NOCASE",
    "ALTER TABLE MessageQueue ADD COLUMN MessageID TEXT COLLATE NOCASE",
    "ALTER TABLE MessageQueue ADD COLUMN DeliverID TEXT COLLATE NOCASE",
    "ALTER TABLE MessageQueue ADD COLUMN DeliverStatus TEXT COLLATE NOCASE",
    "ALTER TABLE MessageQueue ADD COLUMN SMSType TEXT COLLATE NOCASE",
    "ALTER TABLE MessageQueue ADD COLUMN DeliverDateTime TEXT",
    "ALTER TABLE MessageQueue ADD COLUMN DeliverReason TEXT COLLATE NOCASE",
    "ALTER TABLE MessageQueue ADD COLUMN SMSCount REAL",
    "CREATE INDEX MessageID_IDX ON MessageQueue (MessageID COLLATE NOCASE)",
};

constexpr const char* kCreateStatements[] = {
    "CREATE TABLE MessageQueue (ID INTEGER PRIMARY KEY AUTOINCREMENT, Message TEXT, "
    "Mobileno TEXT, Status TEXT, DelDate TEXT, QDateTime TEXT)",
    "CREATE INDEX MessageQueue_Status ON MessageQueue (Status COLLATE NOCASE)",
    "CREATE TABLE ProxyConfig (comport TEXT)",
    "INSERT INTO ProxyConfig (comport) VALUES (NULL)",
    "CREATE TABLE ClientMaster (ClientID INTEGER PRIMARY KEY AUTOINCREMENT, ClientName TEXT, "
    "Mobileno TEXT)",
};

constexpr const char* kSettleRow =
    "UPDATE MessageQueue SET Status = ? WHERE rowid = ? AND Status = ? COLLATE NOCASE";
constexpr const char* kSettleAllTaken =
    "UPDATE MessageQueue SET Status = ? WHERE Status = ? COLLATE NOCASE";

Value text(Status status) {
    return std::string(statusText(status));
}

/// The values of the first row of a ProxyConfig query; a DbError when the table has no row.
std::vector<Value> firstRow(Connection& db, const std::string& sql, const char* what) {
    Statement st(db.handle(), sql);
    if (!st.step()) {
        throw DbError(kDbNoCurrentRow, std::string("ProxyConfig has no row to hold ") + what);
    }
    std::vector<Value> row;
    for (int i = 0; i < st.columnCount(); ++i) {
        row.push_back(st.column(i));
    }
    return row;
}

/// Queues messages in the open transaction; their keys.
std::vector<std::int64_t> insertRows(Connection& db,
                                     const std::vector<std::pair<Value, Value>>& messages) {
    Statement st = Statement::prepared(
        db.handle(), "INSERT INTO MessageQueue (Mobileno, Message, Status) VALUES (?, ?, ?)");
    std::vector<std::int64_t> keys;
    for (const auto& [mobile, message] : messages) {
        st.run({mobile, message, text(Status::Queued)});
        keys.push_back(db.lastInsertId());
    }
    return keys;
}

/// Moves the taken rows among `keys` to `to`, in the open transaction; the rows moved.
int settleKeys(Connection& db, const std::vector<std::int64_t>& keys, Status to) {
    Statement st = Statement::prepared(db.handle(), kSettleRow);
    int moved = 0;
    for (std::int64_t key : keys) {
        moved += st.run({text(to), key, text(Status::Read)});
    }
    return moved;
}

}  // namespace

FileQueue::FileQueue(std::unique_ptr<Connection> db, const std::string& programFolder)
    : m_owned(std::move(db)),
      m_db(*m_owned),
      m_programFolder(programFolder),
      m_marker(programFolder) {}

FileQueue::FileQueue(Connection& db, const std::string& programFolder)
    : m_db(db), m_programFolder(programFolder), m_marker(programFolder) {}

FileQueue::~FileQueue() = default;

bool FileQueue::isOpen() const {
    return m_db.isOpen();
}

void FileQueue::close() {
    m_db.close();
}

std::function<std::unique_ptr<MessageQueue>()> FileQueue::opener() const {
    return [path = m_db.path(), key = m_db.key(), timeout = m_db.busyTimeoutMs(),
            folder = m_programFolder]() -> std::unique_ptr<MessageQueue> {
        auto db = std::make_unique<Connection>();
        db->setBusyTimeout(timeout);
        db->openFile(path, key);
        return std::make_unique<FileQueue>(std::move(db), folder);
    };
}

bool FileQueue::hasQueued() {
    return m_db.scalar("SELECT EXISTS (SELECT 1 FROM MessageQueue WHERE Status = ? COLLATE NOCASE)",
                       {text(Status::Queued)})
               .integer() != 0;
}

long FileQueue::countQueued(long limit) {
    return static_cast<long>(
        m_db.scalar("SELECT count(*) FROM (SELECT 1 FROM MessageQueue WHERE Status = ? COLLATE "
                    "NOCASE LIMIT ?)",
                    {text(Status::Queued), static_cast<std::int64_t>(limit)})
            .integer());
}

Batch FileQueue::takeBatch(long limit, const Chooser& choose) {
    // The write lock is taken before the rows are chosen: no other writer can change them
    // between the choice and the marks.
    Transaction tx(m_db);
    std::vector<QueuedRow> offered;
    {
        Statement st(m_db.handle(),
                     "SELECT rowid, Mobileno, Message FROM MessageQueue WHERE Status = ? COLLATE "
                     "NOCASE ORDER BY rowid LIMIT ?",
                     {text(Status::Queued), static_cast<std::int64_t>(limit)});
        while (st.step()) {
            offered.push_back({st.column(0).integer(), st.column(1), st.column(2)});
        }
    }
    const std::vector<RowTaken> taken = choose(offered);
    checkOffered(offered, taken);
    Statement read = Statement::prepared(
        m_db.handle(),
        "UPDATE MessageQueue SET MessageID = ?, SmsType = ?, DelDate = ?, QDateTime = ?, Status "
        "= ? WHERE rowid = ? AND Status = ? COLLATE NOCASE");
    Statement other = Statement::prepared(m_db.handle(),
                                          "UPDATE MessageQueue SET QDateTime = ?, Status = ? "
                                          "WHERE rowid = ? AND Status = ? COLLATE NOCASE");
    Batch batch;
    for (const RowTaken& row : taken) {
        const Value queued = text(Status::Queued);
        int changed = row.status == Status::Read
                          ? read.run({row.messageId, row.smsType, row.delDate, row.qDateTime,
                                      text(Status::Read), row.key, queued})
                          : other.run({row.qDateTime, text(row.status), row.key, queued});
        if (changed != 1) {
            throw DbError(kDbRowChanged, "Row cannot be located for updating: row " +
                                             std::to_string(row.key) +
                                             " was not offered or is not queued");
        }
        if (row.status == Status::Read) {
            batch.keys.push_back(row.key);
        }
    }
    tx.commit();
    return batch;
}

void FileQueue::markReaching(Batch& batch, const std::string& name) {
    m_marker.write(name, batch.keys);
    batch.reaching = true;
}

int FileQueue::settleBatch(const Batch& batch, Status to) {
    int moved = 0;
    if (!batch.keys.empty()) {
        Transaction tx(m_db);
        moved = settleKeys(m_db, batch.keys, to);
        tx.commit();
    }
    m_marker.clear();
    return moved;
}

Interrupted FileQueue::settleInterrupted(Status reached) {
    const std::optional<BatchMarker::Note> note = m_marker.read();
    Interrupted out;
    {
        Transaction tx(m_db);
        if (note) {
            out.marked = true;
            out.reached = note->keys
                              ? settleKeys(m_db, *note->keys, reached)
                              : m_db.execute(kSettleAllTaken, {text(reached), text(Status::Read)});
        }
        out.requeued = m_db.execute(kSettleAllTaken, {text(Status::Queued), text(Status::Read)});
        tx.commit();
    }
    if (note) {
        try {
            m_marker.clear();
        } catch (const FileError& e) {
            out.markerKept = e.what();
        }
    }
    return out;
}

std::vector<std::string> FileQueue::messageIdsStartingWith(const std::string& prefix) {
    // LIKE narrows the search through the index; '%' and '_' in the prefix only widen it, so the
    // exact test below has the last word.
    std::vector<std::string> ids;
    Statement st(m_db.handle(), "SELECT MessageID FROM MessageQueue WHERE MessageID LIKE ?",
                 {prefix + "%"});
    while (st.step()) {
        std::string id = st.column(0).toText();
        if (id.compare(0, prefix.size(), prefix) == 0) {
            ids.push_back(std::move(id));
        }
    }
    return ids;
}

int FileQueue::applyReports(const std::vector<DeliveryReport>& reports) {
    Transaction tx(m_db);
    Statement st = Statement::prepared(m_db.handle(),
                                       "UPDATE MessageQueue SET DeliverStatus = ?, DeliverReason "
                                       "= ?, DeliverDateTime = ? WHERE MessageID = ? COLLATE "
                                       "NOCASE");
    int written = 0;
    for (const DeliveryReport& r : reports) {
        written += st.run({r.status, r.reason, r.time, r.messageId});
    }
    tx.commit();
    return written;
}

SavedLogin FileQueue::savedLogin() {
    std::vector<Value> row = firstRow(
        m_db, "SELECT user1, pass1, IPNO, IPAddress FROM ProxyConfig ORDER BY rowid LIMIT 1",
        "a login");
    return SavedLogin{row[0], row[1], row[2], row[3]};
}

void FileQueue::saveLogin(const std::string& userId, const std::string& password,
                          const std::string& serverNo, const std::string& serverHost) {
    m_db.execute("UPDATE ProxyConfig SET user1 = ?, pass1 = ?, IPNO = ?, IPAddress = ?",
                 {userId, password, serverNo, serverHost});
}

Value FileQueue::installationNumber() {
    return firstRow(m_db, "SELECT comport FROM ProxyConfig ORDER BY rowid LIMIT 1",
                    "the installation number")[0];
}

bool FileQueue::storeInstallationNumber(const std::string& number) {
    int changed = m_db.execute(
        "UPDATE ProxyConfig SET comport = ? WHERE rowid = (SELECT min(rowid) FROM ProxyConfig) "
        "AND (comport IS NULL OR trim(comport) = '')",
        {number});
    if (changed != 1) {
        throw DbError(kDbRowChanged,
                      "Row cannot be located for updating: another writer set the installation "
                      "number since it was read");
    }
    return true;
}

std::int64_t FileQueue::enqueue(const Value& mobile, const Value& message) {
    return enqueueAll({{mobile, message}}).front();
}

std::vector<std::int64_t> FileQueue::enqueueAll(
    const std::vector<std::pair<Value, Value>>& messages) {
    Transaction tx(m_db);
    std::vector<std::int64_t> keys = insertRows(m_db, messages);
    tx.commit();
    return keys;
}

long FileQueue::count(const std::optional<std::string>& status) {
    Value n = status ? m_db.scalar(
                           "SELECT count(*) FROM MessageQueue WHERE Status = ? COLLATE "
                           "NOCASE",
                           {*status})
                     : m_db.scalar("SELECT count(*) FROM MessageQueue");
    return static_cast<long>(n.integer());
}

std::map<std::string, long> FileQueue::countByStatus() {
    std::map<std::string, long> counts;
    Statement st(m_db.handle(),
                 "SELECT Status, count(*) FROM MessageQueue GROUP BY Status COLLATE BINARY");
    while (st.step()) {
        counts[st.column(0).toText()] += static_cast<long>(st.column(1).integer());
    }
    return counts;
}

std::vector<QueueRow> FileQueue::list(const std::optional<std::string>& status, long limit) {
    std::vector<Value> params;
    std::string sql = "SELECT rowid, Status, Mobileno, Message FROM MessageQueue";
    if (status) {
        sql += " WHERE Status = ? COLLATE NOCASE";
        params.emplace_back(*status);
    }
    sql += " ORDER BY rowid LIMIT ?";
    params.emplace_back(static_cast<std::int64_t>(limit));
    std::vector<QueueRow> rows;
    Statement st(m_db.handle(), sql, params);
    while (st.step()) {
        rows.push_back({st.column(0).integer(), st.column(1).toText(), st.column(2).toText(),
                        st.column(3).toText()});
    }
    return rows;
}

void FileQueue::makeRequestKeys() {
    m_db.execute(
        "CREATE TABLE IF NOT EXISTS IdempotencyKey (KeyText TEXT PRIMARY KEY, Fingerprint TEXT NOT "
        "NULL, Answer TEXT NOT NULL, CreatedAt TEXT NOT NULL)");
    m_db.execute(
        "CREATE INDEX IF NOT EXISTS IdempotencyKey_CreatedAt ON IdempotencyKey (CreatedAt)");
}

std::vector<RequestOutcome> FileQueue::queueRequests(
    const std::vector<QueueRequest>& requests, const std::string& now, const std::string& notBefore,
    const std::function<std::string(const std::vector<std::int64_t>&)>& answer) {
    // The file's one write lock serializes requests: a key is looked up and kept with nothing
    // in between.
    Transaction tx(m_db);
    makeRequestKeys();
    std::vector<RequestOutcome> outcomes;
    for (const QueueRequest& request : requests) {
        RequestOutcome outcome;
        if (!request.key.empty()) {
            Statement kept(m_db.handle(),
                           "SELECT Fingerprint, Answer FROM IdempotencyKey WHERE KeyText = ? AND "
                           "CreatedAt >= ?",
                           {request.key, notBefore});
            if (kept.step()) {
                outcome.kept = KeptAnswer{kept.column(0).toText(), kept.column(1).toText()};
                outcomes.push_back(std::move(outcome));
                continue;
            }
        }
        outcome.ids = insertRows(m_db, request.messages);
        if (!request.key.empty()) {
            m_db.execute(
                "INSERT OR REPLACE INTO IdempotencyKey (KeyText, Fingerprint, Answer, "
                "CreatedAt) VALUES (?, ?, ?, ?)",
                {request.key, request.fingerprint, answer(outcome.ids), now});
        }
        outcomes.push_back(std::move(outcome));
    }
    tx.commit();
    return outcomes;
}

int FileQueue::forgetAnswersBefore(const std::string& notBefore) {
    makeRequestKeys();
    return m_db.execute("DELETE FROM IdempotencyKey WHERE CreatedAt < ?", {notBefore});
}

std::optional<RowLookup> FileQueue::lookUp(std::int64_t id) {
    Statement st(m_db.handle(),
                 "SELECT Status, MessageID, Message, DeliverStatus, DeliverReason, DeliverDateTime "
                 "FROM MessageQueue WHERE rowid = ?",
                 {id});
    if (!st.step()) {
        return std::nullopt;
    }
    return RowLookup{st.column(0), st.column(1), st.column(2),
                     st.column(3), st.column(4), st.column(5)};
}

void FileQueue::createTables() {
    Transaction tx(m_db);
    for (const char* sql : kCreateStatements) {
        m_db.execute(sql);
    }
    tx.commit();
}

void FileQueue::upgradeSchema() {
    for (const char* sql : kUpgradeStatements) {
        try {
            m_db.execute(sql);
        } catch (const DbError&) {
            // Each statement stands on its own; the next one still runs.
        }
    }
}

}  // namespace parlix
