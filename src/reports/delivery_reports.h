#pragma once

#include <optional>
#include <string>
#include <vector>

#include "model/app_environment.h"

namespace parlix {

class FormModel;

/// Reads a delivery time as gateways send it: ISO "YYYY-MM-DD HH:MM:SS" or the US general
/// form "M/d/yyyy h:mm:ss AM/PM". The result is the stored form "YYYY-MM-DD HH:MM:SS".
std::optional<std::string> deliveryTimeToIso(const std::string& text);

/// Fetches delivery reports and writes each into the queue row with its message id.
class DeliveryReports {
public:
    DeliveryReports(FormModel& form, const AppEnvironment& env);

    /// One download. Whatever goes wrong in it, it ends by cancelling the transfer and
    /// restoring the button and the dispatch timer.
    void DownloadDeliveryReports();
    void Cmd_DownloadDR_Click() { DownloadDeliveryReports(); }

private:
    void download();
    void applyReports(const std::vector<std::string>& pieces);

    FormModel& m_form;
    const AppEnvironment& m_env;
};

}  // namespace parlix
