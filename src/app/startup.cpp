#include "app/startup.h"

#include <cmath>
#include <stdexcept>

#include "base/clock.h"
#include "base/continue_on_error.h"
#include "base/date_time.h"
#include "base/random.h"
#include "base/text.h"
#include "base/ui.h"
#include "db/odbc_dsn.h"
#include "db/open_database.h"
#include "db/schema_upgrade.h"
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

std::int64_t wholeNumberOrThrow(const std::string& text, int bits) {
    auto n = toWholeNumber(text, bits);
    if (!n) {
        throw std::invalid_argument("Type mismatch or overflow converting '" + text + "'");
    }
    return *n;
}

/// A field converted to text; a null cannot be, so a login never saved leaves the boxes alone.
std::string textOf(const Value& v) {
    if (v.isNull()) {
        throw std::invalid_argument("Invalid use of Null");
    }
    return v.toText();
}

}  // namespace

Startup::Startup(FormModel& form, const AppEnvironment& env, RegistryKeys& regKeys)
    : m_form(form), m_env(env), m_regKeys(regKeys) {}

void Startup::Form_Load() {
    try {
        checkInstancesAndLoadCredentials();
    } catch (const std::exception& e) {
        m_env.ui.msgBox(std::string("Run-time error: ") + e.what(), MsgButtons::Ok,
                        MsgIcon::Critical);
        m_env.ui.endProgram();
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
        throw std::invalid_argument("Invalid property value for the remember box: " +
                                    shortestDecimal(remember));
    }
    m_form.setValue("ChkIdPass", static_cast<int>(remember));
    if (m_form.value("ChkIdPass") != 0) {
        m_form.setText("txtUserId", m_regKeys.ReadRegValue(kProgramRegistryKey, "UserId"));
        m_form.setText("txtUSerPassWord", m_regKeys.ReadRegValue(kProgramRegistryKey, "PassWord"));
    }
}

void Startup::loadSettings() {
    SettingsStore& s = m_env.settings;
    tryStep([&] {
        m_form.serverNo = 1;
        m_form.serverNo = static_cast<std::int16_t>(
            wholeNumberOrThrow(s.GetSetting(kSettingsApp, "PARLIX", "NO", "1"), 16));
    });
    tryStep([&] { m_form.setText("Combo1", std::to_string(m_form.serverNo)); });
    tryStep([&] { m_form.setText("TxtNewIP", s.GetSetting(kSettingsApp, "PARLIX", "IP", "")); });
    tryStep([&] { m_form.setText("Combo2", "TEXT"); });
    m_form.drTickCount = 1000;
    const std::pair<const char*, const char*> proxyFields[] = {
        {"Text2", "Address"}, {"Text1", "Port"}, {"Text4", "UserName"}, {"Text3", "Password"}};
    for (const auto& [field, key] : proxyFields) {
        tryStep(
            [&] { m_form.setText(field, s.GetSetting(kSettingsApp, "ProxySettings", key, "")); });
    }
    tryStep([&] {
        m_form.setValue("Chk_proxy",
                        static_cast<int>(wholeNumberOrThrow(
                            s.GetSetting(kSettingsApp, "ProxySettings", "Proxy", "0"), 16)));
    });
}

void Startup::applyProxy() {
    if (m_form.value("Chk_proxy") == 1 && !trimSpaces(m_form.text("Text2")).empty() &&
        !trimSpaces(m_form.text("Text1")).empty()) {
        TransferSettings& t = m_form.transfer;
        t.proxyHost = m_form.text("Text2");
        tryStep(
            [&] { t.proxyPort = static_cast<int>(wholeNumberOrThrow(m_form.text("Text1"), 16)); });
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
        [this](const std::string& name) { return lookupOdbcDsn(m_env.registry, name); }, m_env.ui,
        m_form};
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
    tryStep([&] {
        if (m_form.text("txtUserId").empty()) {
            LoadSavedLogin();
        }
    });
    m_form.writeLog("DatabaseLoad: Success");
    tryStep([&] {
        m_form.dbConnection->execute(
            "update  MessageQueue set Status='Deleted' where status='Read'");
    });
    tryStep([&] {
        auto rs =
            m_form.dbConnection->openRecordset("select * from messagequeue where status='Queued'");
        bool queued = !rs->eof();
        rs->close();
        if (queued) {
            m_env.ui.msgBox(
                "Messages are in Queued, Please check Message Queue before connect the server",
                MsgButtons::Ok, MsgIcon::None, "Zentroca Solutions");
        }
    });
}

void Startup::fixInstallationNumber() {
    tryStep([&] {
        auto rs = m_form.dbConnection->openRecordset("select * from ProxyConfig ");
        Value comport = rs->field("comport");
        if (comport.isNull() || trimSpaces(comport.toText()).empty()) {
            std::string number = shortestDecimal(m_env.random.next() * 100000).substr(0, 5);
            rs->setField("comport", number);
            m_form.comportNo = rs->field("comport").toText();
            rs->update();
        } else {
            m_form.comportNo = comport.toText();
        }
    });
}

void Startup::LoadSavedLogin() {
    try {
        auto rs = m_form.dbConnection->openRecordset("select * from ProxyConfig ");
        if (m_form.text("txtUserId").empty()) {
            m_form.setText("txtUserId", textOf(rs->field("user1")));
            m_form.setText("txtUSerPassWord", textOf(rs->field("pass1")));
            m_form.setText("Combo1", textOf(rs->field("IPNO")));
            m_form.setText("TxtNewIP", textOf(rs->field("IPAddress")));
        }
    } catch (const std::exception&) {
        // An older database lacks the remembered-login columns: upgrade it and go on.
        Cmd_AlterDatabase_Click(m_form.dbConnection.get());
    }
}

}  // namespace parlix
