#pragma once

#include <string>

#include "model/app_environment.h"

namespace parlix {

class FormModel;
class RegistryKeys;

/// The three switchable panels and every option that is saved the moment it changes.
class SettingsPanel {
public:
    SettingsPanel(FormModel& form, const AppEnvironment& env, RegistryKeys& regKeys);

    /// Attaches the panel's handlers to the form.
    void attach();

    void showPanel(const std::string& panel);
    void Combo1_Change();
    void Cmd_Save_Click();
    void Chk_VistaOS_Click();
    void ChkIdPass_Click();
    void Chk_proxy_Click();
    void CMB_Senderid_Change();
    void TXT_SENDERID_Change();
    void txtUserId_Validate();
    void txtUSerPassWord_Validate();

private:
    void save(const std::string& section, const std::string& key, const std::string& value);

    FormModel& m_form;
    const AppEnvironment& m_env;
    RegistryKeys& m_regKeys;
};

}  // namespace parlix
