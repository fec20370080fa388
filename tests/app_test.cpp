#include <gtest/gtest.h>

#include <tuple>

#include "app/system_ports.h"
#include "base/failure.h"
#include "support/app_fixture.h"
#include "support/queue_db.h"

namespace parlix {
namespace {

using test::AppFixture;

// Setting a value from code runs the same handler as an operator's edit, and only when the
// value really changes; the view hears of every change.
TEST(FormModel, AChangeRunsItsHandlerAndReachesTheViewOnlyWhenTheValueChanges) {
    FormModel f;
    std::string seen;
    f.observe([&](const Element& e) { seen += e.name[0]; });
    int handled = 0;
    f.on("Combo1", Event::Change, [&] { handled += 1; });
    f.on("Combo1", Event::Click, [&] { handled += 10; });
    for (const char* text : {"9", "9", "7"}) {
        f.setText("Combo1", text);
    }
    EXPECT_EQ(f.el("Combo1").listIndex, -1);
    for (int index : {5, 5, -1}) {
        f.setListIndex("Combo1", index);
    }
    f.setVisible("Frm_Serversetting", true);
    EXPECT_TRUE(f.isShown("Combo1"));
    f.setVisible("Frm_Serversetting", false);
    f.setEnabled("Combo1", false);
    f.setEnabled("Combo1", false);
    f.refresh("Label3");
    EXPECT_EQ(handled, 22);
    EXPECT_EQ(seen, "CCCCFFCL");
    EXPECT_FALSE(f.isShown("Combo1") || f.isShown("Command1"));
    EXPECT_THROW(f.setListIndex("Combo1", 6), std::out_of_range);
    EXPECT_THROW(f.on("NoSuchBox", Event::Click, [] {}), std::out_of_range);
    EXPECT_THROW(f.queue(), OutsideFailure);
}

TEST(FormModel, TheActivityLogKeepsItsNewestEntryWholeAndTellsItsListeners) {
    FormModel f;
    std::vector<std::string> heard;
    f.onLogEntry([&](const std::string& entry) { heard.push_back(entry.substr(0, 1)); });
    f.setText("txt_msg", std::string(5000, 'o'));
    f.writeLog(std::string(4000, 'n'));
    EXPECT_EQ(f.text("txt_msg"), std::string(4000, 'n') + "\r\n\r\n" + std::string(3000, 'o'));
    f.prependToLog("b");
    EXPECT_EQ(f.text("txt_msg"), "b\r\n" + std::string(3000, 'n'));
    EXPECT_EQ(heard, (std::vector<std::string>{"n", "b"}));
}

class SettingsPanelTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(fx.load()); }  // no database: the panels need none
    FormModel& f() { return fx.form(); }
    AppFixture fx;
};

TEST_F(SettingsPanelTest, OnePanelIsShownAndServerNineShowsItsHostBox) {
    for (const char* button : {"Cmd_ServerSetting", "Cmd_Internet", "Cmd_Logs"}) {
        f().fire(button, Event::Click);
        EXPECT_EQ(std::string(f().visible("Frm_Serversetting") ? "S" : "") +
                      (f().visible("Frm_Internet") ? "I" : "") +
                      (f().visible("Frm_Logs") ? "L" : ""),
                  std::string(1, button[4]));
    }
    f().setListIndex("Combo1", 2);
    EXPECT_FALSE(f().visible("TxtNewIP"));
    f().setListIndex("Combo1", 5);  // 9
    EXPECT_TRUE(f().visible("TxtNewIP"));
    f().setText("TxtNewIP", "  gw.example  ");
    EXPECT_THROW(f().fire("Cmd_Save", Event::Click), test::ProgramEnded);
    EXPECT_EQ(fx.transfer.cancels, 1);
    EXPECT_EQ(fx.setting("PARLIX", "NO") + fx.setting("PARLIX", "IP"), "9gw.example");
    EXPECT_EQ(fx.ui.boxes.at(0).text, "Save Sucessfully\r\n\r\n!! Restart Server Again !!");
}

TEST_F(SettingsPanelTest, BoxesAndFieldsAreSavedTheMomentTheyChange) {
    for (int value : {1, 0}) {
        f().setValue("Chk_VistaOS", value);
        f().setValue("ChkIdPass", value);
        f().setValue("Chk_proxy", value);
        EXPECT_EQ(fx.setting("PARLIX", "OS") + fx.regValue("Remember Id PassWord") +
                      fx.setting("ProxySettings", "Proxy"),
                  std::string(3, static_cast<char>('0' + value)));
        EXPECT_EQ(f().enabled("Text1") && f().enabled("Text4"), value == 1);
    }
    f().setText("txtUserId", "alice");
    EXPECT_EQ(fx.regValue("UserId"), "");  // typing alone writes nothing
    f().fire("txtUserId", Event::Validate);
    f().setText("txtUSerPassWord", "pw");
    f().fire("txtUSerPassWord", Event::Validate);
    EXPECT_EQ(fx.regValue("UserId") + fx.regValue("PassWord"), "alicepw");
    for (const char* field : {"Text1", "Text2", "Text3", "Text4"}) {
        f().setText(field, field);
    }
    EXPECT_EQ(fx.setting("ProxySettings", "Port") + fx.setting("ProxySettings", "Address") +
                  fx.setting("ProxySettings", "Password") + fx.setting("ProxySettings", "UserName"),
              "Text1Text2Text3Text4");
    f().addItem("CMB_Senderid", "ALPHA");
    f().addItem("CMB_Senderid", "BETA");
    f().setListIndex("CMB_Senderid", 1);
    for (Event e : {Event::Change, Event::Click, Event::LostFocus}) {
        fx.settings.SaveSetting("Zentroca", "Parlix", "Senderid", "other");
        f().fire("TXT_SENDERID", e);
        EXPECT_EQ(fx.settings.GetSetting("Zentroca", "PARLIX", "senderid"), "BETA");
        f().setText("TXT_SENDERID", "G");
        f().fire("CMB_Senderid", e);
        EXPECT_EQ(f().text("TXT_SENDERID"), "BETA");
    }
}

TEST_F(SettingsPanelTest, ExitAndCloseEndTheProgramAndTheHiddenButtonStopsDispatch) {
    fx.settings.SaveSetting("Zentroca", "PARLIX", "NO", "4");
    f().setEnabled("SendMessage", true);
    f().fire("Command1", Event::Click);
    EXPECT_EQ(fx.describe({"Combo1", "SendMessage", "fmConnect"}),
              "Combo1=4; SendMessage= off; fmConnect= off");
    EXPECT_THROW(f().fire("cmdexit2", Event::Click), test::ProgramEnded);
    EXPECT_TRUE(fx.ui.boxes.empty());
    // The window's close (Form_Unload) is the window tests'; the terminate path is the same.
    auto db = fx.makeDatabase();
    fx.start();
    ASSERT_TRUE(fx.load());
    test::enqueue(*db, "1111111111", "a", "Read");
    EXPECT_THROW(fx.app->Form_Terminate(), test::ProgramEnded);
    EXPECT_EQ(test::countExact(*db, "Read"), 1);  // closing leaves the queue alone
    EXPECT_EQ(fx.form().dbConnection, nullptr);
}

TEST(SendMsg, AReloadedConfigurationReachesBothClientsAndTheNextServerCheck) {
    AppFixture fx;
    SendMsg& app = fx.start();
    app.form().serverAddress = "old.host";
    TransportConfig config;
    config.timeouts = {123, 456};
    config.payloadCodePage = "CP1251";
    app.reloadConfig(config);
    for (const HttpTimeouts& given : {fx.transfer.timeouts, fx.uploader.timeouts}) {
        EXPECT_EQ(std::pair(given.connectMs, given.totalMs), std::pair(123L, 456L));
    }
    EXPECT_EQ(app.form().serverAddress + app.environment().config.payloadCodePage, "CP1251");
}

TEST(SystemPorts, FoldersComeFromTheOptionsTheEnvironmentOrTheExecutable) {
    const std::string exe = executableFolder();
    const std::tuple<std::vector<std::string>, const char*, std::string> cases[] = {
        {{"-x", "--folder", "/a/b/", "y"}, nullptr, "/a/b||-x y "},
        {{"--settings", "/s/../t", "--folder", "/"}, "/env", "/|/t|"},
        {{}, "/env//x/../y", "/env/y||"},
        {{"z"}, "", exe + "||z "}};
    for (const auto& [given, environment, expected] : cases) {
        environment ? ::setenv("PARLIX_FOLDER", environment, 1) : ::unsetenv("PARLIX_FOLDER");
        std::vector<std::string> args = given;
        auto folders = takeFolderOptions(args).value();
        std::string rest;
        for (const std::string& a : args) {
            rest += a + " ";
        }
        EXPECT_EQ(folders.program + "|" + folders.settings + "|" + rest, expected);
    }
    ::unsetenv("PARLIX_FOLDER");
    std::vector<std::string> noFolder{"--folder"}, emptySettings{"--settings", ""};
    EXPECT_EQ(takeFolderOptions(noFolder).error().message, "--folder needs a folder");
    EXPECT_EQ(takeFolderOptions(emptySettings).error().message, "--settings needs a folder");
    test::TempDir program;
    test::FakeUi ui;
    test::FakeClock clock;
    auto ports = SystemPorts::open(ui, {program.str(), program.str() + "/s", "parlix", &clock});
    AppEnvironment env = ports.value()->environment();
    EXPECT_EQ(env.programFolder + env.ownName, program.str() + "parlix");
    // Each run's generator has a seed of its own, so two installations draw different numbers.
    auto other = SystemPorts::open(ui, {program.str(), "", "parlix", &clock});
    EXPECT_NE(env.random.next(), other.value()->environment().random.next());
    EXPECT_EQ(&env.clock, &clock);
    EXPECT_EQ(ports.value()->registry().filePath() + ports.value()->settings().filePath("A"),
              program.str() + "/registry.dat" + program.str() + "/s/A.ini");
    test::writeFile(configPath(program.str()), "http.total_timeout_ms=0\n");
    EXPECT_TRUE(SystemPorts::open(ui, {program.str(), "", "parlix", nullptr})
                    .error()
                    .message.starts_with(program.str() + "/parlix.conf: "));
}

}  // namespace
}  // namespace parlix
