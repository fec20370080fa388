#include "support/queue_db.h"

#include <sqlite3.h>

#include "db/open_database.h"
#include "db/schema_upgrade.h"

namespace parlix::test {

std::unique_ptr<Connection> makeQueueDatabase(const std::string& folder,
                                              const std::string& fileName, bool upgraded) {
    auto db = createDatabaseFile(folder + "/" + fileName, kDatabasePassword);
    createQueueTables(*db);
    if (upgraded) {
        Cmd_AlterDatabase_Click(db.get());
    }
    return db;
}

std::int64_t enqueue(Connection& db, const Value& mobile, const Value& message,
                     const std::string& status) {
    db.execute("INSERT INTO MessageQueue (Mobileno, Message, Status) VALUES (?, ?, ?)",
               {mobile, message, Value(status)});
    return sqlite3_last_insert_rowid(db.handle());
}

long countExact(Connection& db, const std::string& status) {
    return static_cast<long>(
        db.scalar("SELECT count(*) FROM MessageQueue WHERE Status = ? COLLATE BINARY", {status})
            .integer());
}

}  // namespace parlix::test
