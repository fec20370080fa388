#pragma once

#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "db/connection.h"
#include "db/message_queue.h"

namespace parlix {

/// How a failed check shows a value.
inline void PrintTo(const Value& v, std::ostream* os) {
    *os << (v.isNull() ? "null" : "\"" + v.toText() + "\"");
}

}  // namespace parlix

namespace parlix::test {

/// Creates a queue database in `folder` as the outside software would, optionally upgraded,
/// and returns an open connection to it.
std::unique_ptr<Connection> makeQueueDatabase(const std::string& folder,
                                              const std::string& fileName = "SMSDB.MDB",
                                              bool upgraded = true);

/// The connection under a queue in a database file.
Connection& fileConnection(MessageQueue& queue);

/// Inserts a queued message and returns its key.
std::int64_t enqueue(Connection& db, const Value& mobile, const Value& message,
                     const std::string& status = "Queued");

/// Rows whose Status is exactly `status` (case and all).
long countExact(Connection& db, const std::string& status);

/// One row of a query: its fields by name, without regard to case.
struct Row {
    std::map<std::string, Value> fields;
    Value operator[](const std::string& name) const;
};

/// Every row a query returns.
std::vector<Row> query(Connection& db, const std::string& sql,
                       const std::vector<Value>& params = {});

}  // namespace parlix::test
