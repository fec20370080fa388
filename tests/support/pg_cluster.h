#pragma once

#include <string>

#include "support/temp_dir.h"

namespace parlix::test {

/// A private PostgreSQL server: a cluster made by initdb in a temporary folder, listening on a
/// Unix socket in that folder and on no TCP port, run as the user postgres when the tests run as
/// root. It stops when this object goes.
class PgCluster {
public:
    /// `durable` keeps the server's syncs, as a benchmark needs; tests go faster without them.
    explicit PgCluster(bool durable = false);
    ~PgCluster();
    PgCluster(const PgCluster&) = delete;
    PgCluster& operator=(const PgCluster&) = delete;

    /// The cluster of this test program, started at the first call.
    static PgCluster& shared();

    /// A new, empty database; its libpq connection string.
    std::string newDatabase();
    /// A new database holding the queue's tables; its connection string.
    std::string newQueue();
    /// The connection string of a database of this cluster.
    std::string url(const std::string& database) const;

    void stop();
    void start();

private:
    /// Runs a program of the server's as the cluster's user; its exit code.
    int run(const std::string& program, const std::string& args) const;

    TempDir m_dir;
    bool m_durable;
    int m_databases = 0;
};

}  // namespace parlix::test
