#pragma once

namespace parlix {

class Connection;

/// A write transaction that rolls back unless committed, so an error halfway leaves nothing.
class Transaction {
public:
    explicit Transaction(Connection& db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    void commit();

private:
    Connection& m_db;
    bool m_open = true;
};

}  // namespace parlix
