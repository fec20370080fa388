#include <gtest/gtest.h>

#include <cstdint>

#include "db/db_error.h"
#include "db/odbc_dsn.h"
#include "db/open_database.h"
#include "support/fakes.h"
#include "support/queue_db.h"
#include "support/temp_dir.h"
#include "sys/registry_store.h"

namespace parlix {
namespace {

const std::string kDsnKey = "SOFTWARE\\ODBC\\ODBC.INI\\Zentroca";

struct Stored {
    std::uint32_t type = 0;
    std::string data;
    long rc = -1;
};

Stored query(RegistryStore& store, const std::string& subKey, const std::string& name) {
    Stored s;
    std::uint32_t key = 0;
    if (store.openKey(kHkeyLocalMachine, subKey, kKeyRead, &key) != kRegOk) {
        return s;
    }
    s.rc = store.queryValue(key, name, &s.type, &s.data, 4096);
    store.closeKey(key);
    return s;
}

std::string sz(const std::string& s) {
    return s + std::string(1, '\0');
}
std::string dword(std::uint32_t n) {
    return std::string{static_cast<char>(n & 0xFF), static_cast<char>((n >> 8) & 0xFF),
                       static_cast<char>((n >> 16) & 0xFF), static_cast<char>(n >> 24)};
}

class OpenDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        env = std::make_unique<DatabaseEnvironment>(DatabaseEnvironment{
            dir.str(), [this](const std::string& n) { return lookupOdbcDsn(store, n); }, ui, log});
    }
    void registerDsn() {
        RegisterOdbcDsn(store, ui, "Zentroca", dir.str() + "\\SMSDB.MDB", "", kDatabasePassword);
    }

    test::TempDir dir;
    test::FakeUi ui;
    test::RecordingLog log;
    RegistryStore store{dir.str() + "/registry.dat"};
    std::unique_ptr<DatabaseEnvironment> env;
    std::unique_ptr<Connection> dbConnection;
};

TEST_F(OpenDatabaseTest, DataSourceLayoutIsWrittenExactly) {
    registerDsn();
    struct Expect {
        std::string key, name;
        std::uint32_t type;
        std::string data;
    };
    const Expect expected[] = {
        {kDsnKey, "DBQ", kRegSz, sz(dir.str() + "\\SMSDB.MDB")},
        {kDsnKey, "Driver", kRegSz, sz("/usr/lib\\odbcjt32.dll")},
        {kDsnKey, "DriverId", kRegDword, dword(25)},
        {kDsnKey, "FIL", kRegSz, sz("MS Access;")},
        {kDsnKey, "SafeTransaction", kRegDword, dword(0)},
        {kDsnKey, "PWD", kRegSz, sz(kDatabasePassword)},
        {kDsnKey, "UID", kRegSz, sz("")},
        {kDsnKey + "\\Engines\\Jet", "ImplicitCommitSync", kRegSz, sz("")},
        {kDsnKey + "\\Engines\\Jet", "MaxBufferSize", kRegDword, dword(2048)},
        {kDsnKey + "\\Engines\\Jet", "PageTimeOut", kRegDword, dword(5)},
        {kDsnKey + "\\Engines\\Jet", "Threads", kRegDword, dword(3)},
        {kDsnKey + "\\Engines\\Jet", "UserCommitSync", kRegSz, sz("")},
        {"SOFTWARE\\ODBC\\ODBC.INI\\ODBC Data Sources", "Zentroca", kRegSz, sz("")},
    };
    for (const Expect& e : expected) {
        SCOPED_TRACE(e.name);
        Stored s = query(store, e.key, e.name);
        EXPECT_EQ(s.rc, kRegOk);
        EXPECT_EQ(s.type, e.type);
        EXPECT_EQ(s.data, e.data);
    }
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(OpenDatabaseTest, ReRegisteringFromAnotherFolderRewritesThePath) {
    registerDsn();
    RegisterOdbcDsn(store, ui, "Zentroca", "/elsewhere\\SMSDB.MDB", "", kDatabasePassword);
    EXPECT_EQ(query(store, kDsnKey, "DBQ").data, sz("/elsewhere\\SMSDB.MDB"));
}

TEST_F(OpenDatabaseTest, OpensThroughTheDataSourceOrDirectly) {
    test::makeQueueDatabase(dir.str(), "smsdb.MDB");
    registerDsn();
    EXPECT_TRUE(OpenDatabase(dbConnection, false, *env));
    EXPECT_TRUE(dbConnection->isOpen());
    Connection* first = dbConnection.get();
    EXPECT_TRUE(OpenDatabase(dbConnection, true, *env));
    EXPECT_NE(dbConnection.get(), first);  // every call replaces the connection
    EXPECT_TRUE(log.lines.empty());
    EXPECT_EQ(ui.busyChanges, (std::vector<bool>{true, false, true, false}));
}

TEST_F(OpenDatabaseTest, FailuresLogNumberThenDescription) {
    EXPECT_FALSE(OpenDatabase(dbConnection, false, *env));  // nothing registered
    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_EQ(log.lines[0], "DatabaseError: " + std::to_string(kDbDataSourceMissing));
    EXPECT_NE(log.lines[1].find("Zentroca"), std::string::npos);
    EXPECT_FALSE(ui.busy);
    ASSERT_NE(dbConnection, nullptr);
    EXPECT_FALSE(dbConnection->isOpen());

    log.lines.clear();
    EXPECT_FALSE(OpenDatabase(dbConnection, true, *env));  // no file
    EXPECT_EQ(log.lines[0], "DatabaseError: " + std::to_string(kDbCannotOpen));

    log.lines.clear();
    test::makeQueueDatabase(dir.str());
    RegisterOdbcDsn(store, ui, "Zentroca", dir.str() + "\\SMSDB.MDB", "", "not-the-password");
    EXPECT_FALSE(OpenDatabase(dbConnection, false, *env));  // broken data source
    EXPECT_EQ(log.lines[0], "DatabaseError: " + std::to_string(kDbNotADatabase));
    EXPECT_FALSE(ui.busy);
}

TEST_F(OpenDatabaseTest, DataSourceWithoutAPathIsBroken) {
    std::uint32_t key = 0;
    ASSERT_EQ(store.createKey(kHkeyLocalMachine, kDsnKey, &key), kRegOk);
    store.closeKey(key);
    Result<DataSource> ds = lookupOdbcDsn(store, "Zentroca");
    ASSERT_FALSE(ds.ok());
    EXPECT_NE(ds.error().message.find("Zentroca"), std::string::npos);
}

TEST(SystemFolder, KnownNamesOnly) {
    EXPECT_EQ(SystemFolderPath("WindowsSystemDirectory"), "/usr/lib");
    EXPECT_EQ(SystemFolderPath("WindowsDirectory"), "/etc");
    EXPECT_EQ(SystemFolderPath("Other"), "");
}

}  // namespace
}  // namespace parlix
