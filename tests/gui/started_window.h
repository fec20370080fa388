#pragma once

#include <QApplication>
#include <QString>
#include <memory>

#include "gui/handler_runner.h"
#include "gui/main_window.h"
#include "support/app_fixture.h"

namespace parlix::test {

/// The real main window over the fake ports, in a fresh program folder with a queue database.
/// Where the real program would end, the window's handlers stop and `programEnded` is set.
struct StartedWindow {
    /// Creates the window, runs start-up and shows the window; false when start-up ended the
    /// program.
    bool start() {
        outside = fx.makeDatabase();
        SendMsg& app = fx.start();
        auto run = [this, endOnError = endOnUnhandledError(fx.ui)](const auto& handler) {
            try {
                endOnError(handler);
            } catch (const ProgramEnded&) {
                programEnded = true;
            }
        };
        window = std::make_unique<MainWindow>(app.form(), run, [&app] { app.Form_Unload(); });
        if (!fx.load()) {
            return false;
        }
        window->show();
        QApplication::setActiveWindow(window.get());
        QApplication::processEvents();
        return true;
    }

    /// A widget of the window by its element name; nullptr when there is none.
    template <typename T = QWidget>
    T* find(const char* name) const {
        return window->findChild<T*>(QString::fromLatin1(name));
    }

    AppFixture fx;
    /// The outside software's own connection to the queue database.
    std::unique_ptr<Connection> outside;
    std::unique_ptr<MainWindow> window;
    bool programEnded = false;
};

}  // namespace parlix::test
