#include "support/queue_db.h"

#include <stdexcept>

#include "base/text.h"
#include "db/message_queue.h"
#include "db/open_database.h"
#include "db/statement.h"

namespace parlix::test {

std::unique_ptr<Connection> makeQueueDatabase(const std::string& folder,
                                              const std::string& fileName, bool upgraded) {
    auto db = createDatabaseFile(folder + "/" + fileName, kDatabasePassword);
    MessageQueue queue(*db);
    queue.createTables();
    if (upgraded) {
        queue.upgradeSchema();
    }
    return db;
}

std::int64_t enqueue(Connection& db, const Value& mobile, const Value& message,
                     const std::string& status) {
    db.execute("INSERT INTO MessageQueue (Mobileno, Message, Status) VALUES (?, ?, ?)",
               {mobile, message, Value(status)});
    return db.lastInsertId();
}

long countExact(Connection& db, const std::string& status) {
    return static_cast<long>(
        db.scalar("SELECT count(*) FROM MessageQueue WHERE Status = ? COLLATE BINARY", {status})
            .integer());
}

Value Row::operator[](const std::string& name) const {
    auto it = fields.find(toLower(name));
    if (it == fields.end()) {
        throw std::out_of_range("no field " + name);
    }
    return it->second;
}

std::vector<Row> query(Connection& db, const std::string& sql, const std::vector<Value>& params) {
    std::vector<Row> rows;
    Statement st(db.handle(), sql, params);
    while (st.step()) {
        Row row;
        for (int i = 0; i < st.columnCount(); ++i) {
            row.fields[toLower(st.columnName(i))] = st.column(i);
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

}  // namespace parlix::test
