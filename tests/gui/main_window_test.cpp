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
#include <stdexcept>
#include <string>
#include <vector>

#include "started_window.h"
#include "support/gateway_sim_process.h"
#include "support/queue_db.h"

namespace parlix::test {
namespace {

class MainWindowTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(s.start()); }
    FormModel& form() { return s.fx.form(); }

    StartedWindow s;
};

TEST_F(MainWindowTest, EveryElementHasOneWidgetInItsFrameShowingTheModelsState) {
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
        // The window, its timer and the transfer have none.
        const bool none = e.kind == ElementKind::Window || e.kind == ElementKind::Timer ||
                          e.kind == ElementKind::Transfer;
        ASSERT_EQ(named.size(), none ? 0 : 1);
        if (none) {
            continue;
        }
        QWidget* w = named.front();
        QVariant text;  // the property that shows the element's text
        for (const char* property : {"text", "title", "plainText", "currentText"}) {
            text = text.isValid() ? text : w->property(property);
        }
        EXPECT_EQ(text.toString(), QString::fromStdString(e.text).replace("\r\n", "\n"));
        EXPECT_EQ(w->isHidden(), !e.visible);
        EXPECT_EQ(w->testAttribute(Qt::WA_ForceDisabled), !e.enabled);
        EXPECT_EQ(w->property("checked").toBool(), e.value == 1);
        EXPECT_EQ(w->property("echoMode").toInt() == QLineEdit::Password, e.password);
        EXPECT_TRUE(e.container.empty() || s.find(e.container.c_str())->isAncestorOf(w));
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

    const QPoint logAt = s.find("Frm_Logs")->pos();
    s.find<QPushButton>("Cmd_ServerSetting")->click();
    EXPECT_EQ(s.find("Frm_Serversetting")->pos(), logAt) << "in the place of the log";
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
    EXPECT_TRUE(s.window->close());
    EXPECT_TRUE(s.programEnded) << "closing the window runs the unload";
}

TEST_F(MainWindowTest, LeavingABoxValidatesThenLosesFocusButOpeningAComboListDoesNot) {
    const std::pair<const char*, const char*> boxes[] = {
        {"txtUserId", "Cmd_Logs"}, {"Combo2", "Cmd_ServerSetting"}, {"Text5", "Cmd_Internet"}};
    for (const auto& [name, panelButton] : boxes) {
        SCOPED_TRACE(name);
        s.find<QPushButton>(panelButton)->click();
        std::vector<std::string> events;
        form().on(name, Event::Validate, [&] { events.push_back("Validate"); });
        form().on(name, Event::LostFocus, [&] { events.push_back("LostFocus"); });
        s.find(name)->setFocus(Qt::MouseFocusReason);
        if (auto* combo = s.find<QComboBox>(name)) {
            combo->showPopup();
            combo->hidePopup();
        }
        EXPECT_TRUE(events.empty());
        s.find("cmdexit2")->setFocus(Qt::TabFocusReason);
        EXPECT_EQ(events, (std::vector<std::string>{"Validate", "LostFocus"}));
    }
}

// The status line shows whether the program is at work (a handler runs, or the busy pointer is
// on), the newest log entry's first line and whether the dispatch timer runs.
TEST_F(MainWindowTest, StatusLineShowsTheProgramsWorkAndAnUncaughtErrorEndsIt) {
    auto* timer = s.find<QTimer>("SendMessage");
    auto shown = [&] {
        return s.find<QLabel>("statusActivity")->text() +
               (s.find<QProgressBar>("statusProgress")->isVisible() ? " with bar, " : ", ") +
               s.find<QLabel>("statusDispatch")->text() + (timer->isActive() ? " every " : " ") +
               QString::number(timer->interval());
    };
    QString duringWork;
    form().on("Cmd_CheckInternet", Event::Click, [&] {
        form().writeLog("Checking\r\nsecond line");
        form().setEnabled("SendMessage", true);
        duringWork = shown();
    });
    s.find<QPushButton>("Cmd_CheckInternet")->click();
    EXPECT_EQ(duringWork, QStringLiteral("Working… with bar, Dispatch on every 1000"));
    EXPECT_EQ(shown(), QStringLiteral("Ready, Dispatch on every 1000"));
    EXPECT_EQ(s.find<QLabel>("statusNewestLog")->text(), QStringLiteral("Checking"));
    form().setEnabled("SendMessage", false);
    s.window->showBusyPointer(true);
    EXPECT_EQ(shown(), QStringLiteral("Working… with bar, Dispatch off 1000"));
    s.window->showBusyPointer(false);
    EXPECT_EQ(shown(), QStringLiteral("Ready, Dispatch off 1000"));

    // An error no handler catches is shown and ends the program; the work it did is over.
    form().on("Cmd_CheckInternet", Event::Click,
              [] { throw std::runtime_error("table MessageQueue is locked"); });
    s.find<QPushButton>("Cmd_CheckInternet")->click();
    EXPECT_TRUE(s.programEnded);
    ASSERT_FALSE(s.fx.ui.boxes.empty());
    EXPECT_EQ(s.fx.ui.boxes.back().text, "Run-time error: table MessageQueue is locked");
    EXPECT_EQ(s.fx.ui.boxes.back().icon, MsgIcon::Critical);
    EXPECT_EQ(shown(), QStringLiteral("Ready, Dispatch off 1000"));
}

// The program as an operator meets it: the real window over the real queue database, talking
// HTTP on loopback to gateway-sim. A smoke run: start-up, Connect, one tick of each sender with
// the delivery reports, Exit.
TEST(WindowEndToEndTest, ConnectSendsThroughBothSendersAppliesReportsAndExits) {
    GatewaySimProcess sim;
    sim.addAccount({"demo", "pw", 100, true, "", "ALPHA"});
    StartedWindow s;
    s.fx.useGateway(sim);
    ASSERT_TRUE(s.start());
    QTest::keyClicks(s.find<QLineEdit>("txtUserId"), QStringLiteral("demo"));
    QTest::keyClicks(s.find<QLineEdit>("txtUSerPassWord"), QStringLiteral("pw"));
    QTest::mouseClick(s.find<QPushButton>("cmdConnect2"), Qt::LeftButton);
    auto* timer = s.find<QTimer>("SendMessage");
    ASSERT_TRUE(timer->isActive()) << s.fx.form().text("txt_msg");

    // Each tick of the timer runs the model's; a sender id selects the batch sender, none the
    // single-file sender.
    for (const char* senderId : {"ALPHA", ""}) {
        s.fx.form().setText("TXT_SENDERID", senderId);
        enqueue(*s.outside, "9800000001", "Hello");
        s.fx.clock.sleepMs(1000);
        QTimerEvent tick(timer->timerId());
        QCoreApplication::sendEvent(timer, &tick);
    }
    std::string received;
    for (const Json& m : sim.messages()) {
        received += m.at("kind").get<std::string>() + " " + m.at("senderId").get<std::string>() +
                    " " + m.at("text").get<std::string>() + "; ";
    }
    EXPECT_EQ(received, "NWT ALPHA Hello; NWM  Hello; ");
    const char* rows =
        "select group_concat(Status || ' ' || DeliverStatus, '; ') from MessageQueue";
    EXPECT_EQ(s.outside->scalar(rows).toText(), "Sent DELIVRD; Sent DELIVRD");

    QTest::mouseClick(s.find<QPushButton>("cmdexit2"), Qt::LeftButton);
    EXPECT_TRUE(s.programEnded);
}

}  // namespace
}  // namespace parlix::test
