#pragma once

#include <memory>

#include "model/app_environment.h"
#include "model/form_model.h"
#include "sys/registry_keys.h"

namespace parlix {

class DeliveryReports;
class DispatchTick;
class ExitPaths;
class Login;
class SettingsPanel;
class Startup;

/// The main window's logic. It owns the form model and attaches every handler to it; each
/// handler is a one-line call into the subsystem that owns the behaviour.
class SendMsg {
public:
    explicit SendMsg(AppEnvironment env);
    ~SendMsg();
    SendMsg(const SendMsg&) = delete;
    SendMsg& operator=(const SendMsg&) = delete;

    FormModel& form() { return m_form; }
    DispatchTick& tick() { return *m_tick; }
    const AppEnvironment& environment() const { return m_env; }

    /// Start-up, run once before the window is shown.
    void Form_Load();
    /// The window is being closed; the close is never refused.
    void Form_Unload();
    /// The window object is being destroyed.
    void Form_Terminate();
    /// Takes a reread configuration: timeouts and the payload code page from the next request
    /// and batch on, server hosts from the next server check, which looks the host up afresh.
    void reloadConfig(const TransportConfig& config);

private:
    void attachHandlers();

    AppEnvironment m_env;
    FormModel m_form;
    RegistryKeys m_regKeys;
    std::unique_ptr<Login> m_login;
    std::unique_ptr<DeliveryReports> m_reports;
    std::unique_ptr<DispatchTick> m_tick;
    std::unique_ptr<Startup> m_startup;
    std::unique_ptr<SettingsPanel> m_settings;
    std::unique_ptr<ExitPaths> m_exit;
};

}  // namespace parlix
