#pragma once

#include <functional>

#include "base/failure.h"
#include "dispatch/batch_sender.h"
#include "model/app_environment.h"

namespace parlix {

class FormModel;
class Login;

/// The one-second tick and the choice of sender.
class DispatchTick {
public:
    /// `downloadReports` fetches delivery reports when they are due.
    DispatchTick(FormModel& form, const AppEnvironment& env, Login& login,
                 std::function<void()> downloadReports);

    /// The timer's handler. It stops the timer while it works and always restarts it; an error
    /// in the work is logged and the rows it left taken for sending are settled.
    void SendMessage_Timer();
    /// Counts the queued rows, logs in again and runs one sender once.
    void DecideSendSMS();

    BatchSender& sender() { return m_sender; }

private:
    void recover(const OutsideFailure& e);

    FormModel& m_form;
    const AppEnvironment& m_env;
    Login& m_login;
    std::function<void()> m_downloadReports;
    BatchSender m_sender;
};

}  // namespace parlix
