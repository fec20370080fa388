#include "support/pg_cluster.h"

#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <stdexcept>

#include "db/pg_connection.h"
#include "db/shared_queue.h"

namespace parlix::test {

namespace {

/// The folder of the server's programs, as pg_config reports it.
std::string serverBinaries() {
    std::array<char, 512> buf{};
    std::string out;
    if (FILE* p = ::popen("pg_config --bindir", "r")) {
        while (std::fgets(buf.data(), buf.size(), p) != nullptr) {
            out += buf.data();
        }
        ::pclose(p);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) {
        out.pop_back();
    }
    return out.empty() ? "/usr/lib/postgresql/15/bin" : out;
}

}  // namespace

// Under root the server runs as postgres, which need not reach a private $TMPDIR: its folder
// then goes in /tmp, which every user can reach.
PgCluster::PgCluster(bool durable)
    : m_dir(::geteuid() == 0 ? "/tmp" : std::filesystem::temp_directory_path()),
      m_durable(durable) {
    if (::geteuid() == 0) {
        // The server refuses to run as root: the folder becomes the postgres user's.
        const passwd* pg = ::getpwnam("postgres");
        if (pg == nullptr || ::chown(m_dir.str().c_str(), pg->pw_uid, pg->pw_gid) != 0) {
            throw std::runtime_error("the tests run as root, and there is no user postgres");
        }
    }
    if (run("initdb", "-D " + m_dir.str() + "/data -U postgres -A trust -E UTF8 --no-sync") != 0) {
        throw std::runtime_error("initdb failed");
    }
    start();
}

PgCluster::~PgCluster() {
    run("pg_ctl", "-D " + m_dir.str() + "/data -m immediate stop");
}

PgCluster& PgCluster::shared() {
    static PgCluster cluster;
    return cluster;
}

void PgCluster::start() {
    const std::string settings = m_durable ? "" : " -c fsync=off -c synchronous_commit=off";
    if (run("pg_ctl", "-D " + m_dir.str() + "/data -l " + m_dir.str() + "/server.log -w -o \"-k " +
                          m_dir.str() + " -c listen_addresses=''" + settings + "\" start") != 0) {
        throw std::runtime_error("the server did not start: see " + m_dir.str() + "/server.log");
    }
}

void PgCluster::stop() {
    run("pg_ctl", "-D " + m_dir.str() + "/data -m fast -w stop");
}

std::string PgCluster::url(const std::string& database) const {
    return "host=" + m_dir.str() + " user=postgres dbname=" + database;
}

std::string PgCluster::newDatabase() {
    const std::string name = "queue" + std::to_string(++m_databases);
    PgConnection admin(url("postgres"), 10000);
    admin.open();
    admin.run("CREATE DATABASE " + name);
    return url(name);
}

std::string PgCluster::newQueue() {
    const std::string queueUrl = newDatabase();
    SharedQueue tables(std::make_unique<PgConnection>(queueUrl, 10000), "tables", 60);
    tables.open();
    tables.createTables();
    return queueUrl;
}

int PgCluster::run(const std::string& program, const std::string& args) const {
    const std::string command =
        serverBinaries() + "/" + program + " " + args + " >> " + m_dir.str() + "/tools.log 2>&1";
    const passwd* pg = ::geteuid() == 0 ? ::getpwnam("postgres") : nullptr;
    const uid_t uid = pg != nullptr ? pg->pw_uid : ::geteuid();
    const gid_t gid = pg != nullptr ? pg->pw_gid : ::getegid();
    pid_t pid = ::fork();
    if (pid == 0) {
        if (::geteuid() != uid && (::setgid(gid) != 0 || ::setuid(uid) != 0)) {
            ::_exit(126);
        }
        ::execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace parlix::test
