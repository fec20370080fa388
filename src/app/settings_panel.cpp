#include "app/settings_panel.h"

#include "base/text.h"
#include "base/ui.h"
#include "model/form_model.h"
#include "model/settings_keys.h"
#include "sys/registry_keys.h"
#include "sys/settings_store.h"
#include "transport/http_client.h"

namespace parlix {

namespace {

const char* const kPanels[] = {"Frm_Serversetting", "Frm_Internet", "Frm_Logs"};

}  // namespace

SettingsPanel::SettingsPanel(FormModel& form, const AppEnvironment& env, RegistryKeys& regKeys)
    : m_form(form), m_env(env), m_regKeys(regKeys) {}

void SettingsPanel::attach() {
    FormModel& f = m_form;
    f.on("Cmd_ServerSetting", Event::Click, [this] { showPanel("Frm_Serversetting"); });
    f.on("Cmd_Internet", Event::Click, [this] { showPanel("Frm_Internet"); });
    f.on("Cmd_Logs", Event::Click, [this] { showPanel("Frm_Logs"); });
    f.on("Combo1", Event::Change, [this] { Combo1_Change(); });
    f.on("Combo1", Event::Click, [this] { Combo1_Change(); });
    f.on("Cmd_Save", Event::Click, [this] { Cmd_Save_Click(); });
    f.on("Chk_VistaOS", Event::Click, [this] { Chk_VistaOS_Click(); });
    f.on("ChkIdPass", Event::Click, [this] { ChkIdPass_Click(); });
    f.on("Chk_proxy", Event::Click, [this] { Chk_proxy_Click(); });
    const std::pair<const char*, const char*> proxyKeys[] = {
        {"Text1", "Port"}, {"Text2", "Address"}, {"Text3", "Password"}, {"Text4", "UserName"}};
    for (const auto& [field, key] : proxyKeys) {
        std::string name = field;
        std::string k = key;
        f.on(name, Event::Change, [this, name, k] { save("ProxySettings", k, m_form.text(name)); });
    }
    for (Event e : {Event::Change, Event::Click, Event::LostFocus}) {
        f.on("CMB_Senderid", e, [this] { CMB_Senderid_Change(); });
        f.on("TXT_SENDERID", e, [this] { TXT_SENDERID_Change(); });
    }
    f.on("txtUserId", Event::Validate, [this] { txtUserId_Validate(); });
    f.on("txtUSerPassWord", Event::Validate, [this] { txtUSerPassWord_Validate(); });
}

void SettingsPanel::save(const std::string& section, const std::string& key,
                         const std::string& value) {
    m_env.settings.SaveSetting(kSettingsApp, section, key, value);
}

void SettingsPanel::showPanel(const std::string& panel) {
    for (const char* p : kPanels) {
        m_form.setVisible(p, panel == p);
    }
}

void SettingsPanel::Combo1_Change() {
    bool custom = m_form.text("Combo1") == "9";
    m_form.setVisible("TxtNewIP", custom);
    if (custom) {
        m_form.refresh("TxtNewIP");
    }
}

void SettingsPanel::Cmd_Save_Click() {
    m_env.transfer.cancel();
    save("PARLIX", "NO", m_form.text("Combo1"));
    save("PARLIX", "IP", trimSpaces(m_form.text("TxtNewIP")));
    m_env.ui.msgBox("Save Sucessfully\r\n\r\n!! Restart Server Again !!");
    m_env.ui.endProgram();
}

void SettingsPanel::Chk_VistaOS_Click() {
    save("PARLIX", "OS", m_form.value("Chk_VistaOS") == 1 ? "1" : "0");
}

void SettingsPanel::ChkIdPass_Click() {
    m_regKeys.WriteRegString(kProgramRegistryKey, "Remember Id PassWord",
                             std::to_string(m_form.value("ChkIdPass")));
}

void SettingsPanel::Chk_proxy_Click() {
    bool on = m_form.value("Chk_proxy") == 1;
    for (const char* field : {"Text1", "Text2", "Text3", "Text4"}) {
        m_form.setEnabled(field, on);
    }
    save("ProxySettings", "Proxy", std::to_string(m_form.value("Chk_proxy")));
}

void SettingsPanel::CMB_Senderid_Change() {
    m_form.setText("TXT_SENDERID", m_form.text("CMB_Senderid"));
}

void SettingsPanel::TXT_SENDERID_Change() {
    save("Parlix", "Senderid", m_form.text("TXT_SENDERID"));
}

void SettingsPanel::txtUserId_Validate() {
    m_regKeys.WriteRegString(kProgramRegistryKey, "UserId", m_form.text("txtUserId"));
}

void SettingsPanel::txtUSerPassWord_Validate() {
    m_regKeys.WriteRegString(kProgramRegistryKey, "PassWord", m_form.text("txtUSerPassWord"));
}

}  // namespace parlix
