#include "login/login.h"

#include "base/clock.h"
#include "base/continue_on_error.h"
#include "base/date_time.h"
#include "base/file.h"
#include "base/text.h"
#include "base/ui.h"
#include "model/form_model.h"
#include "model/settings_keys.h"
#include "sys/settings_store.h"
#include "transport/gateway_url.h"
#include "transport/http_client.h"

namespace parlix {

namespace {

constexpr const char* kServerConnected = "Server Connected";
constexpr const char* kOpenSenderId = "ZENTROCAOPENSENDERID";
constexpr int kAttemptsPerServer = 2;

}  // namespace

Login::Login(FormModel& form, const AppEnvironment& env) : m_form(form), m_env(env) {}

std::string Login::serverHost(int serverNo) const {
    if (serverNo >= 1 && serverNo <= 5) {
        return m_env.config.serverHosts[static_cast<size_t>(serverNo - 1)];
    }
    if (serverNo == 9) {
        return m_env.settings.GetSetting(kSettingsApp, "PARLIX", "IP", "");
    }
    return m_env.config.serverHosts[0];
}

int Login::nextServer(int serverNo) {
    return serverNo >= 1 && serverNo <= 4 ? serverNo + 1 : serverNo == 5 ? 1 : serverNo;
}

void Login::fetch(const std::string& url, std::string& reply) {
    m_form.requestUrl = url;
    try {
        reply = m_env.transfer.get(url);
    } catch (const TransferError&) {
        // An unreachable server reads as no answer; the reply keeps its earlier text.
    }
}

void Login::cmdConnect2_Click() {
    m_form.loginOk = true;
    m_env.ui.doEvents();
    for (auto [box, missing] : {std::pair{"txtUserId", "Empty: Userid"},
                                std::pair{"txtUSerPassWord", "Empty: UserPassword"}}) {
        if (m_form.text(box).empty()) {
            m_env.ui.msgBox(missing, MsgButtons::Ok, MsgIcon::Question);
            m_form.setEnabled("cmdConnect2", true);
            m_form.loginOk = false;
            return;
        }
    }
    tryStep([&] { saveLoginToDatabase(); });
    m_env.ui.doEvents();
    // Another call that ran while events were processed has logged in meanwhile.
    if (!m_form.enabled("cmdConnect2")) {
        return;
    }
    m_form.setEnabled("cmdConnect2", false);
    std::string reply = checkServers();
    if (reply != kServerConnected) {
        connectFailed(reply);
        return;
    }
    logIn();
}

void Login::saveLoginToDatabase() {
    // The server number goes in as a number: text that is not one fails the update, which is
    // skipped like any other failure of this step.
    auto number = toWholeNumber(m_form.text("Combo1"), 32);
    if (!number) {
        return;
    }
    m_form.queue().saveLogin(m_form.text("txtUserId"), m_form.text("txtUSerPassWord"),
                             std::to_string(*number), m_form.text("TxtNewIP"));
}

std::string Login::checkServers() {
    std::string reply;
    int passes = 0;
    const int firstServer = m_form.serverNo == 0 ? 1 : m_form.serverNo;
    while (true) {
        if (m_form.serverNo == 0) {
            m_form.serverNo = 1;
        }
        if (!trimSpaces(m_form.serverAddress).empty()) {
            m_env.clock.sleepMs(100);
            m_form.writeLog("Server: Trying to Connect server - 0 Server NO =" +
                            std::to_string(m_form.serverNo));
            fetch(gatewayUrl("http://", m_form.serverAddress, "/Parlix/ParlixChk.asp"), reply);
            return reply;
        }
        m_form.serverAddress = serverHost(m_form.serverNo);
        if (m_form.serverNo == 9 && m_form.serverAddress.empty()) {
            m_env.ui.msgBox("IP Address Not Set, Contact to your Vendor");
            return {};
        }
        if (trimSpaces(m_form.serverAddress).empty()) {
            return reply;
        }
        reply.clear();
        for (int attempt = 1; attempt <= kAttemptsPerServer && reply.empty(); ++attempt) {
            m_env.clock.sleepMs(500);
            m_form.writeLog("Server: Trying to Connect server - " + std::to_string(attempt) +
                            " Server NO =" + std::to_string(m_form.serverNo));
            m_env.ui.doEvents();
            fetch(gatewayUrl("http://", m_form.serverAddress, "/Parlix/ParlixChk.asp"), reply);
            if (reply.empty()) {
                m_env.ui.doEvents();
            }
        }
        if (reply == kServerConnected) {
            return reply;
        }
        m_form.serverAddress.clear();
        m_form.serverNo = static_cast<std::int16_t>(nextServer(m_form.serverNo));
        if (m_form.serverNo == firstServer && ++passes == m_env.serverPasses) {
            return reply;
        }
    }
}

void Login::connectFailed(const std::string& reply) {
    m_form.loginOk = false;
    m_form.writeLog("Server: NOT Connected ");
    m_form.setVisible("Cmd_CheckInternet", true);
    m_form.serverAddress.clear();
    m_form.setEnabled("cmdConnect2", true);
    m_form.setEnabled("SendMessage", false);
    tryStep([&] { writeFileAtomic(m_env.programFolder + "/LastErr.txt", reply); });
}

void Login::logIn() {
    m_env.settings.SaveSetting(kSettingsApp, "PARLIX", "NO", std::to_string(m_form.serverNo));
    std::string reply = kServerConnected;
    fetch(gatewayUrl("http://", m_form.serverAddress, "/Parlix/Logonchks.asp",
                     {{"UserId", m_form.text("txtUserId")},
                      {"UserPassWord", m_form.text("txtUSerPassWord")},
                      {"IP", m_form.localIP}}),
          reply);
    m_form.writeLog("Server: Connected   " + generalDateTime(m_env.clock.now()));
    std::vector<std::string> fields = split(reply, "||");
    if (fields[0] == "logonyes") {
        applyAccepted(fields);
    } else if (fields[0] == "logonno") {
        refused("Login: Incorrect!");
    } else {
        refused("Login: Fail!");
    }
}

void Login::applyAccepted(const std::vector<std::string>& fields) {
    if (fields.size() >= 2) {
        m_form.setText("lblSMS", "Balance SMS: " + trimSpaces(fields[1]));
        if (auto balance = toWholeNumber(fields[1], 32)) {
            m_form.smsBalance = static_cast<std::int32_t>(*balance);
        }
    }
    m_form.setEnabled("SendMessage", true);
    m_form.setEnabled("cmdConnect2", false);
    if (fields.size() >= 3) {
        if (fields[2] == "YES") {
            m_form.setVisible("Chk_DownloadDR", true);
            m_form.setValue("Chk_DownloadDR", 1);
            m_form.drAllowed = true;
        }
        if (m_form.firstLogin) {
            m_form.firstLogin = false;
            if (fields.size() >= 4 && !trimSpaces(fields[3]).empty()) {
                m_env.ui.msgBox(fields[3], MsgButtons::Ok, MsgIcon::None, "PARLIX");
            }
            if (fields.size() >= 5 && !trimSpaces(fields[4]).empty()) {
                tryStep([&] { applySenderIds(fields[4]); });
            }
        }
    }
    m_form.loginOk = true;
}

void Login::applySenderIds(const std::string& ids) {
    m_form.setVisible("CMB_Senderid", true);
    m_form.setVisible("Label10", true);
    std::string stored = m_env.settings.GetSetting(kSettingsApp, "Parlix", "Senderid", "");
    if (trimSpaces(ids) == kOpenSenderId) {
        m_form.setVisible("TXT_SENDERID", true);
        m_form.setText("TXT_SENDERID", stored);
        return;
    }
    for (const std::string& id : split(ids, ",")) {
        m_form.addItem("CMB_Senderid", id);
    }
    m_form.setText("TXT_SENDERID", stored);
    if (!m_form.text("TXT_SENDERID").empty()) {
        m_form.setText("CMB_Senderid", m_form.text("TXT_SENDERID"));
    } else {
        m_form.setListIndex("CMB_Senderid", 0);
        m_form.setText("TXT_SENDERID", m_form.text("CMB_Senderid"));
    }
}

void Login::refused(const char* logLine) {
    m_form.loginOk = false;
    m_form.writeLog(logLine);
    m_form.setText("lblSMS", "Balance SMS: 0");
    m_form.smsBalance = 0;
    m_form.setEnabled("SendMessage", false);
    m_form.setEnabled("cmdConnect2", true);
}

}  // namespace parlix
