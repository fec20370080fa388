#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <cstdio>

#include "gui/qt_clock.h"
#include "gui/qt_ui.h"

namespace parlix {
namespace {

struct SeenBox {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
};

// Answers the next message box as soon as its modal loop runs, and notes what it showed.
void answerNextBox(QMessageBox::StandardButton press, SeenBox& seen) {
    QTimer::singleShot(0, [press, &seen] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        seen = {box->windowTitle(), box->text(), box->icon(), box->standardButtons()};
        box->button(press)->click();
    });
}

TEST(QtUiTest, MessageBoxesShowTheirTextButtonsIconAndTitleAndReturnTheAnswer) {
    QtUi qtUi;
    Ui& ui = qtUi;
    SeenBox seen;

    answerNextBox(QMessageBox::No, seen);
    EXPECT_EQ(ui.msgBox("!! SERVER Allready Running !!\r\nAre you sure to start again ?",
                        MsgButtons::YesNo, MsgIcon::Question),
              MsgAnswer::No);
    EXPECT_EQ(seen.title, QStringLiteral("Parlix"));
    EXPECT_EQ(seen.text,
              QStringLiteral("!! SERVER Allready Running !!\nAre you sure to start again ?"));
    EXPECT_EQ(seen.icon, QMessageBox::Question);
    EXPECT_EQ(seen.buttons, QMessageBox::Yes | QMessageBox::No);

    answerNextBox(QMessageBox::Yes, seen);
    EXPECT_EQ(ui.msgBox("again?", MsgButtons::YesNo), MsgAnswer::Yes);
    EXPECT_EQ(seen.icon, QMessageBox::NoIcon);

    answerNextBox(QMessageBox::Ok, seen);
    EXPECT_EQ(ui.msgBox("<b>Messages</b> are in Queued", MsgButtons::Ok, MsgIcon::Exclamation,
                        "Zentroca Solutions"),
              MsgAnswer::Ok);
    EXPECT_EQ(seen.title, QStringLiteral("Zentroca Solutions"));
    EXPECT_EQ(seen.text, QStringLiteral("<b>Messages</b> are in Queued"));
    EXPECT_EQ(seen.icon, QMessageBox::Warning);
    EXPECT_EQ(seen.buttons, QMessageBox::Ok);
}

TEST(QtUiTest, BusyPointerIsBalancedAndAnnounced) {
    QtUi ui;
    std::vector<bool> announced;
    QObject::connect(&ui, &QtUi::busyChanged, [&](bool busy) { announced.push_back(busy); });

    ui.setBusy(true);
    ui.setBusy(true);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);

    ui.setBusy(false);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "one restore undoes both calls";
    ui.setBusy(false);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(announced, (std::vector<bool>{true, false}));
}

TEST(QtUiTest, MessageBoxDuringBusyWorkShowsTheNormalPointerThenTheBusyOneAgain) {
    QtUi qtUi;
    Ui& ui = qtUi;
    SeenBox seen;
    ui.setBusy(true);
    Qt::CursorShape whileOpen = Qt::WaitCursor;
    QTimer::singleShot(0, [&] { whileOpen = QApplication::overrideCursor()->shape(); });
    answerNextBox(QMessageBox::Ok, seen);
    ui.msgBox("DatabaseError: 14");
    EXPECT_EQ(whileOpen, Qt::ArrowCursor);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    ui.setBusy(false);
}

TEST(QtUiTest, PendingEventsRunDuringDoEventsAndDuringAPause) {
    QtUi ui;
    QtClock clock;
    int ran = 0;
    QTimer::singleShot(0, [&] { ++ran; });
    ui.doEvents();
    EXPECT_EQ(ran, 1);

    QTimer::singleShot(0, [&] { ++ran; });
    clock.sleepMs(20);
    EXPECT_EQ(ran, 2) << "the window must stay responsive while the program waits";
}

// The child process buffers a line, then ends from two event loops deep.
[[noreturn]] void endFromNestedEventLoop() {
    static char buffer[256];
    std::setvbuf(stderr, buffer, _IOFBF, sizeof buffer);
    std::fputs("buffered before the end\n", stderr);
    QtUi ui;
    QTimer::singleShot(0, [&] {
        QTimer::singleShot(0, [&] { ui.endProgram(); });
        QEventLoop inner;
        inner.exec();
        std::fputs("the inner loop returned\n", stderr);
    });
    QEventLoop outer;
    outer.exec();
    std::fputs("the outer loop returned\n", stderr);
    std::abort();
}

TEST(QtUiDeathTest, EndProgramEndsAtOnceFromANestedEventLoopAndFlushesOutput) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(endFromNestedEventLoop(), testing::ExitedWithCode(0), "buffered before the end\n$");
}

}  // namespace
}  // namespace parlix
