#include <QApplication>
#include <iostream>
#include <string>
#include <vector>

#include "app/send_msg.h"
#include "app/system_ports.h"
#include "gui/handler_runner.h"
#include "gui/main_window.h"
#include "gui/qt_clock.h"
#include "gui/qt_ui.h"
#include "sys/instance_count.h"

using namespace parlix;

namespace {

constexpr const char* kUsage =
    "usage: parlix [--folder DIR] [--settings DIR]\n"
    "  --folder DIR    the program folder (default $PARLIX_FOLDER, else parlix's own folder)\n"
    "  --settings DIR  the settings folder (default ~/.config/parlix)\n";

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    std::vector<std::string> args;
    for (const QString& a : QCoreApplication::arguments().mid(1)) {
        args.push_back(a.toStdString());
    }
    Result<ProgramFolders> folders = takeFolderOptions(args);
    if (!folders || !args.empty()) {
        bool help = folders && (args[0] == "--help" || args[0] == "-h");
        bool version = folders && args[0] == "--version";
        if (version) {
            std::cout << "parlix " << PARLIX_VERSION_MAJOR << "." << PARLIX_VERSION_MINOR << "."
                      << PARLIX_VERSION_PATCH << "\n";
            return 0;
        }
        if (!help) {
            std::cerr << "parlix: "
                      << (folders ? "unknown option " + args[0] : folders.error().message) << "\n";
        }
        (help ? std::cout : std::cerr) << kUsage;
        return help ? 0 : 64;
    }
    std::string executable = currentExecutablePath();
    if (executable.empty()) {
        executable = QCoreApplication::applicationFilePath().toStdString();
    }

    QtUi ui;
    QtClock clock;
    HandlerRunner run = endOnUnhandledError(ui);
    auto ports = SystemPorts::open(ui, {folders.value().program, folders.value().settings,
                                        programNameFromExecutable(executable), &clock});
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
