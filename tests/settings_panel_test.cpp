#include <gtest/gtest.h>

#include "support/app_fixture.h"
#include "support/queue_db.h"

namespace parlix {
namespace {

using test::AppFixture;
using test::countExact;
using test::enqueue;

class SettingsPanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        fx.makeDatabase();
        ASSERT_TRUE(fx.load());
    }
    FormModel& f() { return fx.form(); }
    AppFixture fx;
};

TEST_F(SettingsPanelTest, ExactlyOnePanelIsShown) {
    const char* panels[] = {"Frm_Logs", "Frm_Serversetting", "Frm_Internet"};
    auto shown = [&] {
        std::string out;
        for (const char* p : panels) {
            out += f().visible(p) ? p : "";
        }
        return out;
    };
    EXPECT_EQ(shown(), "Frm_Logs");
    f().fire("Cmd_ServerSetting", Event::Click);
    EXPECT_EQ(shown(), "Frm_Serversetting");
    f().fire("Cmd_Internet", Event::Click);
    EXPECT_EQ(shown(), "Frm_Internet");
    f().fire("Cmd_Logs", Event::Click);
    EXPECT_EQ(shown(), "Frm_Logs");
}

TEST_F(SettingsPanelTest, ServerNineShowsTheCustomHostBox) {
    f().setListIndex("Combo1", 5);
    EXPECT_EQ(f().text("Combo1"), "9");
    EXPECT_TRUE(f().visible("TxtNewIP"));
    f().setListIndex("Combo1", 2);
    EXPECT_FALSE(f().visible("TxtNewIP"));
    f().setText("Combo1", "9");
    EXPECT_TRUE(f().visible("TxtNewIP"));
}

TEST_F(SettingsPanelTest, SaveStoresServerAndTrimmedHostThenEnds) {
    for (const char* server : {"9", "3"}) {
        SCOPED_TRACE(server);
        fx.ui.boxes.clear();
        f().setText("Combo1", server);
        f().setText("TxtNewIP", "  gw.example  ");
        int cancels = fx.transfer.cancels;
        EXPECT_THROW(f().fire("Cmd_Save", Event::Click), test::ProgramEnded);
        EXPECT_EQ(fx.transfer.cancels, cancels + 1);
        EXPECT_EQ(fx.setting("PARLIX", "NO"), server);
        EXPECT_EQ(fx.setting("PARLIX", "IP"), "gw.example");
        ASSERT_EQ(fx.ui.boxes.size(), 1u);
        EXPECT_EQ(fx.ui.boxes[0].text, "Save Sucessfully\r\n\r\n!! Restart Server Again !!");
        EXPECT_EQ(fx.ui.boxes[0].title, "Parlix");
    }
    fx.start();
    ASSERT_TRUE(fx.load());
    EXPECT_EQ(fx.form().serverNo, 3);
    EXPECT_EQ(fx.form().text("TxtNewIP"), "gw.example");
}

TEST_F(SettingsPanelTest, VistaBoxIsStoredAndRestored) {
    f().setValue("Chk_VistaOS", 1);
    EXPECT_EQ(fx.setting("PARLIX", "OS"), "1");
    f().setValue("Chk_VistaOS", 0);
    EXPECT_EQ(fx.setting("PARLIX", "OS"), "0");
    fx.settings.SaveSetting("Zentroca", "PARLIX", "OS", "yes");
    fx.start();
    ASSERT_TRUE(fx.load());
    EXPECT_EQ(fx.form().value("Chk_VistaOS"), 1);
}

TEST_F(SettingsPanelTest, CredentialsAreWrittenOnFocusLossAndRefilledOnlyWhenRemembered) {
    f().setText("txtUserId", "alice");
    f().setText("txtUSerPassWord", "s3cret");
    EXPECT_EQ(fx.regValue("UserId"), "");  // typing alone writes nothing
    f().fire("txtUserId", Event::Validate);
    f().fire("txtUSerPassWord", Event::Validate);
    EXPECT_EQ(fx.regValue("UserId"), "alice");
    EXPECT_EQ(fx.regValue("PassWord"), "s3cret");
    fx.start();
    ASSERT_TRUE(fx.load());
    EXPECT_EQ(fx.form().text("txtUserId"), "");

    fx.form().setValue("ChkIdPass", 1);
    EXPECT_EQ(fx.regValue("Remember Id PassWord"), "1");
    fx.start();
    ASSERT_TRUE(fx.load());
    EXPECT_EQ(fx.form().text("txtUserId"), "alice");
    EXPECT_EQ(fx.form().text("txtUSerPassWord"), "s3cret");
    EXPECT_EQ(fx.form().value("ChkIdPass"), 1);
}

TEST_F(SettingsPanelTest, SenderIdFollowsTheComboAndEveryKeystroke) {
    f().addItem("CMB_Senderid", "ALPHA");
    f().addItem("CMB_Senderid", "BETA");
    f().setListIndex("CMB_Senderid", 1);
    EXPECT_EQ(f().text("TXT_SENDERID"), "BETA");
    EXPECT_EQ(fx.settings.GetSetting("Zentroca", "Parlix", "Senderid"), "BETA");
    for (const char* typed : {"G", "GA", "GAM"}) {
        f().setText("TXT_SENDERID", typed);
        EXPECT_EQ(fx.settings.GetSetting("Zentroca", "PARLIX", "senderid"), typed);
    }
}

TEST_F(SettingsPanelTest, ProxyBoxEnablesItsFieldsAndFieldsAreSavedOnChange) {
    f().setValue("Chk_proxy", 1);
    EXPECT_TRUE(f().enabled("Text3"));
    EXPECT_EQ(fx.setting("ProxySettings", "Proxy"), "1");
    f().setText("Text2", "proxy.lan");
    f().setText("Text1", "3128");
    EXPECT_EQ(fx.setting("ProxySettings", "Address"), "proxy.lan");
    EXPECT_EQ(fx.setting("ProxySettings", "Port"), "3128");
    f().setValue("Chk_proxy", 0);
    EXPECT_FALSE(f().enabled("Text3"));
}

TEST(ExitPaths, ExitAfterAFailedOpenEndsQuietly) {
    AppFixture fx;
    ASSERT_TRUE(fx.load());
    EXPECT_THROW(fx.form().fire("cmdexit2", Event::Click), test::ProgramEnded);
    EXPECT_TRUE(fx.ui.boxes.empty());
}

TEST(ExitPaths, ClosingTheWindowLeavesTheQueueAlone) {
    AppFixture fx;
    auto db = fx.makeDatabase();
    ASSERT_TRUE(fx.load());
    enqueue(*db, "1111111111", "a", "Read");
    EXPECT_THROW(fx.app->Form_Unload(), test::ProgramEnded);
    EXPECT_EQ(countExact(*db, "Read"), 1);
    EXPECT_EQ(fx.form().dbConnection, nullptr);
}

TEST(ExitPaths, HiddenServerButtonRestoresTheChoiceAndStopsDispatch) {
    AppFixture fx;
    fx.makeDatabase();
    fx.settings.SaveSetting("Zentroca", "PARLIX", "NO", "4");
    ASSERT_TRUE(fx.load());
    fx.form().setText("Combo1", "2");
    fx.form().setEnabled("SendMessage", true);
    fx.form().fire("Command1", Event::Click);
    EXPECT_EQ(fx.form().text("Combo1"), "4");
    EXPECT_FALSE(fx.form().enabled("SendMessage"));
    EXPECT_FALSE(fx.form().enabled("fmConnect"));
}

}  // namespace
}  // namespace parlix
