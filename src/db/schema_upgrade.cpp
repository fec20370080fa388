#include "db/schema_upgrade.h"

#include <exception>

#include "db/connection.h"

namespace parlix {

namespace {

constexpr const char* kUpgradeStatements[] = {
    "ALTER TABLE ClientMaster ADD COLUMN BirthDate Date",
    "ALTER TABLE ClientMaster ADD COLUMN Anniversary Date",
    "ALTER TABLE ClientMaster ADD COLUMN smsbirth TEXT(159)",
    "ALTER TABLE ClientMaster ADD COLUMN smsAnni TEXT(159)",
    "ALTER TABLE ProxyConfig ADD COLUMN User1 TEXT(50)",
    "ALTER TABLE ProxyConfig ADD COLUMN Pass1 TEXT(50)",
    "ALTER TABLE ProxyConfig ADD COLUMN IPNO TEXT(50)",
    "ALTER TABLE ProxyConfig ADD COLUMN IPAddress TEXT(50)",
    "ALTER TABLE messagequeue ADD COLUMN MessageID TEXT(50)",
    "ALTER TABLE messagequeue ADD COLUMN DeliverID TEXT(250)",
    "ALTER TABLE messagequeue ADD COLUMN DeliverStatus TEXT(25)",
    "ALTER TABLE messagequeue ADD COLUMN SMSType TEXT(25)",
    "ALTER TABLE messagequeue ADD COLUMN DeliverDateTime Date",
    "ALTER TABLE messagequeue ADD COLUMN DeliverReason TEXT(250)",
    "ALTER TABLE messagequeue ADD COLUMN SMSCount Number",
    "CREATE INDEX MessageID_IDX ON messagequeue (MessageID)",
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

}  // namespace

void Cmd_AlterDatabase_Click(Connection* dbConnection) {
    for (const char* sql : kUpgradeStatements) {
        try {
            if (dbConnection != nullptr) {
                dbConnection->execute(sql);
            }
        } catch (const std::exception&) {
            // Each statement stands on its own; the next one still runs.
        }
    }
}

void createQueueTables(Connection& db) {
    db.beginTrans();
    try {
        for (const char* sql : kCreateStatements) {
            db.execute(sql);
        }
        db.commitTrans();
    } catch (...) {
        db.rollbackTrans();
        throw;
    }
}

}  // namespace parlix
