#pragma once

#include <memory>
#include <string>

#include "db/connection.h"
#include "db/message_queue.h"

namespace parlix {

class ActivityLog;
class Ui;

/// The password that protects the local database file.
inline constexpr const char* kDatabasePassword = "quorin7354";
/// The data source start-up registers for the database.
inline constexpr const char* kDataSourceName = "Zentroca";

/// What opening the database needs from the program.
struct DatabaseEnvironment {
    std::string programFolder;
    DataSourceResolver resolver;
    Ui& ui;
    ActivityLog& log;
    /// How long a statement waits for another writer's lock.
    long busyTimeoutMs = 15000;
    /// A PostgreSQL connection string or URI when the queue is shared there; empty for the file.
    std::string queueUrl;
    /// This installation's name among those sharing the queue.
    std::string installation;
    /// How long a claim on a batch of the shared queue lasts unrenewed.
    long leaseSeconds = 300;
};

/// Replaces `dbConnection` with the queue over a new connection and opens it: the shared queue
/// when the environment names one, else the database file directly when `openFileDirectly` (the
/// "Vista OS / Windows 7" box), else through the data source. On failure it writes "DatabaseError:
/// " with the number, then with the description, and returns false.
bool OpenDatabase(std::unique_ptr<MessageQueue>& dbConnection, bool openFileDirectly,
                  const DatabaseEnvironment& env);

/// The connection text of the direct file connection for a program folder.
std::string directConnectionText(const std::string& programFolder);

}  // namespace parlix
