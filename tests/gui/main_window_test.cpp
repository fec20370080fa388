#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <string>

#include "model/element.h"
#include "started_window.h"
#include "support/queue_db.h"

namespace parlix::test {
namespace {

struct ExpectedWidget {
    const char* name;
    const char* type;
    /// Caption or text after start-up on a fresh machine; nullptr where it is not fixed.
    const char* text;
    bool shown;
};

// The window after start-up on a fresh machine, as the operator sees it.
const ExpectedWidget kAfterStartup[] = {
    {"fmConnect", "QGroupBox", "", true},
    {"Label7", "QLabel", "UserName:", true},
    {"txtUserId", "QLineEdit", "", true},
    {"Label6", "QLabel", "PassWord:", true},
    {"txtUSerPassWord", "QLineEdit", "", true},
    {"cmdConnect2", "QPushButton", "&Connect", true},
    {"cmdexit2", "QPushButton", "E&xit", true},
    {"Cmd_ServerSetting", "QPushButton", "Server Settings", true},
    {"Cmd_Internet", "QPushButton", "Internet Check", true},
    {"Cmd_Logs", "QPushButton", "Logs", true},
    {"Command1", "QPushButton", "Sevrer Settings", false},
    {"Label10", "QLabel", "Sender ID", false},
    {"TXT_SENDERID", "QLineEdit", "", false},
    {"CMB_Senderid", "QComboBox", "", false},
    {"Chk_proxy", "QCheckBox", "Proxy", false},
    {"Frm_proxy", "QGroupBox", "", false},
    {"Label2", "QLabel", "Address :", false},
    {"Text2", "QLineEdit", "", false},
    {"Label1", "QLabel", "Port", false},
    {"Text1", "QLineEdit", "", false},
    {"Label5", "QLabel", "User Name", false},
    {"Text4", "QLineEdit", "", false},
    {"Label4", "QLabel", "Password", false},
    {"Text3", "QLineEdit", "", false},
    {"LblSent", "QLabel", "Sent =  0", true},
    {"lblSMS", "QLabel", "Balance =  0", true},
    {"Label3", "QLabel", "03:04:05:PM", true},
    {"Frm_Logs", "QGroupBox", "Logs", true},
    {"txt_msg", "QPlainTextEdit", nullptr, true},
    {"txtMsg", "QPlainTextEdit", "", true},
    {"Frm_Serversetting", "QGroupBox", "Server Settings", false},
    {"Label8", "QLabel", "Server Selection :", false},
    {"Combo1", "QComboBox", "1", false},
    {"TxtNewIP", "QLineEdit", "", false},
    {"Label9", "QLabel", "SMS Type", false},
    {"Combo2", "QComboBox", "TEXT", false},
    {"Chk_VistaOS", "QCheckBox", "Vista OS / Windows 7", false},
    {"Chk_DownloadDR", "QCheckBox", "Download DR", false},
    {"ChkIdPass", "QCheckBox", "Remenber Id && PassWord", false},
    {"Cmd_Save", "QPushButton", "Save", false},
    {"Cmd_AlterDatabase", "QPushButton", "Alter Databse", false},
    {"Cmd_DownloadDR", "QPushButton", "DownloadDR", false},
    {"Frm_Internet", "QGroupBox", "Internet Check", false},
    {"Text5", "QPlainTextEdit", "", false},
    {"Cmd_CheckInternet", "QPushButton", "Start", false},
};

QString shownText(QWidget* w) {
    if (auto* label = qobject_cast<QLabel*>(w)) {
        return label->text();
    }
    if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        return button->text();
    }
    if (auto* frame = qobject_cast<QGroupBox*>(w)) {
        return frame->title();
    }
    if (auto* line = qobject_cast<QLineEdit*>(w)) {
        return line->text();
    }
    if (auto* edit = qobject_cast<QPlainTextEdit*>(w)) {
        return edit->toPlainText();
    }
    if (auto* combo = qobject_cast<QComboBox*>(w)) {
        return combo->currentText();
    }
    return QStringLiteral("<no text>");
}

class MainWindowTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(s.start()); }

    QWidget* widget(const char* name) const { return s.find<QWidget>(name); }

    void click(const char* name) {
        auto* button = s.find<QPushButton>(name);
        ASSERT_NE(button, nullptr) << name;
        QTest::mouseClick(button, Qt::LeftButton);
        QApplication::processEvents();
    }

    std::vector<std::string> shownPanels() const {
        std::vector<std::string> shown;
        for (const char* panel : {"Frm_Logs", "Frm_Serversetting", "Frm_Internet"}) {
            if (widget(panel)->isVisible()) {
                shown.push_back(panel);
            }
        }
        return shown;
    }

    StartedWindow s;
};

TEST_F(MainWindowTest, EveryElementHasExactlyOneWidgetNamedAfterIt) {
    for (const Element& e : mainWindowElements()) {
        SCOPED_TRACE(e.name);
        QString name = QString::fromStdString(e.name);
        auto named = s.window->findChildren<QWidget*>(name);
        switch (e.kind) {
            case ElementKind::Window:
                EXPECT_EQ(s.window->objectName(), name);
                EXPECT_TRUE(named.isEmpty());
                break;
            case ElementKind::Timer:
                EXPECT_NE(s.window->findChild<QTimer*>(name), nullptr);
                EXPECT_TRUE(named.isEmpty());
                break;
            case ElementKind::Transfer:
                EXPECT_TRUE(named.isEmpty());
                break;
            default:
                EXPECT_EQ(named.size(), 1);
        }
    }
}

TEST_F(MainWindowTest, AfterStartupShowsEveryCaptionAndOnlyTheLogPanel) {
    for (const ExpectedWidget& x : kAfterStartup) {
        SCOPED_TRACE(x.name);
        QWidget* w = widget(x.name);
        ASSERT_NE(w, nullptr);
        EXPECT_STREQ(w->metaObject()->className(), x.type);
        if (x.text != nullptr) {
            EXPECT_EQ(shownText(w).toStdString(), x.text);
        }
        EXPECT_EQ(w->isVisible(), x.shown);
    }
    QString title = QStringLiteral("Parlix Software  -  V.%1.%2.%3")
                        .arg(PARLIX_VERSION_MAJOR)
                        .arg(PARLIX_VERSION_MINOR)
                        .arg(PARLIX_VERSION_PATCH);
    EXPECT_EQ(s.window->windowTitle(), title);
    EXPECT_TRUE(s.find<QPlainTextEdit>("txt_msg")->toPlainText().startsWith(
        QStringLiteral("DatabaseLoad: Success\n")));
    EXPECT_TRUE(s.find<QPushButton>("cmdConnect2")->isEnabled());
    EXPECT_FALSE(s.find<QLineEdit>("Text1")->isEnabled()) << "proxy off disables its fields";
}

TEST_F(MainWindowTest, CaptionsMarkTheirAccessKeyAndShowDoubledAmpersandsOnce) {
    EXPECT_EQ(s.find<QPushButton>("cmdConnect2")->shortcut(), QKeySequence(Qt::ALT | Qt::Key_C));
    EXPECT_EQ(s.find<QPushButton>("cmdexit2")->shortcut(), QKeySequence(Qt::ALT | Qt::Key_X));
    EXPECT_TRUE(s.find<QCheckBox>("ChkIdPass")->shortcut().isEmpty());
}

TEST_F(MainWindowTest, PasswordBoxesEchoStarsAndLogBoxesScroll) {
    for (const char* name : {"txtUSerPassWord", "Text3"}) {
        SCOPED_TRACE(name);
        auto* box = s.find<QLineEdit>(name);
        box->setText(QStringLiteral("abc"));
        EXPECT_EQ(box->text(), QStringLiteral("abc"));
        EXPECT_EQ(box->displayText(), QStringLiteral("***"));
    }
    EXPECT_EQ(s.find<QLineEdit>("txtUserId")->echoMode(), QLineEdit::Normal);
    for (const char* name : {"txt_msg", "txtMsg", "Text5"}) {
        SCOPED_TRACE(name);
        auto* box = s.find<QPlainTextEdit>(name);
        EXPECT_EQ(box->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        EXPECT_FALSE(box->isReadOnly());
    }
}

TEST_F(MainWindowTest, PanelButtonsShowOnePanelAtATimeInTheSamePlace) {
    QPoint logsAt = widget("Frm_Logs")->pos();
    const std::pair<const char*, const char*> steps[] = {
        {"Cmd_ServerSetting", "Frm_Serversetting"},
        {"Cmd_Internet", "Frm_Internet"},
        {"Cmd_Logs", "Frm_Logs"},
        {"Cmd_Internet", "Frm_Internet"},
        {"Cmd_ServerSetting", "Frm_Serversetting"},
    };
    for (const auto& [button, panel] : steps) {
        SCOPED_TRACE(button);
        click(button);
        EXPECT_EQ(shownPanels(), std::vector<std::string>{panel});
        EXPECT_EQ(widget(panel)->pos(), logsAt);
        EXPECT_EQ(s.fx.form().isShown(panel), true);
    }
}

TEST_F(MainWindowTest, LeavingTheUserIdBoxWritesItToTheRegistry) {
    auto* userId = s.find<QLineEdit>("txtUserId");
    userId->setFocus(Qt::MouseFocusReason);
    QTest::keyClicks(userId, QStringLiteral("alice"));
    EXPECT_EQ(s.fx.form().text("txtUserId"), "alice");
    EXPECT_EQ(s.fx.regValue("UserId"), "") << "written when the focus leaves, not per key";

    QTest::keyClick(userId, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), s.find<QLineEdit>("txtUSerPassWord"));
    EXPECT_EQ(s.fx.regValue("UserId"), "alice");

    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("s3cret"));
    s.find<QPushButton>("cmdexit2")->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(s.fx.regValue("PassWord"), "s3cret");
    EXPECT_FALSE(s.programEnded);
}

TEST_F(MainWindowTest, LeavingAComboBoxValidatesThenLosesFocusButOpeningItsListDoesNot) {
    click("Cmd_ServerSetting");
    std::vector<std::string> events;
    s.fx.form().on("Combo2", Event::Validate, [&] { events.push_back("Validate"); });
    s.fx.form().on("Combo2", Event::LostFocus, [&] { events.push_back("LostFocus"); });
    auto* combo = s.find<QComboBox>("Combo2");
    combo->setFocus(Qt::MouseFocusReason);
    combo->showPopup();
    combo->hidePopup();
    EXPECT_TRUE(events.empty());

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(events, (std::vector<std::string>{"Validate", "LostFocus"}));
}

TEST_F(MainWindowTest, ServerNineShowsTheCustomHostBoxWhetherTypedOrChosen) {
    click("Cmd_ServerSetting");
    auto* combo = s.find<QComboBox>("Combo1");
    auto* host = widget("TxtNewIP");
    ASSERT_FALSE(host->isVisible());

    combo->setFocus(Qt::MouseFocusReason);
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo->lineEdit(), QStringLiteral("9"));
    EXPECT_EQ(s.fx.form().text("Combo1"), "9");
    EXPECT_TRUE(host->isVisible());

    QTest::keyClick(combo, Qt::Key_Up);
    EXPECT_EQ(combo->currentText(), QStringLiteral("5"));
    EXPECT_EQ(s.fx.form().el("Combo1").listIndex, 4);
    EXPECT_FALSE(host->isVisible());

    QTest::keyClick(combo, Qt::Key_Down);
    EXPECT_EQ(s.fx.form().text("Combo1"), "9");
    EXPECT_TRUE(host->isVisible());
}

TEST_F(MainWindowTest, CheckBoxClicksReachTheModelAndModelChangesReachTheBoxes) {
    click("Cmd_ServerSetting");
    auto* vista = s.find<QCheckBox>("Chk_VistaOS");
    QTest::mouseClick(vista, Qt::LeftButton, {}, QPoint(4, vista->height() / 2));
    EXPECT_EQ(s.fx.form().value("Chk_VistaOS"), 1);
    EXPECT_EQ(s.fx.setting("PARLIX", "OS"), "1");

    s.fx.form().setValue("Chk_VistaOS", 0);
    EXPECT_FALSE(vista->isChecked());
    EXPECT_EQ(s.fx.setting("PARLIX", "OS"), "0");

    s.fx.form().setText("LblSent", "Sent =  12");
    EXPECT_EQ(s.find<QLabel>("LblSent")->text(), QStringLiteral("Sent =  12"));
}

TEST_F(MainWindowTest, ExitPutsRowsTakenForSendingBackInTheQueueAndEnds) {
    enqueue(*s.outside, Value(std::string("0711")), Value(std::string("a")), "Read");
    enqueue(*s.outside, Value(std::string("0712")), Value(std::string("b")), "Read");
    enqueue(*s.outside, Value(std::string("0713")), Value(std::string("c")), "Sent");
    s.fx.form().setEnabled("SendMessage", true);

    click("cmdexit2");
    EXPECT_TRUE(s.programEnded);
    EXPECT_EQ(countExact(*s.outside, "Read"), 0);
    EXPECT_EQ(countExact(*s.outside, "Queued"), 2);
    EXPECT_EQ(countExact(*s.outside, "Sent"), 1);
    EXPECT_FALSE(s.window->findChild<QTimer*>(QStringLiteral("SendMessage"))->isActive());
}

TEST_F(MainWindowTest, ClosingTheWindowEndsWithoutTouchingTheQueue) {
    enqueue(*s.outside, Value(std::string("0711")), Value(std::string("a")), "Read");
    EXPECT_TRUE(s.window->close());
    EXPECT_TRUE(s.programEnded);
    EXPECT_EQ(countExact(*s.outside, "Read"), 1);
    EXPECT_FALSE(s.fx.form().dbConnection) << "the unload closed the database";
}

TEST_F(MainWindowTest, DispatchTimerFollowsItsElementAndTicksIntoTheModel) {
    auto* timer = s.window->findChild<QTimer*>(QStringLiteral("SendMessage"));
    auto* dispatch = s.window->findChild<QLabel*>(QStringLiteral("statusDispatch"));
    EXPECT_FALSE(timer->isActive());
    EXPECT_EQ(dispatch->text(), QStringLiteral("Dispatch off"));

    int ticks = 0;
    s.fx.form().on("SendMessage", Event::Timer, [&] {
        ++ticks;
        s.fx.form().setEnabled("SendMessage", false);
    });
    s.fx.form().setEnabled("SendMessage", true);
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 1000);
    EXPECT_EQ(dispatch->text(), QStringLiteral("Dispatch on"));

    QTimerEvent tick(timer->timerId());
    QCoreApplication::sendEvent(timer, &tick);
    EXPECT_EQ(ticks, 1);
    EXPECT_FALSE(timer->isActive());
}

TEST_F(MainWindowTest, StatusLineShowsWorkWhileAHandlerWaitsAndTheNewestLogEntry) {
    auto* activity = s.window->findChild<QLabel*>(QStringLiteral("statusActivity"));
    auto* progress = s.window->findChild<QProgressBar*>(QStringLiteral("statusProgress"));
    auto* newest = s.window->findChild<QLabel*>(QStringLiteral("statusNewestLog"));
    EXPECT_EQ(activity->text(), QStringLiteral("Ready"));
    EXPECT_FALSE(progress->isVisible());
    EXPECT_EQ(newest->text(), QStringLiteral("DatabaseLoad: Success"));

    QString duringWork;
    bool progressDuringWork = false;
    s.fx.form().on("Cmd_CheckInternet", Event::Click, [&] {
        s.fx.form().writeLog("Checking\r\nsecond line");
        duringWork = activity->text();
        progressDuringWork = progress->isVisible();
    });
    s.find<QPushButton>("Cmd_CheckInternet")->click();
    EXPECT_EQ(duringWork, QStringLiteral("Working…"));
    EXPECT_TRUE(progressDuringWork);
    EXPECT_EQ(activity->text(), QStringLiteral("Ready"));
    EXPECT_EQ(newest->text(), QStringLiteral("Checking"));
}

TEST_F(MainWindowTest, AnUncaughtErrorIsShownAndEndsTheProgram) {
    s.fx.form().on("Cmd_CheckInternet", Event::Click,
                   [] { throw std::runtime_error("table MessageQueue is locked"); });
    s.find<QPushButton>("Cmd_CheckInternet")->click();
    EXPECT_TRUE(s.programEnded);
    ASSERT_FALSE(s.fx.ui.boxes.empty());
    EXPECT_EQ(s.fx.ui.boxes.back().text, "Run-time error: table MessageQueue is locked");
    EXPECT_EQ(s.fx.ui.boxes.back().icon, MsgIcon::Critical);
}

TEST_F(MainWindowTest, MultiLineTextKeepsTheModelsLineBreaks) {
    s.fx.form().setText("Text5", "one\r\ntwo");
    auto* box = s.find<QPlainTextEdit>("Text5");
    EXPECT_EQ(box->toPlainText(), QStringLiteral("one\ntwo"));
    box->appendPlainText(QStringLiteral("three"));
    EXPECT_EQ(s.fx.form().text("Text5"), "one\r\ntwo\r\nthree");
}

}  // namespace
}  // namespace parlix::test
