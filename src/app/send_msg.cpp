#include "app/send_msg.h"

#include "app/exit_paths.h"
#include "app/settings_panel.h"
#include "app/startup.h"
#include "base/continue_on_error.h"
#include "dispatch/dispatch_tick.h"
#include "login/login.h"
#include "reports/delivery_reports.h"
#include "transport/http_client.h"

namespace parlix {

SendMsg::SendMsg(AppEnvironment env)
    : m_env(std::move(env)),
      m_regKeys(m_env.registry, m_env.ui),
      m_login(std::make_unique<Login>(m_form, m_env)),
      m_reports(std::make_unique<DeliveryReports>(m_form, m_env)),
      m_tick(std::make_unique<DispatchTick>(m_form, m_env, *m_login,
                                            [this] { m_reports->DownloadDeliveryReports(); })),
      m_startup(std::make_unique<Startup>(m_form, m_env, m_regKeys, m_tick->sender())),
      m_settings(std::make_unique<SettingsPanel>(m_form, m_env, m_regKeys)),
      m_exit(std::make_unique<ExitPaths>(m_form, m_env, m_tick->sender())) {
    attachHandlers();
}

SendMsg::~SendMsg() = default;

void SendMsg::attachHandlers() {
    m_settings->attach();
    m_form.on("cmdConnect2", Event::Click, [this] { m_login->cmdConnect2_Click(); });
    m_form.on("SendMessage", Event::Timer, [this] { m_tick->SendMessage_Timer(); });
    m_form.on("Cmd_DownloadDR", Event::Click, [this] { m_reports->Cmd_DownloadDR_Click(); });
    m_form.on("cmdexit2", Event::Click, [this] { m_exit->cmdexit2_Click(); });
    m_form.on("Command1", Event::Click, [this] { m_exit->Command1_Click(); });
    m_form.on("Cmd_AlterDatabase", Event::Click,
              [this] { tryStep([this] { m_form.queue().upgradeSchema(); }); });
    m_form.on("Cmd_CheckInternet", Event::Click, [] {});
}

void SendMsg::Form_Load() {
    m_startup->Form_Load();
}

void SendMsg::Form_Unload() {
    m_exit->Form_Unload();
}

void SendMsg::Form_Terminate() {
    m_exit->Form_Unload();
}

void SendMsg::reloadConfig(const TransportConfig& config) {
    m_env.config = config;
    m_env.transfer.setTimeouts(config.timeouts);
    m_env.uploader.setTimeouts(config.timeouts);
    m_form.serverAddress.clear();
}

}  // namespace parlix
