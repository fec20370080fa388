#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "gui/qt_clock.h"
#include "gui/qt_ui.h"

namespace parlix {
namespace {

Qt::CursorShape pointer() {
    const QCursor* shown = QApplication::overrideCursor();
    return shown != nullptr ? shown->shape() : Qt::ArrowCursor;
}

// Also while the program is busy, whose pointer a second setBusy(true) does not stack.
TEST(QtUiTest, MessageBoxesShowTextButtonsIconAndTitleWithTheNormalPointerAndReturnTheAnswer) {
    using B = QMessageBox;
    const struct {
        const char* text;
        MsgButtons buttons;
        MsgIcon icon;
        const char* title;
        bool busy;  // asked in the middle of busy work
        B::StandardButton press;
        MsgAnswer answer;
        B::Icon shownIcon;
    } cases[] = {
        // clang-format off
        {"Running!\r\nStart again?", MsgButtons::YesNo, MsgIcon::Question, "", false, B::No, MsgAnswer::No, B::Question},
        {"again?", MsgButtons::YesNo, MsgIcon::None, "", true, B::Yes, MsgAnswer::Yes, B::NoIcon},
        {"<b>Queued</b>", MsgButtons::Ok, MsgIcon::Exclamation, "Zentroca Solutions", false, B::Ok, MsgAnswer::Ok, B::Warning},
        {"DatabaseError: 14", MsgButtons::Ok, MsgIcon::Critical, "", true, B::Ok, MsgAnswer::Ok, B::Critical},
        // clang-format on
    };
    QtUi ui;
    std::vector<bool> announced;
    QObject::connect(&ui, &QtUi::busyChanged, [&](bool busy) { announced.push_back(busy); });
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        ui.setBusy(c.busy);
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
            EXPECT_EQ(shown->standardButtons(),
                      c.buttons == MsgButtons::Ok ? B::Ok : B::Yes | B::No);
            shown->button(c.press)->click();
        });
        EXPECT_EQ(ui.msgBox(c.text, c.buttons, c.icon, c.title), c.answer);
        EXPECT_NE(shown, nullptr);
        EXPECT_EQ(pointer(), c.busy ? Qt::WaitCursor : Qt::ArrowCursor);
        ui.setBusy(false);
        EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "one restore undoes both calls";
    }
    EXPECT_EQ(announced, (std::vector<bool>{true, false, true, false}));
}

TEST(QtUiTest, PendingEventsRunDuringDoEventsAndDuringAPause) {
    int ran = 0;
    QTimer::singleShot(0, [&] { ++ran; });
    QtUi().doEvents();
    EXPECT_EQ(ran, 1);
    QTimer::singleShot(0, [&] { ++ran; });
    QtClock().sleepMs(20);
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
    });
    QEventLoop outer;
    outer.exec();
    std::abort();  // a loop returned
}

TEST(QtUiDeathTest, EndProgramEndsAtOnceFromANestedEventLoopAndFlushesOutput) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(endFromNestedEventLoop(), testing::ExitedWithCode(0), "buffered before the end\n$");
}

}  // namespace
}  // namespace parlix

int main(int argc, char* argv[]) {
    testing::InitGoogleTest(&argc, argv);
    // The window tests need no display; ctest sets the same, a manual run may not.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
