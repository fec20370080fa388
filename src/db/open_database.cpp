#include "db/open_database.h"

#include "base/activity_log.h"
#include "base/ui.h"
#include "db/db_error.h"
#include "db/file_queue.h"
#include "db/pg_connection.h"
#include "db/shared_queue.h"

namespace parlix {

std::string directConnectionText(const std::string& programFolder) {
    return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + programFolder +
           "\\smsdb.mdb;Persist Security Info=False;Jet OLEDB:Database Password=" +
           kDatabasePassword;
}

bool OpenDatabase(std::unique_ptr<MessageQueue>& dbConnection, bool openFileDirectly,
                  const DatabaseEnvironment& env) {
    try {
        if (!env.queueUrl.empty()) {
            auto shared = std::make_unique<SharedQueue>(
                std::make_unique<PgConnection>(env.queueUrl, env.busyTimeoutMs), env.installation,
                env.leaseSeconds);
            SharedQueue& queue = *shared;
            dbConnection = std::move(shared);
            env.ui.setBusy(true);
            queue.open();
            queue.upgradeSchema();
            env.ui.setBusy(false);
            return true;
        }
        auto file = std::make_unique<FileQueue>(std::make_unique<Connection>(env.resolver),
                                                env.programFolder);
        Connection& connection = file->connection();
        connection.setBusyTimeout(env.busyTimeoutMs);
        dbConnection = std::move(file);
        env.ui.setBusy(true);
        connection.open(openFileDirectly ? directConnectionText(env.programFolder)
                                         : std::string("DSN=") + kDataSourceName,
                        "", "");
        env.ui.setBusy(false);
        return true;
    } catch (const DbError& e) {
        env.log.writeLog("DatabaseError: " + std::to_string(e.number()));
        env.log.writeLog("DatabaseError: " + e.description());
    }
    env.ui.setBusy(false);
    return false;
}

}  // namespace parlix
