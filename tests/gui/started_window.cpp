#include "started_window.h"

#include <QApplication>

#include "gui/handler_runner.h"

namespace parlix::test {

StartedWindow::StartedWindow() = default;

StartedWindow::~StartedWindow() = default;

bool StartedWindow::start() {
    outside = fx.makeDatabase();
    SendMsg& app = fx.start();
    HandlerRunner endOnError = endOnUnhandledError(fx.ui);
    window = std::make_unique<MainWindow>(
        app.form(),
        [this, endOnError](const std::function<void()>& handler) {
            try {
                endOnError(handler);
            } catch (const ProgramEnded&) {
                programEnded = true;
            }
        },
        [&app] { app.Form_Unload(); });
    if (!fx.load()) {
        return false;
    }
    window->show();
    QApplication::setActiveWindow(window.get());
    QApplication::processEvents();
    return true;
}

}  // namespace parlix::test
