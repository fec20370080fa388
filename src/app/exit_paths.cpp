#include "app/exit_paths.h"

#include "base/continue_on_error.h"
#include "base/ui.h"
#include "dispatch/batch_marker.h"
#include "model/form_model.h"
#include "model/settings_keys.h"
#include "sys/settings_store.h"

namespace parlix {

void settleInterruptedBatch(FormModel& form, const std::string& programFolder,
                            const std::string& logPrefix, Status mayHaveReached) {
    BatchMarker marker(programFolder);
    const bool mayHaveReachedGateway = marker.present();
    const Status to = mayHaveReachedGateway ? mayHaveReached : Status::Queued;
    int rows = 0;
    if (!tryStep([&] { rows = form.queue().settleTaken(to); })) {
        return;  // the marker stays, for the next start to decide by
    }
    if (rows > 0 || mayHaveReachedGateway) {
        form.writeLog(logPrefix + std::to_string(rows) +
                      (mayHaveReachedGateway ? " messages may have reached the gateway, marked " +
                                                   std::string(statusText(to))
                                             : std::string(" messages back in the queue")));
    }
    tryStep([&] { marker.clear(); });
}

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
    settleInterruptedBatch(m_form, m_env.programFolder, "Exit: ", Status::DelSent);
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
