#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <tuple>

#include "db/db_error.h"
#include "model/settings_keys.h"
#include "support/app_fixture.h"
#include "support/pg_cluster.h"
#include "support/queue_db.h"

namespace parlix {
namespace {

using test::AppFixture;
using test::countExact;
using test::enqueue;

TEST(Startup, ASecondCopyAsksAndNoEndsBeforeTouchingAnything) {
    for (MsgAnswer answer : {MsgAnswer::No, MsgAnswer::Yes}) {
        AppFixture fx;
        fx.processes.entries->push_back({4243, "PARLIX"});
        auto db = fx.makeDatabase();
        enqueue(*db, "1234567890", "x", "Read");
        fx.ui.setNextAnswer(answer);
        EXPECT_EQ(fx.load(), answer == MsgAnswer::Yes);
        EXPECT_EQ(fx.ui.boxes.at(0).text,
                  "!! SERVER Allready Running !!\r\nAre you sure to start again ?");
        EXPECT_EQ(fx.ui.boxes[0].buttons, MsgButtons::YesNo);
        EXPECT_EQ(std::filesystem::exists(fx.registry.filePath()), answer == MsgAnswer::Yes);
        EXPECT_EQ(countExact(*db, "Read"), answer == MsgAnswer::Yes ? 0 : 1);
    }
}

TEST(Startup, AFreshMachineStartsWithTheDefaultsAndNeverContactsTheGateway) {
    AppFixture fx;
    fx.makeDatabase();
    ASSERT_TRUE(fx.load());
    FormModel& f = fx.form();
    EXPECT_EQ(fx.describe({"Combo1", "Combo2", "TxtNewIP", "Text1", "Text3", "Chk_VistaOS",
                           "ChkIdPass", "Label3", "SendMessage", "cmdConnect2"}),
              "Combo1=1; Combo2=TEXT; TxtNewIP= hidden; Text1= off; Text3= off; "
              "Chk_VistaOS=Vista OS / Windows 7; ChkIdPass=Remenber Id && PassWord hidden; "
              "Label3=03:04:05:PM; SendMessage= off; cmdConnect2=&Connect");
    EXPECT_TRUE(f.text("SendMsg").starts_with("Parlix Software  -  V.")) << f.text("SendMsg");
    EXPECT_EQ(f.localIP + "|" + f.comportNo + "|" + std::to_string(f.serverNo) + "|" +
                  std::to_string(f.drTickCount),
              "192.168.1.5,127.0.0.1,|12345|1|1000.000000");
    EXPECT_TRUE(f.firstLogin && !f.drAllowed);
    EXPECT_EQ(fx.logLines(), std::vector<std::string>{"DatabaseLoad: Success"});
    EXPECT_TRUE(fx.ui.boxes.empty() && fx.transfer.requests.empty());
    // Values read back unchanged run no handler, so nothing is written.
    EXPECT_EQ(fx.setting("PARLIX", "OS") + fx.setting("ProxySettings", "Proxy"), "<none><none>");
}

TEST(Startup, TheDatabaseOpensThroughTheDataSourceElseTheFileElseConnectIsDisabled) {
    AppFixture fx;
    fx.makeDatabase();
    // The data source cannot be written (no rights on the machine-wide store).
    fx.registry = RegistryStore(fx.registry.filePath(), [](const std::string&, const std::string&) {
        throw FileError(13, "read-only");
    });
    ASSERT_TRUE(fx.load());
    EXPECT_EQ(fx.form().value("Chk_VistaOS"), 1);
    EXPECT_EQ(fx.setting("PARLIX", "OS"), "1");
    auto lines = fx.logLines();
    EXPECT_EQ(lines.at(0), "DatabaseError: " + std::to_string(kDbDataSourceMissing));
    EXPECT_EQ(lines.back(), "DatabaseLoad: Success");
    AppFixture none;  // no database file at all
    ASSERT_TRUE(none.load());
    lines = none.logLines();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[4] + "|" + lines[6], "DatabaseError: 14|DatabaseLoad: Fail");
    EXPECT_FALSE(none.form().enabled("cmdConnect2"));
    EXPECT_TRUE(none.form().comportNo.empty() && none.ui.boxes.empty());
}

// Rows a batch left taken for sending go back to the queue unless the marker names them as a
// batch that may have reached the gateway, at the next start and at Exit alike; the queued rows
// are announced. Rows 1 and 4 are taken, 2 queued and 3 sent.
TEST(Startup, AnInterruptedBatchIsSentAgainOnlyWhenItCannotHaveReachedTheGateway) {
    const std::string reached = "1 messages may have reached the gateway, marked ";
    const std::string names1 = "batch=20261206_150405125_1_NWT\nrows=1\nkeys=1\n";
    // clang-format off
    const std::tuple<bool, std::string, std::string, std::string> cases[] = {
        {false, "", "Queued,Queued,Sent,Queued", "Interrupted batch: 2 messages back in the queue"},
        {false, names1, "Deleted,Queued,Sent,Queued", "Interrupted batch: " + reached + "Deleted|Interrupted batch: 1 messages back in the queue"},
        {false, "batch=b\nrows=2\n", "Deleted,Queued,Sent,Deleted", "Interrupted batch: 2 messages may have reached the gateway, marked Deleted"},
        {false, "keys=10-1000011\n", "Deleted,Queued,Sent,Deleted", "Interrupted batch: 2 messages may have reached the gateway, marked Deleted"},  // too wide to read
        {false, "<folder>", "Deleted,Queued,Sent,Deleted", "Interrupted batch: 2 messages may have reached the gateway, marked Deleted|Interrupted batch: the batch marker stays: cannot remove"},
        {true, "", "Queued,Queued,Sent,Queued", "Exit: 2 messages back in the queue"},
        {true, names1, "Deleted,Queued,Sent,Queued", "Exit: " + reached + "Deleted|Exit: 1 messages back in the queue"}};
    // clang-format on
    AppFixture fx;
    auto db = fx.makeDatabase();
    const auto marker = fx.programDir / "InFlight.txt";
    for (const auto& [atExit, note, statuses, log] : cases) {
        SCOPED_TRACE(log);
        db->execute("DELETE FROM MessageQueue");
        db->execute("DELETE FROM sqlite_sequence");
        std::filesystem::remove_all(marker);
        fx.ui.boxes.clear();
        fx.start();
        if (atExit) {
            ASSERT_TRUE(fx.load());
        }
        for (const char* status : {"read", "Queued", "Sent", "Read"}) {
            enqueue(*db, "1111111111", "a", status);
        }
        if (note == "<folder>") {
            std::filesystem::create_directory(marker);
        } else if (!note.empty()) {
            test::writeFile(marker, note);
        }
        if (atExit) {
            fx.form().setEnabled("SendMessage", true);
            EXPECT_THROW(fx.form().fire("cmdexit2", Event::Click), test::ProgramEnded);
            EXPECT_FALSE(fx.form().enabled("SendMessage") || fx.form().dbConnection);
        } else {
            ASSERT_TRUE(fx.load());
            EXPECT_EQ(fx.ui.boxes.at(0).text + "|" + fx.ui.boxes[0].title,
                      "Messages are in Queued, Please check Message Queue before connect the "
                      "server|Zentroca Solutions");
        }
        EXPECT_EQ(db->scalar("SELECT group_concat(Status) FROM (SELECT Status FROM MessageQueue "
                             "ORDER BY ID)")
                      .toText(),
                  statuses);
        const std::vector<std::string> lines = fx.logLines();
        const size_t at = std::find_if(lines.begin(), lines.end(),
                                       [&](const std::string& l) {
                                           return l.find(atExit ? "Exit: " : "Interrupted") == 0;
                                       }) -
                          lines.begin();
        std::string logged;
        for (size_t i = at; i < lines.size() && lines[i].find("DatabaseLoad") != 0; ++i) {
            logged += (logged.empty() ? "" : "|") + lines[i];
        }
        EXPECT_TRUE(logged.starts_with(log)) << logged;
        EXPECT_EQ(std::filesystem::exists(marker), note == "<folder>");
    }
}

TEST(Startup, TheServerChoiceAndTheProxyComeFromTheSettings) {
    // Server number, proxy box, proxy port, what start-up shows, and the proxy the transfer is
    // given. A box value of more than 16 bits is not taken.
    const std::tuple<const char*, const char*, const char*, const char*, const char*> cases[] = {
        {"9", "1", "", "Combo1=9; TxtNewIP=gw:81; Text1=", ":::0"},
        {"x", "1", "8080", "Combo1=1; TxtNewIP=gw:81 hidden; Text1=8080", "proxy.lan:pu:pp:8080"},
        {"1", "32768", "8080", "Combo1=1; TxtNewIP=gw:81 hidden; Text1=8080 off", ":::0"},
        {"40000", "1", "40000", "Combo1=1; TxtNewIP=gw:81 hidden; Text1=40000",
         "proxy.lan:pu:pp:0"}};
    for (const auto& [serverNo, box, port, shown, proxy] : cases) {
        AppFixture fx;
        test::writeFile(fx.settings.filePath("Zentroca"),
                        std::string("[PARLIX]\nNO=") + serverNo + "\nIP=gw:81\n[ProxySettings]\n" +
                            "Proxy=" + box + "\nAddress=proxy.lan\nPort=" + port +
                            "\nUserName=pu\nPassword=pp");
        ASSERT_TRUE(fx.load());
        EXPECT_EQ(fx.describe({"Combo1", "TxtNewIP", "Text1"}), shown);
        const ProxySettings& p = fx.transfer.proxy;
        EXPECT_EQ(p.host + ":" + p.userName + ":" + p.password + ":" + std::to_string(p.port),
                  proxy);
        EXPECT_EQ(fx.uploader.proxy.host, "");
    }
}

// The remember box refills the credentials from the registry; a value it cannot hold ends the
// program. Without them, the login saved in the database fills the empty fields.
TEST(Startup, CredentialsComeFromTheRegistryWhenRememberedElseFromTheDatabase) {
    AppFixture fx;
    auto db = fx.makeDatabase();
    db->execute(
        "UPDATE ProxyConfig SET user1 = 'dbuser', pass1 = 'dbpass', IPNO = 9, "
        "IPAddress = 'host9'");
    RegistryKeys reg(fx.registry, fx.ui);
    reg.CreateRegKey(kProgramRegistryKey);
    reg.WriteRegString(kProgramRegistryKey, "UserId", "reguser");
    reg.WriteRegString(kProgramRegistryKey, "PassWord", "regpass");
    const std::string error = "Run-time error: Invalid property value for the remember box: ";
    // The remember box's value, then the user id, password and server it leaves in the window.
    // clang-format off
    const std::pair<const char*, std::string> cases[] = {
        {"", "0 dbuser dbpass 9"},
        {"-0.4", "0 dbuser dbpass 9"},
        {"1", "1 reguser regpass 1"},
        {"1.6", "2 reguser regpass 1"},
        {"2", "2 reguser regpass 1"},
        {"2.5", error + "3"},
        {"-1", error + "-1"}};
    // clang-format on
    for (const auto& [remember, expected] : cases) {
        reg.WriteRegString(kProgramRegistryKey, "Remember Id PassWord", remember);
        fx.ui.boxes.clear();
        fx.start();
        if (fx.load()) {
            FormModel& f = fx.form();
            EXPECT_EQ(std::to_string(f.value("ChkIdPass")) + " " + f.text("txtUserId") + " " +
                          f.text("txtUSerPassWord") + " " + f.text("Combo1"),
                      expected);
        } else {
            EXPECT_EQ(fx.ui.boxes.at(0).text, expected);
            EXPECT_EQ(fx.ui.boxes[0].icon, MsgIcon::Critical);
        }
    }
}

TEST(Startup, AnOldDatabaseIsUpgradedAndTheInstallationNumberIsStoredOnce) {
    AppFixture fx;
    auto db = fx.makeDatabase(false);
    fx.random = test::FakeRandom({0.0999999});  // five characters of 9999.99
    ASSERT_TRUE(fx.load());
    EXPECT_EQ(fx.form().text("txtUserId"), "");
    EXPECT_EQ(fx.form().comportNo, "9999.");
    EXPECT_EQ(db->scalar("SELECT comport FROM ProxyConfig "
                         "WHERE (SELECT count(DeliverReason) FROM MessageQueue) = 0"),
              Value("9999."));
    test::fileConnection(fx.form().queue()).execute("DROP INDEX MessageID_IDX");
    fx.form().fire("Cmd_AlterDatabase", Event::Click);
    EXPECT_EQ(db->scalar("SELECT count(*) FROM sqlite_master WHERE name = 'MessageID_IDX'"),
              Value(1));
    fx.random = test::FakeRandom({0.9});
    for (const char* expected : {"9999.", "90000"}) {
        fx.start();
        ASSERT_TRUE(fx.load());
        EXPECT_EQ(fx.form().comportNo, expected);
        db->execute("UPDATE ProxyConfig SET comport = '  '");
    }
}

// Installations that share a queue never share a number: one that draws a number another holds
// draws again, and keeps what it drew at its next start.
TEST(Startup, InstallationsSharingAQueueDrawNumbersNoOtherHolds) {
    const std::string url = test::PgCluster::shared().newQueue();
    AppFixture first;
    AppFixture second;
    for (AppFixture* fx : {&first, &second}) {
        fx->config.queueUrl = url;
        fx->random = test::FakeRandom({0.5, 0.5, 0.7});
        ASSERT_TRUE(fx->load());
    }
    second.start();
    ASSERT_TRUE(second.load());
    EXPECT_EQ(first.form().comportNo + " " + second.form().comportNo, "50000 70000");
}

}  // namespace
}  // namespace parlix
