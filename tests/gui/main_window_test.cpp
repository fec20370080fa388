#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "started_window.h"
#include "support/queue_db.h"

namespace parlix::test {
namespace {

// The widget class of each kind of element (and multi-line or not), and the property that shows
// its text.
const std::map<std::pair<ElementKind, bool>, std::pair<const char*, const char*>> kWidgetOf = {
    {{ElementKind::Frame, false}, {"QGroupBox", "title"}},
    {{ElementKind::Label, false}, {"QLabel", "text"}},
    {{ElementKind::TextBox, false}, {"QLineEdit", "text"}},
    {{ElementKind::TextBox, true}, {"QPlainTextEdit", "plainText"}},
    {{ElementKind::ComboBox, false}, {"QComboBox", "currentText"}},
    {{ElementKind::CheckBox, false}, {"QCheckBox", "text"}},
    {{ElementKind::Button, false}, {"QPushButton", "text"}},
};

class MainWindowTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(s.start()); }

    FormModel& form() { return s.fx.form(); }

    StartedWindow s;
};

TEST_F(MainWindowTest, EveryElementHasOneWidgetOfItsKindInItsFrameShowingTheModelsState) {
    // Changes after start-up reach the widgets as the state at start-up did.
    form().setText("Text5", "one\r\ntwo");
    form().setValue("Chk_VistaOS", 1);
    form().setEnabled("Text1", true);
    form().setListIndex("Combo2", 1);
    form().setVisible("TXT_SENDERID", true);
    EXPECT_EQ(s.window->windowTitle().toStdString(), form().text("SendMsg"));
    for (const std::string& name : form().names()) {
        SCOPED_TRACE(name);
        const Element& e = form().el(name);
        auto named = s.window->findChildren<QWidget*>(QString::fromStdString(name));
        auto kind = kWidgetOf.find({e.kind, e.multiline});
        if (kind == kWidgetOf.end()) {
            EXPECT_TRUE(named.isEmpty()) << "the window, its timer and the transfer have none";
            continue;
        }
        ASSERT_EQ(named.size(), 1);
        QWidget* w = named.front();
        auto [className, textProperty] = kind->second;
        EXPECT_STREQ(w->metaObject()->className(), className);
        EXPECT_EQ(w->property(textProperty).toString().toStdString(),
                  QString::fromStdString(e.text).replace("\r\n", "\n").toStdString());
        EXPECT_EQ(w->isHidden(), !e.visible);
        EXPECT_EQ(w->testAttribute(Qt::WA_ForceDisabled), !e.enabled);
        EXPECT_EQ(w->property("checked").toBool(), e.value == 1);
        EXPECT_EQ(w->property("echoMode").toInt() == QLineEdit::Password, e.password);
        if (!e.container.empty()) {
            EXPECT_TRUE(s.find<QWidget>(e.container.c_str())->isAncestorOf(w));
        }
    }
}

TEST_F(MainWindowTest, OperatorEditsReachTheModelAndRunItsHandlers) {
    // Keys reach the sender id box even while it is hidden; the dispatch tick reads it.
    QTest::keyClicks(s.find<QLineEdit>("TXT_SENDERID"), QStringLiteral("BETA"));
    EXPECT_EQ(s.fx.setting("Parlix", "Senderid"), "BETA");
    int clicks = 0;
    form().on("txtUserId", Event::Click, [&] { ++clicks; });
    QTest::mouseClick(s.find<QLineEdit>("txtUserId"), Qt::LeftButton);
    EXPECT_EQ(clicks, 1) << "a click into a one-line box is its Click";

    const QPoint logAt = s.find<QWidget>("Frm_Logs")->pos();
    QTest::mouseClick(s.find<QPushButton>("Cmd_ServerSetting"), Qt::LeftButton);
    EXPECT_EQ(s.find<QWidget>("Frm_Serversetting")->pos(), logAt) << "in the place of the log";
    auto* vista = s.find<QCheckBox>("Chk_VistaOS");
    QTest::mouseClick(vista, Qt::LeftButton, {}, QPoint(4, vista->height() / 2));
    EXPECT_EQ(s.fx.setting("PARLIX", "OS"), "1");

    auto* server = s.find<QComboBox>("Combo1");
    server->lineEdit()->selectAll();
    QTest::keyClicks(server->lineEdit(), QStringLiteral("9"));
    EXPECT_TRUE(form().isShown("TxtNewIP")) << "typing 9 asks for the custom host";
    QTest::keyClick(server, Qt::Key_Up);
    EXPECT_EQ(form().el("Combo1").listIndex, 4);
    EXPECT_EQ(form().text("Combo1"), "5");
    server->lineEdit()->selectAll();
    QTest::keyClicks(server->lineEdit(), QStringLiteral("7"));
    QTest::keyClick(server->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(server->count(), 6) << "the model owns the list";

    s.find<QPlainTextEdit>("Text5")->setPlainText(QStringLiteral("one\ntwo"));
    EXPECT_EQ(form().text("Text5"), "one\r\ntwo");
}

TEST_F(MainWindowTest, LeavingABoxValidatesThenLosesFocusButOpeningAComboListDoesNot) {
    const std::pair<const char*, const char*> boxes[] = {
        {"txtUserId", "Cmd_Logs"}, {"Combo2", "Cmd_ServerSetting"}, {"Text5", "Cmd_Internet"}};
    for (const auto& [name, panelButton] : boxes) {
        SCOPED_TRACE(name);
        QTest::mouseClick(s.find<QPushButton>(panelButton), Qt::LeftButton);
        std::vector<std::string> events;
        form().on(name, Event::Validate, [&] { events.push_back("Validate"); });
        form().on(name, Event::LostFocus, [&] { events.push_back("LostFocus"); });
        auto* box = s.find<QWidget>(name);
        box->setFocus(Qt::MouseFocusReason);
        if (auto* combo = qobject_cast<QComboBox*>(box)) {
            combo->showPopup();
            combo->hidePopup();
        }
        EXPECT_TRUE(events.empty());
        s.find<QWidget>("cmdexit2")->setFocus(Qt::TabFocusReason);
        EXPECT_EQ(events, (std::vector<std::string>{"Validate", "LostFocus"}));
    }
}

TEST_F(MainWindowTest, DispatchTimerFollowsItsElementAndTicksIntoTheModel) {
    auto* timer = s.window->findChild<QTimer*>(QStringLiteral("SendMessage"));
    auto* dispatch = s.window->findChild<QLabel*>(QStringLiteral("statusDispatch"));
    int ticks = 0;
    form().on("SendMessage", Event::Timer, [&] {
        ++ticks;
        form().setEnabled("SendMessage", false);
    });
    form().setEnabled("SendMessage", true);
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 1000);
    EXPECT_EQ(dispatch->text(), QStringLiteral("Dispatch on"));
    QTimerEvent tick(timer->timerId());
    QCoreApplication::sendEvent(timer, &tick);
    EXPECT_EQ(ticks, 1);
    EXPECT_FALSE(timer->isActive());
    EXPECT_EQ(dispatch->text(), QStringLiteral("Dispatch off"));
}

TEST_F(MainWindowTest, StatusLineShowsWorkWhileAHandlerRunsAndTheNewestLogEntry) {
    auto* activity = s.window->findChild<QLabel*>(QStringLiteral("statusActivity"));
    auto* progress = s.window->findChild<QProgressBar*>(QStringLiteral("statusProgress"));
    auto shown = [&] { return activity->text() + (progress->isVisible() ? " with bar" : ""); };
    QString duringWork;
    form().on("Cmd_CheckInternet", Event::Click, [&] {
        form().writeLog("Checking\r\nsecond line");
        duringWork = shown();
    });
    s.find<QPushButton>("Cmd_CheckInternet")->click();
    EXPECT_EQ(duringWork, QStringLiteral("Working… with bar"));
    EXPECT_EQ(shown(), QStringLiteral("Ready"));
    EXPECT_EQ(s.window->findChild<QLabel*>(QStringLiteral("statusNewestLog"))->text(),
              QStringLiteral("Checking"));

    s.window->showBusyPointer(true);
    EXPECT_EQ(shown(), QStringLiteral("Working… with bar"));
    s.window->showBusyPointer(false);
    EXPECT_EQ(shown(), QStringLiteral("Ready"));
}

TEST_F(MainWindowTest, AnUncaughtErrorIsShownAndEndsTheProgram) {
    form().on("Cmd_CheckInternet", Event::Click,
              [] { throw std::runtime_error("table MessageQueue is locked"); });
    s.find<QPushButton>("Cmd_CheckInternet")->click();
    EXPECT_TRUE(s.programEnded);
    ASSERT_FALSE(s.fx.ui.boxes.empty());
    EXPECT_EQ(s.fx.ui.boxes.back().text, "Run-time error: table MessageQueue is locked");
    EXPECT_EQ(s.fx.ui.boxes.back().icon, MsgIcon::Critical);
}

TEST(MainWindowEndTest, ExitPutsTakenRowsBackAndEndsClosingOnlyUnloads) {
    for (bool viaExit : {true, false}) {
        SCOPED_TRACE(viaExit ? "Exit" : "close");
        StartedWindow s;
        ASSERT_TRUE(s.start());
        enqueue(*s.outside, "0711", "a", "Read");
        if (viaExit) {
            QTest::mouseClick(s.find<QPushButton>("cmdexit2"), Qt::LeftButton);
        } else {
            EXPECT_TRUE(s.window->close());
            EXPECT_FALSE(s.fx.form().dbConnection) << "the unload closed the database";
        }
        EXPECT_TRUE(s.programEnded);
        EXPECT_EQ(countExact(*s.outside, "Read"), viaExit ? 0 : 1);
    }
}

}  // namespace
}  // namespace parlix::test
