#pragma once

#include <string>

#include "model/app_environment.h"

namespace parlix {

class BatchSender;
class FormModel;
class RegistryKeys;

/// The start-up sequence that runs when the window loads, and the saved-login fallback.
class Startup {
public:
    Startup(FormModel& form, const AppEnvironment& env, RegistryKeys& regKeys, BatchSender& sender);

    /// Runs the start-up steps in order. Until the remembered credentials are in place an error
    /// ends the program with a message naming it; after that a failing step is skipped.
    void Form_Load();

private:
    void checkInstancesAndLoadCredentials();
    void loadSettings();
    void applyProxy();
    bool openDatabase();
    void settleQueue();
    void fixInstallationNumber();
    void LoadSavedLogin();
    void upgradeSchema();
    /// Reports an error of the steps before the database is opened and ends the program.
    void endWithError(const std::string& description);

    FormModel& m_form;
    const AppEnvironment& m_env;
    RegistryKeys& m_regKeys;
    BatchSender& m_sender;
};

}  // namespace parlix
