#include "db/transaction.h"

#include "db/connection.h"
#include "db/db_error.h"

namespace parlix {

Transaction::Transaction(Connection& db) : m_db(db) {
    m_db.beginTrans();
}

Transaction::~Transaction() {
    if (m_open) {
        try {
            m_db.rollbackTrans();
        } catch (const DbError&) {
            // The connection is gone; the engine has rolled the transaction back with it.
        }
    }
}

void Transaction::commit() {
    m_db.commitTrans();
    m_open = false;
}

}  // namespace parlix
