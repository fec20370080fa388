#include <gtest/gtest.h>

#include <tuple>
#include <utility>

#include "support/app_fixture.h"
#include "support/queue_db.h"

namespace parlix {
namespace {

using test::AppFixture;

/// The window logic against gateway-sim: servers 1 to 5 and 9 are its ports.
class LoginTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim.addAccount({"demo", "pw", 120, true, "Welcome back", "ALPHA,BETA,GAMMA"});
        fx.useGateway(sim);
        db = fx.makeDatabase();
    }

    void startWithServer(int serverNo) {
        fx.settings.SaveSetting("Zentroca", "PARLIX", "NO", std::to_string(serverNo));
        fx.start();
        ASSERT_TRUE(fx.load());
        fx.ui.boxes.clear();
    }
    void connect() { f().fire("cmdConnect2", Event::Click); }
    FormModel& f() { return fx.form(); }

    test::GatewaySimProcess& sim = test::GatewaySimProcess::shared();
    AppFixture fx;
    std::unique_ptr<Connection> db;
};

// An apostrophe and an ampersand in the user id and password arrive intact. A Connect nested in
// the first one's events logs in meanwhile; the outer one sees that and does nothing more.
TEST_F(LoginTest, AnAcceptedLoginAppliesBalanceOptionsAndSenderIdsOnce) {
    sim.addAccount({"o'neil", "p'w&x=1", 120, true, "Welcome back", "ALPHA,BETA,GAMMA"});
    startWithServer(1);
    bool nested = false;
    fx.ui.onDoEvents = [&](int) {
        if (!std::exchange(nested, true)) {
            fx.logIn("o'neil", "p'w&x=1");
        }
    };
    fx.logIn("o'neil", "p'w&x=1");
    EXPECT_EQ(sim.requests().at(1).at("target").get<std::string>(),
              "/Parlix/Logonchks.asp?UserId=o%27neil&UserPassWord=p%27w%26x%3D1&IP=192.168.1.5,"
              "127.0.0.1,");
    EXPECT_EQ(fx.describe({"lblSMS", "SendMessage", "cmdConnect2", "Chk_DownloadDR", "CMB_Senderid",
                           "Label10", "TXT_SENDERID"}),
              "lblSMS=Balance SMS: 120; SendMessage=; cmdConnect2=&Connect off; "
              "Chk_DownloadDR=Download DR value 1; CMB_Senderid=ALPHA; Label10=Sender ID; "
              "TXT_SENDERID=ALPHA hidden");
    EXPECT_EQ(fx.ui.boxes.at(0).text + "|" + fx.ui.boxes[0].title, "Welcome back|PARLIX");
    EXPECT_EQ(f().el("CMB_Senderid").items, (std::vector<std::string>{"ALPHA", "BETA", "GAMMA"}));
    EXPECT_EQ(db->scalar("SELECT user1 || '/' || pass1 || '/' || IPNO FROM ProxyConfig"),
              Value("o'neil/p'w&x=1/1"));
    EXPECT_EQ(fx.logLines(),
              (std::vector<std::string>{"DatabaseLoad: Success",
                                        "Server: Trying to Connect server - 1 Server NO =1",
                                        "Server: Connected   12/6/2026 3:04:05 PM"}));
    EXPECT_EQ(fx.clock.sleeps, std::vector<int>{500});

    // The tick's re-login: one check of the same server after 100 ms, no notice, no new ids.
    fx.clock.sleeps.clear();
    f().setEnabled("cmdConnect2", true);
    connect();
    EXPECT_TRUE(f().loginOk);
    EXPECT_EQ(fx.clock.sleeps, std::vector<int>{100});
    EXPECT_EQ(fx.logLines()[3], "Server: Trying to Connect server - 0 Server NO =1");
    EXPECT_EQ(fx.ui.boxes.size() + f().el("CMB_Senderid").items.size(), 4u);

    // A re-check the server fails ends the login; the next one looks for a server afresh.
    sim.setFaults("server=1&check_reply=Service%20Unavailable");
    f().setEnabled("cmdConnect2", true);
    connect();
    EXPECT_FALSE(f().loginOk);
    EXPECT_EQ(fx.describe({"Cmd_CheckInternet", "cmdConnect2", "SendMessage"}),
              "Cmd_CheckInternet=Start; cmdConnect2=&Connect; SendMessage= off");
    EXPECT_EQ(f().serverAddress, "");
}

// An empty field is refused before the gateway is asked; a user id of blanks is not empty.
TEST_F(LoginTest, EmptyFieldsAreRefusedButBlanksAreAUserId) {
    startWithServer(1);
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"", "pw", "Empty: Userid"},
        {"u", "", "Empty: UserPassword"},
        {"   ", "", "Empty: UserPassword"},
        {"   ", "pw", ""}};
    for (const auto& [user, password, box] : cases) {
        fx.ui.boxes.clear();
        f().setText("txtUserId", user);
        f().setText("txtUSerPassWord", password);
        connect();
        EXPECT_TRUE(!f().loginOk && f().enabled("cmdConnect2"));
        EXPECT_EQ(fx.ui.boxes.empty() ? "" : fx.ui.boxes[0].text, box);
    }
    EXPECT_EQ(sim.requests().size(), 2u);  // only the last got as far as the gateway
}

// A server that is down or answers anything but "Server Connected" is tried twice at most,
// then the next one is; 5 is followed by 1, and the one that answered is remembered.
TEST_F(LoginTest, AServerThatFailsItsCheckHandsOverToTheNext) {
    const std::tuple<int, const char*, const char*, int> cases[] = {
        {3, "server=3&refuse=1", "1 Server NO =3|2 Server NO =3|1 Server NO =4|", 4},
        {5, "server=5&check_reply=Service%20Unavailable", "1 Server NO =5|1 Server NO =1|", 1}};
    for (const auto& [server, fault, tried, answered] : cases) {
        sim.setFaults(fault);
        startWithServer(server);
        fx.logIn();
        EXPECT_TRUE(f().loginOk);
        std::string lines;
        for (const std::string& line : fx.logLines()) {
            lines += line.starts_with("Server: Trying") ? line.substr(35) + "|" : "";
        }
        EXPECT_EQ(lines, tried);
        EXPECT_EQ(fx.setting("PARLIX", "NO"), std::to_string(answered));
    }
}

TEST_F(LoginTest, ServerNineWithoutAHostFailsAndOneNeverAnsweringIsRetriedUntilExit) {
    startWithServer(9);
    test::writeFile(fx.programDir / "LastErr.txt", "old");
    fx.logIn();
    EXPECT_EQ(fx.ui.boxes.at(0).text, "IP Address Not Set, Contact to your Vendor");
    EXPECT_FALSE(f().loginOk);
    EXPECT_EQ(fx.logLines().back(), "Server: NOT Connected ");
    EXPECT_EQ(test::readFile(fx.programDir / "LastErr.txt"), "");

    // The fake client refuses at once and runs no events of its own.
    fx.settings.SaveSetting("Zentroca", "PARLIX", "IP", "gw9.test");
    fx.realTransfer.reset();
    fx.transfer.responder = [](const test::FakeHttpClient::Request&) -> std::string {
        throw TransferError("refused", 7);
    };
    startWithServer(9);
    fx.clock.sleeps.clear();
    fx.ui.doEventsCount = 0;
    fx.ui.onDoEvents = [&](int n) {
        if (n == 40) {
            f().fire("cmdexit2", Event::Click);
        }
    };
    EXPECT_THROW(fx.logIn(), test::ProgramEnded);
    // Events run before each check and after each failed one, after two of the Connect's own:
    // the 40th comes at the 19th check.
    EXPECT_EQ(fx.clock.sleeps, std::vector<int>(19, 500));
    for (const test::FakeHttpClient::Request& r : fx.transfer.requests) {
        EXPECT_EQ(r.url, "http://gw9.test/Parlix/ParlixChk.asp");  // no other server is tried
    }
}

// A reply's fields, as they come: the balance, the report option, a notice and the sender ids.
TEST(LoginReply, FieldsAreAppliedAsTheyCome) {
    const std::pair<const char*, const char*> cases[] = {
        {"logonyes", "Balance SMS: 55 = 55 firstLogin"},
        {"logonyes||120", "Balance SMS: 120 = 120 firstLogin"},
        {"logonyes|| 120 ||NO", "Balance SMS: 120 = 120"},
        {"logonyes||lots||YES|| ||A,B", "Balance SMS: lots = 55 dr sender BETA"},
        {"logonyes||9||NO||note||C,D", "Balance SMS: 9 = 9 box sender BETA"},
        {"logonyes||9||NO||||  ZENTROCAOPENSENDERID ", "Balance SMS: 9 = 9 sender  open BETA"},
        {"logonyes||9||NO||  ", "Balance SMS: 9 = 9"},
        {"logonno", "Balance SMS: 0 = 0 refused Login: Incorrect!"},
        {"LOGONYES||120", "Balance SMS: 0 = 0 refused Login: Fail!"},
        {"", "Balance SMS: 0 = 0 refused Login: Fail!"}};
    for (const auto& [reply, state] : cases) {
        AppFixture fx;
        fx.config.serverHosts[0] = "gw.test";
        fx.settings.SaveSetting("Zentroca", "Parlix", "Senderid", "BETA");
        ASSERT_TRUE(fx.load());  // without a database, which the login can do without
        FormModel& f = fx.form();
        f.setEnabled("cmdConnect2", true);
        f.smsBalance = 55;
        f.setText("lblSMS", "Balance SMS: 55");
        fx.transfer.replies = {"Server Connected", reply};
        fx.logIn("u", "p");
        const bool ok = f.loginOk;
        const std::string log = fx.logLines().back();
        EXPECT_EQ(f.text("lblSMS") + " = " + std::to_string(f.smsBalance) +
                      (f.firstLogin && ok ? " firstLogin" : "") + (f.drAllowed ? " dr" : "") +
                      (fx.ui.boxes.empty() ? "" : " box") +
                      (f.visible("CMB_Senderid") ? " sender " + f.text("CMB_Senderid") : "") +
                      (f.visible("TXT_SENDERID") ? " open " + f.text("TXT_SENDERID") : "") +
                      (ok ? "" : " refused " + log),
                  state)
            << reply;
        EXPECT_EQ(f.enabled("SendMessage") + f.enabled("cmdConnect2"), 1);
        EXPECT_TRUE(!ok || log.starts_with("Server: Connected")) << reply;
        EXPECT_EQ(fx.transfer.requests.at(0).url, "http://gw.test/Parlix/ParlixChk.asp");
    }
}

}  // namespace
}  // namespace parlix
