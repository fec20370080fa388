#include <QApplication>
#include <string>

#include "app/send_msg.h"
#include "app/system_ports.h"
#include "gui/handler_runner.h"
#include "gui/main_window.h"
#include "gui/qt_clock.h"
#include "gui/qt_ui.h"
#include "sys/instance_count.h"

using namespace parlix;

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    std::string executable = currentExecutablePath();
    if (executable.empty()) {
        executable = QCoreApplication::applicationFilePath().toStdString();
    }

    QtUi ui;
    QtClock clock;
    HandlerRunner run = endOnUnhandledError(ui);
    auto ports = SystemPorts::open(
        ui, {executableFolder(), "", programNameFromExecutable(executable), &clock});
    if (!ports) {
        static_cast<Ui&>(ui).msgBox(ports.error().message, MsgButtons::Ok, MsgIcon::Critical);
        return 1;
    }

    SendMsg app(ports.value()->environment());
    MainWindow window(app.form(), run, [&app] { app.Form_Unload(); });
    QObject::connect(&ui, &QtUi::busyChanged, &window, &MainWindow::showBusyPointer);
    run([&app] { app.Form_Load(); });
    window.show();
    ui.setWindow(&window);
    return QApplication::exec();
}
