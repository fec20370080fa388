#include "app/exit_paths.h"

#include "base/continue_on_error.h"
#include "base/ui.h"
#include "model/form_model.h"
#include "model/settings_keys.h"
#include "sys/settings_store.h"

namespace parlix {

ExitPaths::ExitPaths(FormModel& form, const AppEnvironment& env) : m_form(form), m_env(env) {}

void ExitPaths::closeDatabase() {
    tryStep([&] {
        if (m_form.dbConnection) {
            m_form.dbConnection->close();
        }
    });
    m_form.dbConnection.reset();
}

void ExitPaths::cmdexit2_Click() {
    m_form.setEnabled("SendMessage", false);
    tryStep([&] { m_form.queue().settleTaken(Status::Queued); });
    closeDatabase();
    m_env.ui.endProgram();
}

void ExitPaths::Form_Unload() {
    closeDatabase();
    m_env.ui.endProgram();
}

void ExitPaths::Command1_Click() {
    m_form.setText("Combo1", m_env.settings.GetSetting(kSettingsApp, "PARLIX", "NO", "1"));
    m_form.setEnabled("SendMessage", false);
    m_form.setEnabled("fmConnect", false);
}

}  // namespace parlix
