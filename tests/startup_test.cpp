#include <gtest/gtest.h>

#include <filesystem>

#include "base/failure.h"

#include "db/db_error.h"
#include "support/app_fixture.h"
#include "support/queue_db.h"

namespace parlix {
namespace {

using test::AppFixture;
using test::countExact;
using test::enqueue;

const std::string kAlreadyRunning =
    "!! SERVER Allready Running !!\r\nAre you sure to start again ?";

TEST(Startup, SecondCopyAsksAndNoEndsBeforeTouchingAnything) {
    AppFixture fx;
    fx.processes.entries->push_back({4243, "PARLIX"});
    auto db = fx.makeDatabase();
    enqueue(*db, "1234567890", "x", "Read");
    fx.ui.setNextAnswer(MsgAnswer::No);
    EXPECT_FALSE(fx.load());
    ASSERT_EQ(fx.ui.boxes.size(), 1u);
    EXPECT_EQ(fx.ui.boxes[0].text, kAlreadyRunning);
    EXPECT_EQ(fx.ui.boxes[0].buttons, MsgButtons::YesNo);
    EXPECT_EQ(fx.ui.boxes[0].title, "Parlix");
    EXPECT_FALSE(std::filesystem::exists(fx.registry.filePath()));
    EXPECT_FALSE(std::filesystem::exists(fx.settings.filePath("Zentroca")));
    EXPECT_EQ(countExact(*db, "Read"), 1);

    AppFixture yes;
    yes.processes.entries->push_back({4243, "parlix"});
    yes.makeDatabase();
    yes.ui.setNextAnswer(MsgAnswer::Yes);
    EXPECT_TRUE(yes.load());
    EXPECT_EQ(yes.form().text("txt_msg"), "DatabaseLoad: Success\r\n\r\n");
}

TEST(Startup, FreshMachineDefaults) {
    AppFixture fx;
    fx.makeDatabase();
    ASSERT_TRUE(fx.load());
    FormModel& f = fx.form();
    EXPECT_TRUE(fx.ui.boxes.empty());
    EXPECT_EQ(f.value("Chk_VistaOS"), 0);
    EXPECT_EQ(f.serverNo, 1);
    EXPECT_EQ(f.text("Combo1"), "1");
    EXPECT_FALSE(f.visible("TxtNewIP"));
    EXPECT_EQ(f.text("Combo2"), "TEXT");
    EXPECT_EQ(f.value("Chk_proxy"), 0);
    for (const char* field : {"Text1", "Text2", "Text3", "Text4"}) {
        EXPECT_FALSE(f.enabled(field)) << field;
    }
    EXPECT_EQ(f.text("SendMsg"), "Parlix Software  -  V." + std::to_string(PARLIX_VERSION_MAJOR) +
                                     "." + std::to_string(PARLIX_VERSION_MINOR) + "." +
                                     std::to_string(PARLIX_VERSION_PATCH));
    EXPECT_EQ(f.text("Label3"), "03:04:05:PM");
    EXPECT_EQ(f.localIP, "192.168.1.5,127.0.0.1,");
    EXPECT_TRUE(f.firstLogin);
    EXPECT_FALSE(f.drAllowed);
    EXPECT_EQ(f.drTickCount, 1000);
    EXPECT_FALSE(f.enabled("SendMessage"));
    EXPECT_TRUE(f.enabled("cmdConnect2"));
    EXPECT_TRUE(f.dbConnection->isOpen());
    EXPECT_EQ(f.comportNo, "12345");
    EXPECT_TRUE(fx.transfer.requests.empty());  // start-up never contacts the gateway
    // Values read back unchanged run no handler, so nothing is written.
    EXPECT_EQ(fx.setting("PARLIX", "OS"), "<none>");
}

TEST(Startup, MissingDataSourceFallsBackToTheFileAndRemembersIt) {
    AppFixture fx;
    fx.makeDatabase();
    // The data source cannot be written (no rights on the machine-wide store).
    fx.registry = RegistryStore(fx.registry.filePath(), [](const std::string&, const std::string&) {
        throw FileError(13, "read-only");
    });
    ASSERT_TRUE(fx.load());
    EXPECT_EQ(fx.form().value("Chk_VistaOS"), 1);
    EXPECT_EQ(fx.setting("PARLIX", "OS"), "1");
    EXPECT_TRUE(fx.form().dbConnection->isOpen());
    const std::string log = fx.form().text("txt_msg");
    EXPECT_EQ(log.rfind("DatabaseLoad: Success", 0), 0u) << log;
    EXPECT_NE(log.find("DatabaseError: " + std::to_string(kDbDataSourceMissing)),
              std::string::npos);
}

TEST(Startup, ThreeFailuresDisableConnect) {
    AppFixture fx;  // no database file at all
    ASSERT_TRUE(fx.load());
    const std::string log = fx.form().text("txt_msg");
    EXPECT_EQ(log.rfind("DatabaseLoad: Fail\r\n\r\n", 0), 0u) << log;
    size_t errors = 0;
    for (size_t p = log.find("DatabaseError: "); p != std::string::npos;
         p = log.find("DatabaseError: ", p + 1)) {
        ++errors;
    }
    EXPECT_EQ(errors, 6u);
    EXPECT_FALSE(fx.form().enabled("cmdConnect2"));
    EXPECT_EQ(fx.form().comportNo, "");
    EXPECT_TRUE(fx.ui.boxes.empty());
}

// Rows a batch left taken for sending go back to the queue unless the batch may have reached
// the gateway, at the next start and at Exit alike; the queued rows are announced.
TEST(Startup, AnInterruptedBatchIsSentAgainOnlyWhenItCannotHaveReachedTheGateway) {
    enum class Marker { Absent, Present, Unreadable };
    struct Case {
        const char* label;
        bool atExit;
        Marker marker;
        const char* status;
        const char* log;
    };
    const Case cases[] = {
        {"start, no marker", false, Marker::Absent, "Queued",
         "Interrupted batch: 1 messages back in the queue"},
        {"start, marker", false, Marker::Present, "Deleted",
         "Interrupted batch: 1 messages may have reached the gateway, marked Deleted"},
        {"start, unreadable marker", false, Marker::Unreadable, "Deleted",
         "Interrupted batch: 1 messages may have reached the gateway, marked Deleted"},
        {"Exit, no marker", true, Marker::Absent, "Queued", "Exit: 1 messages back in the queue"},
        {"Exit, marker", true, Marker::Present, "DelSent",
         "Exit: 1 messages may have reached the gateway, marked DelSent"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        AppFixture fx;
        auto db = fx.makeDatabase();
        if (c.atExit) {
            ASSERT_TRUE(fx.load());
        }
        enqueue(*db, "1111111111", "a", "read");
        enqueue(*db, "2222222222", "b", "Queued");
        enqueue(*db, "3333333333", "c", "Sent");
        const auto marker = fx.programDir / "InFlight.txt";
        if (c.marker == Marker::Present) {
            test::writeFile(marker, "batch=20261206_150405125_1_NWT\nrows=1\n");
        } else if (c.marker == Marker::Unreadable) {
            std::filesystem::create_directory(marker);
        }
        if (c.atExit) {
            fx.form().setEnabled("SendMessage", true);
            EXPECT_THROW(fx.form().fire("cmdexit2", Event::Click), test::ProgramEnded);
            EXPECT_FALSE(fx.form().enabled("SendMessage"));
            EXPECT_EQ(fx.form().dbConnection, nullptr);
        } else {
            ASSERT_TRUE(fx.load());
            ASSERT_EQ(fx.ui.boxes.size(), 1u);
            EXPECT_EQ(fx.ui.boxes[0].text,
                      "Messages are in Queued, Please check Message Queue before connect the "
                      "server");
            EXPECT_EQ(fx.ui.boxes[0].title, "Zentroca Solutions");
        }
        EXPECT_EQ(countExact(*db, c.status), c.status == std::string("Queued") ? 2 : 1);
        EXPECT_EQ(countExact(*db, "Sent"), 1);
        EXPECT_EQ(fx.logLines().back(), c.log);
        EXPECT_EQ(std::filesystem::exists(marker), c.marker == Marker::Unreadable);
    }
}

TEST(Startup, StoredServerNineShowsTheCustomHost) {
    AppFixture fx;
    fx.makeDatabase();
    fx.settings.SaveSetting("Zentroca", "PARLIX", "NO", "9");
    fx.settings.SaveSetting("Zentroca", "PARLIX", "IP", "gw.example:8080");
    ASSERT_TRUE(fx.load());
    EXPECT_EQ(fx.form().serverNo, 9);
    EXPECT_TRUE(fx.form().visible("TxtNewIP"));
    EXPECT_EQ(fx.form().text("TxtNewIP"), "gw.example:8080");
}

TEST(Startup, NonNumericServerNumberLeavesServerOne) {
    AppFixture fx;
    fx.makeDatabase();
    fx.settings.SaveSetting("Zentroca", "PARLIX", "NO", "x");
    ASSERT_TRUE(fx.load());
    EXPECT_EQ(fx.form().serverNo, 1);
    EXPECT_EQ(fx.form().text("Combo1"), "1");
}

TEST(Startup, InstallationNumberIsStoredOnceAndKept) {
    AppFixture fx;
    auto db = fx.makeDatabase();
    fx.random = test::FakeRandom({0.012345678});
    ASSERT_TRUE(fx.load());
    EXPECT_EQ(fx.form().comportNo, "1234.");
    EXPECT_EQ(db->scalar("select comport from ProxyConfig").toText(), "1234.");
    fx.random = test::FakeRandom({0.9});
    fx.start();
    ASSERT_TRUE(fx.load());
    EXPECT_EQ(fx.form().comportNo, "1234.");
}

TEST(Startup, ProxyValuesReachTheTransferOnlyWhenComplete) {
    struct Case {
        const char* port;
        int expectPort;
        bool applied;
    };
    for (const Case& c : {Case{"", 0, false}, Case{"8080", 8080, true}, Case{"40000", 0, true}}) {
        SCOPED_TRACE(c.port);
        AppFixture fx;
        fx.makeDatabase();
        fx.settings.SaveSetting("Zentroca", "ProxySettings", "Proxy", "1");
        fx.settings.SaveSetting("Zentroca", "ProxySettings", "Address", "proxy.lan");
        fx.settings.SaveSetting("Zentroca", "ProxySettings", "Port", c.port);
        fx.settings.SaveSetting("Zentroca", "ProxySettings", "UserName", "pu");
        fx.settings.SaveSetting("Zentroca", "ProxySettings", "Password", "pp");
        ASSERT_TRUE(fx.load());
        for (const char* field : {"Text1", "Text2", "Text3", "Text4"}) {
            EXPECT_TRUE(fx.form().enabled(field)) << field;
        }
        const TransferSettings& t = fx.form().transfer;
        EXPECT_EQ(t.proxyHost, c.applied ? "proxy.lan" : "");
        EXPECT_EQ(t.proxyPort, c.expectPort);
        EXPECT_EQ(t.userName, c.applied ? "pu" : "");
        EXPECT_EQ(fx.transfer.proxy.host, t.proxyHost);
        EXPECT_EQ(fx.transfer.proxy.password, t.password);
    }
}

TEST(Startup, OldDatabaseWithoutRememberedLoginIsUpgraded) {
    AppFixture fx;
    auto db = fx.makeDatabase(false);
    ASSERT_TRUE(fx.load());
    EXPECT_NO_THROW(db->scalar("select user1 from ProxyConfig"));
    EXPECT_NO_THROW(db->scalar("select DeliverReason from MessageQueue"));
    EXPECT_EQ(fx.form().text("txtUserId"), "");
}

TEST(Startup, SavedLoginFillsTheFieldsWhenNothingIsRemembered) {
    AppFixture fx;
    auto db = fx.makeDatabase();
    db->execute("Update proxyconfig set user1=?, pass1=?,IPNO=?,ipaddress=?",
                {"dbuser", "dbpass", "9", "host9"});
    ASSERT_TRUE(fx.load());
    EXPECT_EQ(fx.form().text("txtUserId"), "dbuser");
    EXPECT_EQ(fx.form().text("txtUSerPassWord"), "dbpass");
    EXPECT_EQ(fx.form().text("Combo1"), "9");
    EXPECT_TRUE(fx.form().visible("TxtNewIP"));
    EXPECT_EQ(fx.form().text("TxtNewIP"), "host9");
}

TEST(ActivityLog, KeepsTheNewestEntryWholeAndThreeThousandOlderCharacters) {
    FormModel f;
    f.setText("txt_msg", std::string(5000, 'o'));
    f.writeLog(std::string(4000, 'n'));
    EXPECT_EQ(f.text("txt_msg"), std::string(4000, 'n') + "\r\n\r\n" + std::string(3000, 'o'));
    f.writeLog("b");
    EXPECT_EQ(f.text("txt_msg").substr(0, 6), "b\r\n\r\nn");
    EXPECT_EQ(f.text("txt_msg").size(), 5u + 3000u);
}

}  // namespace
}  // namespace parlix
