#include <gtest/gtest.h>

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
    RegisterOdbcDsn(store, ui, "Zentroca", "/p\\SMSDB.MDB", "u", "pw");
    EXPECT_EQ(test::readFile(store.filePath()),
              R"(; Parlix registry store: written by the program, one key a section
[HKEY_LOCAL_MACHINE\SOFTWARE]
[HKEY_LOCAL_MACHINE\SOFTWARE\ODBC]
[HKEY_LOCAL_MACHINE\SOFTWARE\ODBC\ODBC.INI]
[HKEY_LOCAL_MACHINE\SOFTWARE\ODBC\ODBC.INI\ODBC Data Sources]
"Zentroca"=1:00
[HKEY_LOCAL_MACHINE\SOFTWARE\ODBC\ODBC.INI\Zentroca]
"DBQ"=1:2F705C534D5344422E4D444200
"Driver"=1:2F7573722F6C69625C6F6462636A7433322E646C6C00
"DriverId"=4:19000000
"FIL"=1:4D53204163636573733B00
"PWD"=1:707700
"SafeTransaction"=4:00000000
"UID"=1:7500
[HKEY_LOCAL_MACHINE\SOFTWARE\ODBC\ODBC.INI\Zentroca\Engines]
[HKEY_LOCAL_MACHINE\SOFTWARE\ODBC\ODBC.INI\Zentroca\Engines\Jet]
"ImplicitCommitSync"=1:00
"MaxBufferSize"=4:00080000
"PageTimeOut"=4:05000000
"Threads"=4:03000000
"UserCommitSync"=1:00
)");
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(OpenDatabaseTest, ReRegisteringFromAnotherFolderRewritesThePath) {
    registerDsn();
    RegisterOdbcDsn(store, ui, "Zentroca", "/elsewhere\\SMSDB.MDB", "", kDatabasePassword);
    EXPECT_EQ(lookupOdbcDsn(store, "Zentroca").value().path, "/elsewhere\\SMSDB.MDB");
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
    ASSERT_EQ(store.ensureKey(kHkeyLocalMachine, kDsnKey), kRegOk);
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
