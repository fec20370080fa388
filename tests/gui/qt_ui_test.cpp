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

Qt::CursorShape pointer() {
    const QCursor* shown = QApplication::overrideCursor();
    return shown != nullptr ? shown->shape() : Qt::ArrowCursor;
}

struct BoxCase {
    const char* text;
    MsgButtons buttons;
    MsgIcon icon;
    const char* title;
    /// Asked in the middle of busy work.
    bool busy;
    QMessageBox::StandardButton press;
    MsgAnswer answer;
    QMessageBox::Icon shownIcon;
};

TEST(QtUiTest, MessageBoxesShowTextButtonsIconAndTitleWithTheNormalPointerAndReturnTheAnswer) {
    const BoxCase cases[] = {
        {"Running!\r\nStart again?", MsgButtons::YesNo, MsgIcon::Question, "", false,
         QMessageBox::No, MsgAnswer::No, QMessageBox::Question},
        {"again?", MsgButtons::YesNo, MsgIcon::None, "", true, QMessageBox::Yes, MsgAnswer::Yes,
         QMessageBox::NoIcon},
        {"<b>Queued</b>", MsgButtons::Ok, MsgIcon::Exclamation, "Zentroca Solutions", false,
         QMessageBox::Ok, MsgAnswer::Ok, QMessageBox::Warning},
        {"DatabaseError: 14", MsgButtons::Ok, MsgIcon::Critical, "", true, QMessageBox::Ok,
         MsgAnswer::Ok, QMessageBox::Critical},
    };
    for (const BoxCase& c : cases) {
        SCOPED_TRACE(c.text);
        QtUi ui;
        ui.setBusy(c.busy);
        QMessageBox* shown = nullptr;
        QTimer::singleShot(0, [&] {
            shown = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(shown, nullptr);
            EXPECT_EQ(pointer(), Qt::ArrowCursor) << "the operator answers with the normal one";
            EXPECT_EQ(shown->windowTitle().toStdString(), *c.title ? c.title : "Parlix");
            EXPECT_EQ(shown->text(), QString::fromLatin1(c.text).replace("\r\n", "\n"));
            EXPECT_EQ(shown->textFormat(), Qt::PlainText);
            EXPECT_EQ(shown->icon(), c.shownIcon);
            EXPECT_EQ(shown->standardButtons(), c.buttons == MsgButtons::Ok
                                                    ? QMessageBox::Ok
                                                    : QMessageBox::Yes | QMessageBox::No);
            shown->button(c.press)->click();
        });
        EXPECT_EQ(ui.msgBox(c.text, c.buttons, c.icon, c.title), c.answer);
        EXPECT_NE(shown, nullptr);
        EXPECT_EQ(pointer(), c.busy ? Qt::WaitCursor : Qt::ArrowCursor);
        ui.setBusy(false);
    }
}

TEST(QtUiTest, BusyPointerIsBalancedAndAnnounced) {
    QtUi ui;
    std::vector<bool> announced;
    QObject::connect(&ui, &QtUi::busyChanged, [&](bool busy) { announced.push_back(busy); });
    ui.setBusy(true);
    ui.setBusy(true);
    EXPECT_EQ(pointer(), Qt::WaitCursor);
    ui.setBusy(false);
    EXPECT_EQ(pointer(), Qt::ArrowCursor) << "one restore undoes both calls";
    ui.setBusy(false);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(announced, (std::vector<bool>{true, false}));
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
