#include <QApplication>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>

#include "app/send_msg.h"
#include "base/random.h"
#include "gui/handler_runner.h"
#include "gui/main_window.h"
#include "gui/qt_clock.h"
#include "gui/qt_ui.h"
#include "model/app_environment.h"
#include "sys/instance_count.h"
#include "sys/ip_address.h"
#include "sys/registry_store.h"
#include "sys/settings_store.h"
#include "transport/curl_http_client.h"
#include "transport/transport_config.h"

using namespace parlix;

namespace {

std::uint64_t entropySeed() {
    std::random_device device;
    return (static_cast<std::uint64_t>(device()) << 32) ^ device();
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    std::string executable = currentExecutablePath();
    if (executable.empty()) {
        executable = QCoreApplication::applicationFilePath().toStdString();
    }
    const std::string programFolder = std::filesystem::path(executable).parent_path().string();

    QtUi ui;
    HandlerRunner run = endOnUnhandledError(ui);
    Result<TransportConfig> config = loadTransportConfig(programFolder + "/" + kConfigFileName);
    if (!config) {
        static_cast<Ui&>(ui).msgBox(std::string(kConfigFileName) + ": " + config.error().message,
                                    MsgButtons::Ok, MsgIcon::Critical);
        return 1;
    }

    QtClock clock;
    DefaultRandom random(entropySeed());
    ProcProcessTable processes;
    IfaddrsIpv4Table ipTable;
    CurlHttpClient transfer(ui, config.value().timeouts);
    CurlHttpClient uploader(ui, config.value().timeouts);
    SettingsStore settings(SettingsStore::defaultFolder());
    RegistryStore registry(programFolder + "/registry.dat");
    AppEnvironment env{programFolder,
                       programNameFromExecutable(executable),
                       ui,
                       clock,
                       random,
                       processes,
                       ipTable,
                       transfer,
                       uploader,
                       settings,
                       registry,
                       config.value()};

    SendMsg app(env);
    MainWindow window(app.form(), run, [&app] { app.Form_Unload(); });
    QObject::connect(&ui, &QtUi::busyChanged, &window, &MainWindow::showBusyPointer);
    run([&app] { app.Form_Load(); });
    window.show();
    ui.setWindow(&window);
    return QApplication::exec();
}
