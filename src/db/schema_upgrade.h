#pragma once

namespace parlix {

class Connection;

/// Adds the columns and the message-id index that an older database lacks. Every statement is
/// tried; one that fails (its column exists, its table is missing, the database is closed) is
/// skipped without a word. `dbConnection` may be null.
void Cmd_AlterDatabase_Click(Connection* dbConnection);

/// Creates the tables of a new queue database as the software that fills the queue does:
/// MessageQueue with an integer key and a case-blind index on Status, ProxyConfig with one row,
/// and ClientMaster.
void createQueueTables(Connection& db);

}  // namespace parlix
