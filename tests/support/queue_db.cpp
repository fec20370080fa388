#include "support/queue_db.h"

#include <filesystem>
#include <mutex>
#include <stdexcept>

#include "base/text.h"
#include "db/file_queue.h"
#include "db/open_database.h"
#include "db/statement.h"
#include "support/temp_dir.h"

namespace parlix::test {

namespace {

// Creating a database derives its key, a tenth of a second each time: every database a test
// program makes is a copy of one made at its first call. Tests may make them from several
// threads at once.
std::string templateFile(bool upgraded) {
    static std::mutex made;
    std::lock_guard lock(made);
    static TempDir dir;
    const std::string path = dir.str() + (upgraded ? "/upgraded.mdb" : "/plain.mdb");
    if (!std::filesystem::exists(path)) {
        auto db = createDatabaseFile(path, kDatabasePassword);
        FileQueue queue(*db, dir.str());
        queue.createTables();
        if (upgraded) {
            queue.upgradeSchema();
        }
    }
    return path;
}

}  // namespace

std::unique_ptr<Connection> makeQueueDatabase(const std::string& folder,
                                              const std::string& fileName, bool upgraded) {
    const std::string path = folder + "/" + fileName;
    std::filesystem::copy_file(templateFile(upgraded), path);
    auto db = std::make_unique<Connection>();
    db->openFile(path, kDatabasePassword);
    return db;
}

Connection& fileConnection(MessageQueue& queue) {
    return dynamic_cast<FileQueue&>(queue).connection();
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
