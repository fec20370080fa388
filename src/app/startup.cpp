#include "app/startup.h"

#include <cmath>

#include "base/clock.h"
#include "base/continue_on_error.h"
#include "base/date_time.h"
#include "base/random.h"
#include "base/text.h"
#include "base/ui.h"
#include "db/db_error.h"
#include "db/odbc_dsn.h"
#include "db/open_database.h"
#include "dispatch/batch_sender.h"
#include "model/form_model.h"
#include "model/settings_keys.h"
#include "sys/instance_count.h"
#include "sys/ip_address.h"
#include "sys/registry_keys.h"
#include "sys/settings_store.h"
#include "transport/http_client.h"

namespace parlix {

namespace {

constexpr int kOpenAttempts = 3;

std::string windowTitle() {
    return "Parlix Software  -  V." + std::to_string(PARLIX_VERSION_MAJOR) + "." +
           std::to_string(PARLIX_VERSION_MINOR) + "." + std::to_string(PARLIX_VERSION_PATCH);
}

}  // namespace

Startup::Startup(FormModel& form, const AppEnvironment& env, RegistryKeys& regKeys,
                 BatchSender& sender)
    : m_form(form), m_env(env), m_regKeys(regKeys), m_sender(sender) {}

void Startup::Form_Load() {
    try {
        checkInstancesAndLoadCredentials();
    } catch (const OutsideFailure& e) {
        endWithError(e.what());
    }
    loadSettings();
    applyProxy();
    if (!openDatabase()) {
        return;
    }
    settleQueue();
    fixInstallationNumber();
    m_env.ui.doEvents();
}

void Startup::checkInstancesAndLoadCredentials() {
    m_form.firstLogin = true;
    IPAddress ip(m_env.ipTable);
    m_form.localIP = ip.GetLocalIpList();
    m_form.drAllowed = false;
    InstanceCount processes(m_env.processes, m_env.ownName);
    if (processes.CountRunningInstances() > 1 &&
        m_env.ui.msgBox("!! SERVER Allready Running !!\r\nAre you sure to start again ?",
                        MsgButtons::YesNo) == MsgAnswer::No) {
        m_env.ui.endProgram();
    }
    m_form.setText("Label3", clockCaption(m_env.clock.now()));
    bool os = m_env.settings.GetSetting(kSettingsApp, "PARLIX", "OS", "0") != "0";
    m_form.setValue("Chk_VistaOS", os ? 1 : 0);
    m_form.setText("SendMsg", windowTitle());
    RegisterOdbcDsn(m_env.registry, m_env.ui, kDataSourceName, m_env.programFolder + "\\SMSDB.MDB",
                    "", kDatabasePassword);
    if (m_regKeys.ReadRegValue(kProgramRegistryKey, "UserId").empty()) {
        m_regKeys.CreateRegKey(kProgramRegistryKey);
    }
    double remember = std::round(
        leadingNumber(m_regKeys.ReadRegValue(kProgramRegistryKey, "Remember Id PassWord")));
    if (remember < 0 || remember > 2) {
        endWithError("Invalid property value for the remember box: " + shortestDecimal(remember));
        return;
    }
    m_form.setValue("ChkIdPass", static_cast<int>(remember));
    if (m_form.value("ChkIdPass") != 0) {
        m_form.setText("txtUserId", m_regKeys.ReadRegValue(kProgramRegistryKey, "UserId"));
        m_form.setText("txtUSerPassWord", m_regKeys.ReadRegValue(kProgramRegistryKey, "PassWord"));
    }
}

void Startup::loadSettings() {
    SettingsStore& s = m_env.settings;
    // A stored text that is not a 16-bit number leaves the value as it was.
    m_form.serverNo = 1;
    if (auto no = toWholeNumber(s.GetSetting(kSettingsApp, "PARLIX", "NO", "1"), 16)) {
        m_form.serverNo = static_cast<std::int16_t>(*no);
    }
    m_form.setText("Combo1", std::to_string(m_form.serverNo));
    m_form.setText("TxtNewIP", s.GetSetting(kSettingsApp, "PARLIX", "IP", ""));
    m_form.setText("Combo2", "TEXT");
    m_form.drTickCount = 1000;
    const std::pair<const char*, const char*> proxyFields[] = {
        {"Text2", "Address"}, {"Text1", "Port"}, {"Text4", "UserName"}, {"Text3", "Password"}};
    for (const auto& [field, key] : proxyFields) {
        m_form.setText(field, s.GetSetting(kSettingsApp, "ProxySettings", key, ""));
    }
    if (auto proxy = toWholeNumber(s.GetSetting(kSettingsApp, "ProxySettings", "Proxy", "0"), 16)) {
        m_form.setValue("Chk_proxy", static_cast<int>(*proxy));
    }
}

void Startup::applyProxy() {
    if (m_form.value("Chk_proxy") == 1 && !trimSpaces(m_form.text("Text2")).empty() &&
        !trimSpaces(m_form.text("Text1")).empty()) {
        TransferSettings& t = m_form.transfer;
        t.proxyHost = m_form.text("Text2");
        // A port that does not fit 16 bits is not handed over; the address still is.
        if (auto port = toWholeNumber(m_form.text("Text1"), 16)) {
            t.proxyPort = static_cast<int>(*port);
        }
        if (!trimSpaces(m_form.text("Text3")).empty() &&
            !trimSpaces(m_form.text("Text4")).empty()) {
            t.userName = m_form.text("Text4");
            t.password = m_form.text("Text3");
        }
        m_env.transfer.setProxy(ProxySettings{t.proxyHost, t.proxyPort, t.userName, t.password});
    }
    bool on = m_form.value("Chk_proxy") != 0;
    for (const char* field : {"Text1", "Text2", "Text3", "Text4"}) {
        m_form.setEnabled(field, on);
    }
}

bool Startup::openDatabase() {
    DatabaseEnvironment dbEnv{
        m_env.programFolder,
        [this](const std::string& name) { return lookupOdbcDsn(m_env.registry, name); },
        m_env.ui,
        m_form,
        m_env.config.busyTimeoutMs,
        m_env.config.queueUrl,
        m_env.installation,
        m_env.config.leaseSeconds};
    for (int attempt = 1;; ++attempt) {
        if (OpenDatabase(m_form.dbConnection, m_form.value("Chk_VistaOS") == 1, dbEnv)) {
            return true;
        }
        if (attempt == kOpenAttempts) {
            m_form.writeLog("DatabaseLoad: Fail");
            m_form.setEnabled("cmdConnect2", false);
            return false;
        }
        // Ticking the box runs its handler, so later starts open the file directly at once.
        m_form.setValue("Chk_VistaOS", 1);
    }
}

void Startup::settleQueue() {
    if (m_form.text("txtUserId").empty()) {
        LoadSavedLogin();
    }
    m_form.writeLog("DatabaseLoad: Success");
    m_sender.settleLeftOvers(Status::Deleted, "Interrupted batch: ");
    tryStep([&] {
        if (m_form.queue().hasQueued()) {
            m_env.ui.msgBox(
                "Messages are in Queued, Please check Message Queue before connect the server",
                MsgButtons::Ok, MsgIcon::None, "Zentroca Solutions");
        }
    });
}

void Startup::fixInstallationNumber() {
    // Installations that share a queue must not share a number, or they would share message ids
    // and each other's delivery reports: a number another one holds is drawn again.
    constexpr int kDraws = 50;
    tryStep([&] {
        MessageQueue& queue = m_form.queue();
        Value comport = queue.installationNumber();
        if (!comport.isNull() && !trimSpaces(comport.toText()).empty()) {
            m_form.comportNo = comport.toText();
            return;
        }
        for (int draw = 0; draw < kDraws; ++draw) {
            std::string number = shortestDecimal(m_env.random.next() * 100000).substr(0, 5);
            m_form.comportNo = number;
            if (queue.storeInstallationNumber(number)) {
                return;
            }
        }
        m_form.comportNo.clear();
        m_form.writeLog("No installation number is free in the shared queue");
    });
}

void Startup::LoadSavedLogin() {
    try {
        SavedLogin saved = m_form.queue().savedLogin();
        if (!m_form.text("txtUserId").empty()) {
            return;
        }
        const std::pair<const char*, const Value*> fields[] = {{"txtUserId", &saved.userId},
                                                               {"txtUSerPassWord", &saved.password},
                                                               {"Combo1", &saved.serverNo},
                                                               {"TxtNewIP", &saved.serverHost}};
        for (const auto& [element, value] : fields) {
            // A login never saved is null, which cannot become text: the database is taken for
            // an older one and upgraded, as when the columns are missing.
            if (value->isNull()) {
                upgradeSchema();
                return;
            }
            m_form.setText(element, value->toText());
        }
    } catch (const DbError&) {
        // An older database lacks the remembered-login columns: upgrade it and go on.
        upgradeSchema();
    }
}

void Startup::upgradeSchema() {
    tryStep([&] { m_form.queue().upgradeSchema(); });
}

void Startup::endWithError(const std::string& description) {
    m_env.ui.msgBox("Run-time error: " + description, MsgButtons::Ok, MsgIcon::Critical);
    m_env.ui.endProgram();
}

}  // namespace parlix
