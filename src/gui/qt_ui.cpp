#include "gui/qt_ui.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "gui/element_widgets.h"

namespace parlix {

namespace {

QMessageBox::Icon qtIcon(MsgIcon icon) {
    switch (icon) {
        case MsgIcon::Question:
            return QMessageBox::Question;
        case MsgIcon::Exclamation:
            return QMessageBox::Warning;
        case MsgIcon::Critical:
            return QMessageBox::Critical;
        case MsgIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

MsgAnswer QtUi::msgBox(const std::string& text, MsgButtons buttons, MsgIcon icon,
                       const std::string& title) {
    QWidget* parent = m_window.data();
    if (parent != nullptr && !parent->isVisible()) {
        parent = nullptr;
    }
    QMessageBox box(qtIcon(icon), QString::fromStdString(title.empty() ? kAppTitle : title),
                    toViewText(text), QMessageBox::NoButton, parent);
    box.setTextFormat(Qt::PlainText);
    if (buttons == MsgButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    // The operator answers with the normal pointer, even in the middle of busy work. The box's
    // own pointer is taken off whatever the busy state became while it was open.
    const bool busyUnderneath = m_busy;
    if (busyUnderneath) {
        QApplication::setOverrideCursor(Qt::ArrowCursor);
    }
    int answer = box.exec();
    if (busyUnderneath) {
        QApplication::restoreOverrideCursor();
    }
    if (buttons == MsgButtons::Ok) {
        return MsgAnswer::Ok;
    }
    return answer == QMessageBox::Yes ? MsgAnswer::Yes : MsgAnswer::No;
}

void QtUi::doEvents() {
    QCoreApplication::processEvents();
}

void QtUi::setBusy(bool busy) {
    if (busy == m_busy) {
        return;
    }
    m_busy = busy;
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
    emit busyChanged(busy);
}

void QtUi::endProgram() {
    // Ending at once means that nothing else runs: not the rest of the handler that asked, not
    // the handlers below it when it was reached from a nested event loop (a message box, a
    // wait, pending events), not the window's close and unload. Leaving the event loops would
    // run all of them, so the process ends here, with only the output streams flushed.
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    std::_Exit(0);
}

}  // namespace parlix
