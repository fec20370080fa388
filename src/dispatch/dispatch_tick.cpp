#include "dispatch/dispatch_tick.h"

#include "base/clock.h"
#include "base/date_time.h"
#include "base/text.h"
#include "base/ui.h"
#include "login/login.h"
#include "model/form_model.h"

namespace parlix {

DispatchTick::DispatchTick(FormModel& form, const AppEnvironment& env, Login& login,
                           std::function<void()> downloadReports)
    : m_form(form),
      m_env(env),
      m_login(login),
      m_downloadReports(std::move(downloadReports)),
      m_sender(form, env) {}

void DispatchTick::SendMessage_Timer() {
    m_form.setText("Label3", clockCaption(m_env.clock.now()));
    m_form.setEnabled("SendMessage", false);
    if (m_form.smsBalance != 0) {
        try {
            DecideSendSMS();
        } catch (const OutsideFailure& e) {
            recover(e);
        }
    } else {
        m_form.setEnabled("cmdConnect2", true);
    }
    if (m_form.value("Chk_DownloadDR") == 1 && m_form.drAllowed) {
        m_form.drTickCount += 1;
        if (m_form.drTickCount > 900 && m_downloadReports) {
            try {
                m_downloadReports();
            } catch (const OutsideFailure& e) {
                m_form.writeLog(std::string("Delivery reports: ") + e.what());
            }
        }
    }
    m_form.setEnabled("SendMessage", true);
}

void DispatchTick::recover(const OutsideFailure& e) {
    ++m_form.counters.tickErrors;
    m_form.writeLog(std::string("Dispatch error: ") + e.what() + " " +
                    generalDateTime(m_env.clock.now()));
    // The batch's rows must not stay taken: before its last piece went they are queued again,
    // after it the gateway may hold them and they are never sent twice.
    if (!m_sender.settleHeld("Dispatch error: ")) {
        m_form.writeLog("Dispatch error: the rows of the batch could not be settled");
    }
    m_form.uploadOk = false;
}

void DispatchTick::DecideSendSMS() {
    constexpr long kCountLimit = 5000;
    if (!m_sender.readyToTake()) {
        return;
    }
    long n = m_form.queue().countQueued(kCountLimit);
    m_env.ui.doEvents();
    if (n > 0) {
        m_form.writeLog("Records found - " + std::to_string(n));
        m_form.singleBatchSize = static_cast<double>(n);
        if (m_form.singleBatchSize > 100) {
            m_form.singleBatchSize -= 100;
        }
        m_form.loginOk = false;
        m_form.setEnabled("cmdConnect2", true);
        m_login.cmdConnect2_Click();
        if (m_form.loginOk) {
            m_form.loginOk = false;
            std::string senderId = trimSpaces(m_form.text("TXT_SENDERID"));
            if (senderId.empty()) {
                m_sender.SendSmsSingleFile();
            } else {
                m_sender.SendSmsSingleFile_NWT(senderId);
            }
        }
    }
    m_env.ui.doEvents();
}

}  // namespace parlix
