#pragma once

#include <string>
#include <vector>

#include "model/app_environment.h"

namespace parlix {

class FormModel;

/// Connect and log in: the server choice, the server check with rotation, the login request
/// and what its reply sets. Safe to run many times a run: the dispatch tick logs in again
/// through it before every batch.
class Login {
public:
    Login(FormModel& form, const AppEnvironment& env);

    /// The Connect button. Every step that raises is skipped and the routine goes on.
    void cmdConnect2_Click();

    /// The host of a server number: servers 1 to 5 from the configuration, 9 the custom host
    /// from the settings, anything else server 1.
    std::string serverHost(int serverNo) const;
    /// 1 to 2 to 3 to 4 to 5 to 1; any other number stays, so that server is tried again.
    static int nextServer(int serverNo);

private:
    void saveLoginToDatabase();
    /// The server loop: the reply of the last server check, "Server Connected" on success.
    std::string checkServers();
    void connectFailed(const std::string& reply);
    void logIn();
    void applyAccepted(const std::vector<std::string>& fields);
    void applySenderIds(const std::string& ids);
    void refused(const char* logLine);
    /// GET through the transfer element; a failed transfer leaves `reply` as it was.
    void fetch(const std::string& url, std::string& reply);

    FormModel& m_form;
    const AppEnvironment& m_env;
};

}  // namespace parlix
