#include <gtest/gtest.h>

#include <filesystem>

#include "base/text.h"
#include "support/app_fixture.h"
#include "support/gateway_sim_process.h"
#include "support/queue_db.h"

namespace parlix {
namespace {

using test::AppFixture;

/// The window logic against gateway-sim: servers 1 to 5 and 9 are its ports.
class LoginTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim.addAccount({"demo", "pw", 120, true, "Welcome back", "ALPHA,BETA,GAMMA"});
        for (int i = 0; i < 5; ++i) {
            fx.config.serverHosts[static_cast<size_t>(i)] = sim.serverHost(i + 1);
        }
        fx.useRealHttp();
        db = fx.makeDatabase();
    }

    void startWithServer(int serverNo) {
        fx.settings.SaveSetting("Zentroca", "PARLIX", "NO", std::to_string(serverNo));
        fx.start();
        ASSERT_TRUE(fx.load());
        fx.ui.boxes.clear();
        f().setText("txtUserId", "demo");
        f().setText("txtUSerPassWord", "pw");
    }

    void connect() { f().fire("cmdConnect2", Event::Click); }
    FormModel& f() { return fx.form(); }

    std::vector<std::string> logLines() { return fx.logLines(); }

    test::GatewaySimProcess sim;
    AppFixture fx;
    std::unique_ptr<Connection> db;
};

TEST_F(LoginTest, AcceptedLoginAppliesBalanceOptionsAndSenderIds) {
    startWithServer(1);
    connect();
    EXPECT_TRUE(f().loginOk);
    EXPECT_EQ(f().smsBalance, 120);
    EXPECT_EQ(f().text("lblSMS"), "Balance SMS: 120");
    EXPECT_TRUE(f().enabled("SendMessage"));
    EXPECT_FALSE(f().enabled("cmdConnect2"));
    EXPECT_TRUE(f().drAllowed);
    EXPECT_TRUE(f().visible("Chk_DownloadDR"));
    EXPECT_EQ(f().value("Chk_DownloadDR"), 1);
    EXPECT_FALSE(f().firstLogin);
    ASSERT_EQ(fx.ui.boxes.size(), 1u);
    EXPECT_EQ(fx.ui.boxes[0].text, "Welcome back");
    EXPECT_EQ(fx.ui.boxes[0].title, "PARLIX");
    EXPECT_EQ(f().el("CMB_Senderid").items, (std::vector<std::string>{"ALPHA", "BETA", "GAMMA"}));
    EXPECT_EQ(f().text("TXT_SENDERID"), "ALPHA");
    EXPECT_EQ(fx.settings.GetSetting("Zentroca", "Parlix", "Senderid"), "ALPHA");
    EXPECT_TRUE(f().visible("CMB_Senderid"));
    EXPECT_FALSE(f().visible("TXT_SENDERID"));
    EXPECT_EQ(db->scalar("select user1 || '/' || pass1 || '/' || IPNO from ProxyConfig").toText(),
              "demo/pw/1");

    auto requests = sim.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests.at(0)["target"].str(), "/Parlix/ParlixChk.asp");
    EXPECT_EQ(requests.at(0)["server"].str(), "1");
    EXPECT_EQ(requests.at(1)["target"].str(),
              "/Parlix/Logonchks.asp?UserId=demo&UserPassWord=pw&IP=192.168.1.5,127.0.0.1,");
    auto lines = logLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "Server: Trying to Connect server - 1 Server NO =1");
    EXPECT_EQ(lines[2], "Server: Connected   12/6/2026 3:04:05 PM");
    EXPECT_EQ(fx.clock.sleeps, std::vector<int>{500});

    // The tick's re-login: one check of the same server after 100 ms, no notice, no new ids.
    fx.clock.sleeps.clear();
    f().loginOk = false;
    f().setEnabled("cmdConnect2", true);
    connect();
    EXPECT_TRUE(f().loginOk);
    EXPECT_EQ(fx.clock.sleeps, std::vector<int>{100});
    EXPECT_EQ(logLines()[3], "Server: Trying to Connect server - 0 Server NO =1");
    EXPECT_EQ(fx.ui.boxes.size(), 1u);
    EXPECT_EQ(f().el("CMB_Senderid").items.size(), 3u);
}

TEST_F(LoginTest, EmptyFieldsAreRefusedButBlanksAreAUserId) {
    startWithServer(1);
    f().setText("txtUserId", "");
    connect();
    ASSERT_EQ(fx.ui.boxes.size(), 1u);
    EXPECT_EQ(fx.ui.boxes[0].text, "Empty: Userid");
    EXPECT_EQ(fx.ui.boxes[0].icon, MsgIcon::Question);
    EXPECT_FALSE(f().loginOk);
    EXPECT_TRUE(f().enabled("cmdConnect2"));
    f().setText("txtUserId", "   ");
    f().setText("txtUSerPassWord", "");
    connect();
    EXPECT_EQ(fx.ui.boxes.back().text, "Empty: UserPassword");
    EXPECT_TRUE(sim.requests().array().empty());
    f().setText("txtUSerPassWord", "pw");
    connect();
    EXPECT_EQ(logLines().back(), "Login: Incorrect!");
    EXPECT_EQ(sim.requests().size(), 2u);
}

TEST_F(LoginTest, ServerDownRotatesToTheNextAndRemembersIt) {
    sim.setFaults("server=3&refuse=1");
    startWithServer(3);
    connect();
    EXPECT_TRUE(f().loginOk);
    auto lines = logLines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[1], "Server: Trying to Connect server - 1 Server NO =3");
    EXPECT_EQ(lines[2], "Server: Trying to Connect server - 2 Server NO =3");
    EXPECT_EQ(lines[3], "Server: Trying to Connect server - 1 Server NO =4");
    EXPECT_EQ(f().serverNo, 4);
    EXPECT_EQ(fx.setting("PARLIX", "NO"), "4");
}

TEST_F(LoginTest, ServerFiveRotatesToOneAndAnErrorPageEndsItsAttempts) {
    sim.setFaults("server=5&check_reply=Service%20Unavailable");
    startWithServer(5);
    connect();
    EXPECT_TRUE(f().loginOk);
    EXPECT_EQ(f().serverNo, 1);
    auto lines = logLines();
    EXPECT_EQ(lines[1], "Server: Trying to Connect server - 1 Server NO =5");
    EXPECT_EQ(lines[2], "Server: Trying to Connect server - 1 Server NO =1");
}

TEST_F(LoginTest, ServerNineWithoutAHostFailsTheConnect) {
    startWithServer(9);
    test::writeFile(fx.programDir / "LastErr.txt", "old");
    connect();
    ASSERT_EQ(fx.ui.boxes.size(), 1u);
    EXPECT_EQ(fx.ui.boxes[0].text, "IP Address Not Set, Contact to your Vendor");
    EXPECT_EQ(fx.ui.boxes[0].title, "Parlix");
    EXPECT_FALSE(f().loginOk);
    EXPECT_EQ(logLines().back(), "Server: NOT Connected ");
    EXPECT_TRUE(f().visible("Cmd_CheckInternet"));
    EXPECT_TRUE(f().enabled("cmdConnect2"));
    EXPECT_FALSE(f().enabled("SendMessage"));
    EXPECT_EQ(test::readFile(fx.programDir / "LastErr.txt"), "");
    EXPECT_TRUE(sim.requests().array().empty());
}

TEST_F(LoginTest, ServerNineNeverAnsweringRetriesUntilExit) {
    fx.settings.SaveSetting("Zentroca", "PARLIX", "IP", sim.serverHost(9));
    sim.setFaults("server=9&refuse=1");
    startWithServer(9);
    fx.ui.onDoEvents = [&](int n) {
        if (n == 40) {
            f().fire("cmdexit2", Event::Click);
        }
    };
    EXPECT_THROW(connect(), test::ProgramEnded);
    EXPECT_GE(fx.clock.sleeps.size(), 10u);
    for (int ms : fx.clock.sleeps) {
        EXPECT_EQ(ms, 500);
    }
    for (const std::string& line : logLines()) {
        if (line.rfind("Server: Trying", 0) == 0) {
            EXPECT_NE(line.find("Server NO =9"), std::string::npos) << line;
        }
    }
}

TEST_F(LoginTest, AnApostropheAndAnAmpersandInThePasswordArriveIntact) {
    sim.addAccount({"o'neil", "p'w&x=1", 7, false, "", ""});
    startWithServer(2);
    f().setText("txtUserId", "o'neil");
    f().setText("txtUSerPassWord", "p'w&x=1");
    connect();
    EXPECT_TRUE(f().loginOk);
    EXPECT_EQ(f().smsBalance, 7);
    EXPECT_EQ(db->scalar("select pass1 from ProxyConfig").toText(), "p'w&x=1");
    auto login = sim.requests().at(1);
    EXPECT_EQ(login["target"].str(),
              "/Parlix/Logonchks.asp?UserId=o%27neil&UserPassWord=p%27w%26x%3D1&IP=192.168.1.5,"
              "127.0.0.1,");
}

TEST_F(LoginTest, NestedCallThatLogsInMeanwhileIsDetected) {
    startWithServer(1);
    bool nested = false;
    fx.ui.onDoEvents = [&](int) {
        if (!nested) {
            nested = true;
            connect();
        }
    };
    connect();
    EXPECT_TRUE(f().loginOk);
    EXPECT_EQ(sim.requests().size(), 2u);  // one check and one login in all
}

struct ReplyCase {
    const char* reply;
    bool loginOk;
    int balance;
    const char* caption;
    bool firstLogin;
    const char* lastLog;
};

void PrintTo(const ReplyCase& c, std::ostream* os) {
    *os << '"' << c.reply << '"';
}

class LoginReply : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(LoginReply, FieldsAreAppliedAsTheyCome) {
    const ReplyCase& c = GetParam();
    AppFixture fx;
    fx.config.serverHosts[0] = "gw.test";
    fx.makeDatabase();
    ASSERT_TRUE(fx.load());
    FormModel& f = fx.form();
    f.smsBalance = 55;
    f.setText("lblSMS", "Balance SMS: 55");
    f.setText("txtUserId", "u");
    f.setText("txtUSerPassWord", "p");
    fx.transfer.replies = {"Server Connected", c.reply};
    f.fire("cmdConnect2", Event::Click);
    EXPECT_EQ(f.loginOk, c.loginOk);
    EXPECT_EQ(f.smsBalance, c.balance);
    EXPECT_EQ(f.text("lblSMS"), c.caption);
    EXPECT_EQ(f.firstLogin, c.firstLogin);
    EXPECT_EQ(f.enabled("SendMessage"), c.loginOk);
    EXPECT_EQ(f.text("txt_msg").rfind(c.lastLog, 0), 0u) << f.text("txt_msg");
    EXPECT_EQ(fx.setting("PARLIX", "NO"), "1");
}

INSTANTIATE_TEST_SUITE_P(
    Replies, LoginReply,
    ::testing::Values(
        ReplyCase{"logonyes", true, 55, "Balance SMS: 55", true, "Server: Connected"},
        ReplyCase{"logonyes||120", true, 120, "Balance SMS: 120", true, "Server: Connected"},
        ReplyCase{"logonyes|| 120 ||NO", true, 120, "Balance SMS: 120", false, "Server: Connected"},
        ReplyCase{"logonyes||lots||NO", true, 55, "Balance SMS: lots", false, "Server: Connected"},
        ReplyCase{"logonno", false, 0, "Balance SMS: 0", true, "Login: Incorrect!"},
        ReplyCase{"LOGONYES||120", false, 0, "Balance SMS: 0", true, "Login: Fail!"},
        ReplyCase{"", false, 0, "Balance SMS: 0", true, "Login: Fail!"}),
    [](const ::testing::TestParamInfo<ReplyCase>& p) { return std::to_string(p.index); });

}  // namespace
}  // namespace parlix
