#pragma once

#include <memory>
#include <string>

#include "app/send_msg.h"
#include "support/fakes.h"
#include "support/gateway_sim_process.h"
#include "support/sys_fakes.h"
#include "support/temp_dir.h"
#include "sys/registry_store.h"
#include "sys/settings_store.h"

namespace parlix::test {

/// A program folder, a settings folder and fake ports around one SendMsg.
class AppFixture {
public:
    AppFixture();
    ~AppFixture();

    /// Creates the window's logic over the current fakes (again, for a "next start").
    SendMsg& start();
    /// From the next start(), requests go through real HTTP clients instead of the fakes.
    void useRealHttp(HttpTimeouts timeouts = {2000, 5000});
    /// From the next start(), servers 1 to 5 are those of `sim`, reached through real clients.
    void useGateway(GatewaySimProcess& sim);
    /// Types a user id and password and clicks Connect.
    void logIn(const std::string& user = "demo", const std::string& password = "pw");
    /// Runs start-up; true when it returned, false when it ended the program.
    bool load();
    /// Creates SMSDB.MDB in the program folder and returns a second connection to it.
    std::unique_ptr<Connection> makeDatabase(bool upgraded = true);

    FormModel& form() { return app->form(); }
    /// The activity log's entries, oldest first.
    std::vector<std::string> logLines();
    /// Elements as "name=text", with " hidden", " off" (disabled) and " value N" when they
    /// apply, joined by "; ".
    std::string describe(std::initializer_list<const char*> names);
    std::string setting(const std::string& section, const std::string& key) {
        return settings.GetSetting("Zentroca", section, key, "<none>");
    }
    std::string regValue(const std::string& name);

    TempDir programDir;
    TempDir settingsDir;
    FakeUi ui;
    FakeClock clock;
    FakeRandom random{{0.123456789}};
    FakeProcessTable processes;
    FakeIpv4Table ipTable;
    FakeHttpClient transfer;
    FakeHttpClient uploader;
    SettingsStore settings{settingsDir.str()};
    RegistryStore registry{programDir.str() + "/registry.dat"};
    TransportConfig config;
    std::unique_ptr<HttpClient> realTransfer;
    std::unique_ptr<HttpClient> realUploader;
    std::unique_ptr<SendMsg> app;
};

}  // namespace parlix::test
