#pragma once

#include <algorithm>
#include <memory>
#include <string>

#include "app/send_msg.h"
#include "base/text.h"
#include "model/settings_keys.h"
#include "support/fakes.h"
#include "support/gateway_sim_process.h"
#include "support/queue_db.h"
#include "support/sys_fakes.h"
#include "support/temp_dir.h"
#include "sys/folder_lock.h"
#include "sys/registry_keys.h"
#include "sys/registry_store.h"
#include "sys/settings_store.h"

namespace parlix::test {

/// A program folder, a settings folder and fake ports around one SendMsg.
class AppFixture {
public:
    AppFixture() {
        processes.entries = std::vector<ProcessEntry>{{1, "systemd"}, {4242, "parlix"}};
        ipTable.table = std::vector<Ipv4Address>{{127, 0, 0, 1}, {192, 168, 1, 5}};
    }
    /// Creates the window's logic over the current fakes (again, for a "next start").
    SendMsg& start() {
        app.reset();
        sendLock = std::make_unique<FolderLock>(programDir.str());  // a new run's own
        HttpClient& get = realTransfer ? *realTransfer : static_cast<HttpClient&>(transfer);
        HttpClient& post = realUploader ? *realUploader : static_cast<HttpClient&>(uploader);
        app = std::make_unique<SendMsg>(AppEnvironment{
            programDir.str(), "parlix", "test:" + programDir.str(), ui, clock, random, processes,
            ipTable, get, post, settings, registry, *sendLock, config});
        return *app;
    }
    /// From the next start(), requests go through real HTTP clients instead of the fakes.
    void useRealHttp(HttpTimeouts timeouts = {2000, 5000}) {
        realTransfer = std::make_unique<CurlHttpClient>(ui, timeouts);
        realUploader = std::make_unique<CurlHttpClient>(ui, timeouts);
    }
    /// From the next start(), servers 1 to 5 are those of `sim`, reached through real clients.
    void useGateway(GatewaySimProcess& sim) {
        for (size_t i = 0; i < config.serverHosts.size(); ++i) {
            config.serverHosts[i] = sim.serverHost(static_cast<int>(i) + 1);
        }
        useRealHttp();
    }
    /// Types a user id and password and clicks Connect.
    void logIn(const std::string& user = "demo", const std::string& password = "pw") {
        form().setText("txtUserId", user);
        form().setText("txtUSerPassWord", password);
        form().fire("cmdConnect2", Event::Click);
    }
    /// Runs start-up; true when it returned, false when it ended the program.
    bool load() {
        try {
            (app ? *app : start()).Form_Load();
            return true;
        } catch (const ProgramEnded&) {
            return false;
        }
    }
    /// Creates SMSDB.MDB in the program folder and returns a second connection to it.
    std::unique_ptr<Connection> makeDatabase(bool upgraded = true) {
        return makeQueueDatabase(programDir.str(), "SMSDB.MDB", upgraded);
    }

    FormModel& form() { return app->form(); }
    /// The activity log's entries, oldest first.
    std::vector<std::string> logLines() {
        std::vector<std::string> lines = split(form().text("txt_msg"), "\r\n\r\n");
        std::erase(lines, "");
        std::reverse(lines.begin(), lines.end());
        return lines;
    }
    /// Elements as "name=text", with " hidden", " off" (disabled) and " value N" when they
    /// apply, joined by "; ".
    std::string describe(std::initializer_list<const char*> names) {
        std::string out;
        for (const char* name : names) {
            const Element& e = form().el(name);
            out += (out.empty() ? "" : "; ") + e.name + "=" + e.text +
                   (e.visible ? "" : " hidden") + (e.enabled ? "" : " off") +
                   (e.value ? " value " + std::to_string(e.value) : "");
        }
        return out;
    }
    std::string setting(const std::string& section, const std::string& key) {
        return settings.GetSetting("Zentroca", section, key, "<none>");
    }
    std::string regValue(const std::string& name) {
        FakeUi quiet;
        return RegistryKeys(registry, quiet).ReadRegValue(kProgramRegistryKey, name);
    }

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
    std::unique_ptr<FolderLock> sendLock;
    TransportConfig config;
    std::unique_ptr<HttpClient> realTransfer;
    std::unique_ptr<HttpClient> realUploader;
    std::unique_ptr<SendMsg> app;
};

}  // namespace parlix::test
