#include "db/message_queue.h"

#include "db/connection.h"
#include "db/db_error.h"
#include "db/recordset.h"
#include "db/statement.h"
#include "db/transaction.h"

namespace parlix {

namespace {

constexpr const char* kQueueTable = "MessageQueue";

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

}  // namespace

std::string_view statusText(Status status) {
    switch (status) {
        case Status::Queued:
            return "Queued";
        case Status::Read:
            return "Read";
        case Status::Sent:
            return "Sent";
        case Status::DelSent:
            return "DelSent";
        case Status::Deleted:
            return "Deleted";
        case Status::Discarded:
            return "Discarded";
    }
    return {};
}

MessageQueue::MessageQueue(Connection& db) : m_db(db) {}

bool MessageQueue::hasQueued() {
    return m_db.scalar("SELECT EXISTS (SELECT 1 FROM MessageQueue WHERE Status = ? COLLATE NOCASE)",
                       {std::string(statusText(Status::Queued))})
               .integer() != 0;
}

long MessageQueue::countQueued(long limit) {
    return static_cast<long>(
        m_db.scalar("SELECT count(*) FROM (SELECT 1 FROM MessageQueue WHERE Status = ? COLLATE "
                    "NOCASE LIMIT ?)",
                    {std::string(statusText(Status::Queued)), static_cast<std::int64_t>(limit)})
            .integer());
}

std::unique_ptr<Recordset> MessageQueue::takeQueued(long limit) {
    std::vector<std::int64_t> keys;
    Statement st(m_db.handle(),
                 "SELECT rowid FROM MessageQueue WHERE Status = ? COLLATE NOCASE ORDER BY rowid "
                 "LIMIT ?",
                 {std::string(statusText(Status::Queued)), static_cast<std::int64_t>(limit)});
    while (st.step()) {
        keys.push_back(st.column(0).integer());
    }
    return m_db.keyset(kQueueTable, std::move(keys));
}

int MessageQueue::settleTaken(Status to) {
    return m_db.execute("UPDATE MessageQueue SET Status = ? WHERE Status = ? COLLATE NOCASE",
                        {std::string(statusText(to)), std::string(statusText(Status::Read))});
}

std::vector<std::string> MessageQueue::messageIdsStartingWith(const std::string& prefix) {
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

int MessageQueue::applyReport(const std::string& messageId, const std::string& status,
                              const std::string& reason, const std::string& isoTime) {
    return m_db.execute(
        "UPDATE MessageQueue SET DeliverStatus = ?, DeliverReason = ?, DeliverDateTime = ? "
        "WHERE MessageID = ? COLLATE NOCASE",
        {status, reason, isoTime, messageId});
}

SavedLogin MessageQueue::savedLogin() {
    std::vector<Value> row = firstRow(
        m_db, "SELECT user1, pass1, IPNO, IPAddress FROM ProxyConfig ORDER BY rowid LIMIT 1",
        "a login");
    return SavedLogin{row[0], row[1], row[2], row[3]};
}

void MessageQueue::saveLogin(const std::string& userId, const std::string& password,
                             const std::string& serverNo, const std::string& serverHost) {
    m_db.execute("UPDATE ProxyConfig SET user1 = ?, pass1 = ?, IPNO = ?, IPAddress = ?",
                 {userId, password, serverNo, serverHost});
}

Value MessageQueue::installationNumber() {
    return firstRow(m_db, "SELECT comport FROM ProxyConfig ORDER BY rowid LIMIT 1",
                    "the installation number")[0];
}

void MessageQueue::storeInstallationNumber(const std::string& number) {
    int changed = m_db.execute(
        "UPDATE ProxyConfig SET comport = ? WHERE rowid = (SELECT min(rowid) FROM ProxyConfig) "
        "AND (comport IS NULL OR trim(comport) = '')",
        {number});
    if (changed != 1) {
        throw DbError(kDbRowChanged,
                      "Row cannot be located for updating: another writer set the installation "
                      "number since it was read");
    }
}

std::int64_t MessageQueue::enqueue(const Value& mobile, const Value& message) {
    m_db.execute("INSERT INTO MessageQueue (Mobileno, Message, Status) VALUES (?, ?, ?)",
                 {mobile, message, std::string(statusText(Status::Queued))});
    return m_db.lastInsertId();
}

long MessageQueue::count(const std::optional<std::string>& status) {
    Value n = status ? m_db.scalar(
                           "SELECT count(*) FROM MessageQueue WHERE Status = ? COLLATE "
                           "NOCASE",
                           {*status})
                     : m_db.scalar("SELECT count(*) FROM MessageQueue");
    return static_cast<long>(n.integer());
}

std::map<std::string, long> MessageQueue::countByStatus() {
    std::map<std::string, long> counts;
    Statement st(m_db.handle(),
                 "SELECT Status, count(*) FROM MessageQueue GROUP BY Status COLLATE BINARY");
    while (st.step()) {
        counts[st.column(0).toText()] += static_cast<long>(st.column(1).integer());
    }
    return counts;
}

std::vector<QueueRow> MessageQueue::list(const std::optional<std::string>& status, long limit) {
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

void MessageQueue::createTables() {
    Transaction tx(m_db);
    for (const char* sql : kCreateStatements) {
        m_db.execute(sql);
    }
    tx.commit();
}

void MessageQueue::upgradeSchema() {
    for (const char* sql : kUpgradeStatements) {
        try {
            m_db.execute(sql);
        } catch (const DbError&) {
            // Each statement stands on its own; the next one still runs.
        }
    }
}

// The HTTP interface's statements

void MessageQueue::syncEveryCommit() {
    m_db.execute("PRAGMA synchronous = FULL");
}

std::vector<std::int64_t> MessageQueue::enqueueAll(const std::vector<NewMessage>& messages) {
    std::vector<std::int64_t> ids;
    ids.reserve(messages.size());
    for (const NewMessage& m : messages) {
        ids.push_back(enqueue(m.mobile, m.text));
    }
    return ids;
}

std::optional<MessageQueue::Lookup> MessageQueue::lookUp(std::int64_t id) {
    Statement st(m_db.handle(),
                 "SELECT Status, MessageID, Message, DeliverStatus, DeliverReason, "
                 "DeliverDateTime FROM MessageQueue WHERE rowid = ?",
                 {id});
    if (!st.step()) {
        return std::nullopt;
    }
    return Lookup{st.column(0), st.column(1), st.column(2),
                  st.column(3), st.column(4), st.column(5)};
}

void MessageQueue::createIdempotencyKeys() {
    m_db.execute(
        "CREATE TABLE IF NOT EXISTS IdempotencyKey (KeyText TEXT PRIMARY KEY COLLATE NOCASE, "
        "Fingerprint TEXT NOT NULL, Answer TEXT NOT NULL, CreatedAt TEXT NOT NULL)");
    m_db.execute(
        "CREATE INDEX IF NOT EXISTS IdempotencyKey_CreatedAt ON IdempotencyKey (CreatedAt)");
}

std::optional<MessageQueue::KeptAnswer> MessageQueue::keptAnswer(const std::string& key,
                                                                 const std::string& notBefore) {
    Statement st(m_db.handle(),
                 "SELECT Fingerprint, Answer FROM IdempotencyKey WHERE KeyText = ? COLLATE "
                 "NOCASE AND CreatedAt >= ?",
                 {key, notBefore});
    if (!st.step()) {
        return std::nullopt;
    }
    return KeptAnswer{st.column(0).toText(), st.column(1).toText()};
}

void MessageQueue::keepAnswer(const std::string& key, const KeptAnswer& kept,
                              const std::string& now) {
    m_db.execute(
        "INSERT OR REPLACE INTO IdempotencyKey (KeyText, Fingerprint, Answer, CreatedAt) "
        "VALUES (?, ?, ?, ?)",
        {key, kept.fingerprint, kept.answer, now});
}

int MessageQueue::forgetAnswersBefore(const std::string& notBefore) {
    return m_db.execute("DELETE FROM IdempotencyKey WHERE CreatedAt < ?", {notBefore});
}

}  // namespace parlix
