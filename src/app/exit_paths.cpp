#include "app/exit_paths.h"

#include "base/continue_on_error.h"
#include "base/ui.h"
#include "dispatch/batch_sender.h"
#include "model/form_model.h"
#include "model/settings_keys.h"
#include "sys/settings_store.h"

namespace parlix {

ExitPaths::ExitPaths(FormModel& form, const AppEnvironment& env, BatchSender& sender)
    : m_form(form), m_env(env), m_sender(sender) {}

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
    // The batch in hand first; what an interrupted run left is settled only once no batch of
    // this run is taken, as a start settles it.
    if (m_sender.settleHeld("Exit: ")) {
        m_sender.settleLeftOvers(Status::Deleted, "Exit: ");
    }
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
