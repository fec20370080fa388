#pragma once

#include <QObject>
#include <QPointer>

#include "base/ui.h"

class QWidget;

namespace parlix {

/// The Ui port over Qt: message boxes, pending events, the busy pointer, the program's end.
class QtUi final : public QObject, public Ui {
    Q_OBJECT

public:
    QtUi() = default;

    /// The window that owns the message boxes once it is on screen.
    void setWindow(QWidget* window) { m_window = window; }

    MsgAnswer msgBox(const std::string& text, MsgButtons buttons, MsgIcon icon,
                     const std::string& title) override;
    void doEvents() override;
    void setBusy(bool busy) override;
    [[noreturn]] void endProgram() override;

signals:
    /// The busy pointer came on or went off.
    void busyChanged(bool busy);

private:
    QPointer<QWidget> m_window;
    bool m_busy = false;
};

}  // namespace parlix
