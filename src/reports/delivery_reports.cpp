#include "reports/delivery_reports.h"

#include <cstdio>

#include "base/clock.h"
#include "base/continue_on_error.h"
#include "base/date_time.h"
#include "base/text.h"
#include "base/ui.h"
#include "model/form_model.h"
#include "transport/gateway_url.h"
#include "transport/http_client.h"

namespace parlix {

namespace {

// Reports are written in transactions of this many rows, so a long reply costs a disk sync per
// chunk rather than per report, and the outside writers wait only briefly.
constexpr size_t kChunk = 256;

std::optional<DateTime> parseUsDateTime(const std::string& text) {
    DateTime t;
    char ampm[3] = {0, 0, 0};
    int used = 0;
    if (std::sscanf(text.c_str(), "%2d/%2d/%4d %2d:%2d:%2d %2[AaPp]%*[Mm]%n", &t.month, &t.day,
                    &t.year, &t.hour, &t.minute, &t.second, ampm, &used) != 7 ||
        static_cast<size_t>(used) != text.size() || t.hour < 1 || t.hour > 12) {
        return std::nullopt;
    }
    bool pm = ampm[0] == 'P' || ampm[0] == 'p';
    t.hour = t.hour % 12 + (pm ? 12 : 0);
    if (!isValidDateTime(t)) {
        return std::nullopt;
    }
    return t;
}

}  // namespace

std::optional<std::string> deliveryTimeToIso(const std::string& text) {
    if (auto iso = parseIsoDateTime(text)) {
        return isoDateTime(*iso);
    }
    if (auto us = parseUsDateTime(text)) {
        return isoDateTime(*us);
    }
    return std::nullopt;
}

DeliveryReports::DeliveryReports(FormModel& form, const AppEnvironment& env)
    : m_form(form), m_env(env) {}

void DeliveryReports::DownloadDeliveryReports() {
    if (m_form.serverAddress.empty()) {
        return;
    }
    m_form.setEnabled("Command1", false);
    m_form.refresh("Command1");
    m_form.setEnabled("SendMessage", false);
    try {
        download();
    } catch (const OutsideFailure& e) {
        m_form.writeLog(std::string("Delivery reports: ") + e.what());
    }
    tryStep([&] { m_env.transfer.cancel(); });
    m_form.setEnabled("Command1", true);
    m_form.refresh("Command1");
    m_form.setEnabled("SendMessage", true);
}

void DeliveryReports::download() {
    m_form.requestUrl = gatewayUrl("http://", m_form.serverAddress, "/DR/DR.aspx",
                                   {{"userid", m_form.text("txtUserId")},
                                    {"userpass", m_form.text("txtUSerPassWord")},
                                    {"MsgNum", m_form.comportNo}});
    m_env.ui.doEvents();
    std::string reply = m_env.transfer.get(m_form.requestUrl);
    m_env.transfer.cancel();
    std::string trimmed = trimSpaces(reply);
    if (trimmed == "END" || trimmed.substr(0, 4) == "-201") {
        m_form.drTickCount = 0;
        return;
    }
    std::vector<std::string> pieces;
    if (!reply.empty()) {
        pieces = split(reply, "\r\n");
    }
    reply.clear();
    reply.shrink_to_fit();
    applyReports(pieces);
    long separators = static_cast<long>(pieces.size()) - 1;
    m_form.prependToLog("Rec DR " + std::to_string(separators) + "  " +
                        generalDateTime(m_env.clock.now()));
}

void DeliveryReports::applyReports(const std::vector<std::string>& pieces) {
    MessageQueue& queue = m_form.queue();
    long unreadable = 0;
    std::string firstUnreadable;
    for (size_t start = 0; start < pieces.size(); start += kChunk) {
        size_t end = std::min(pieces.size(), start + kChunk);
        size_t nonEmpty = 0;
        std::vector<DeliveryReport> reports;
        for (size_t i = start; i < end; ++i) {
            if (pieces[i].empty()) {
                continue;
            }
            ++nonEmpty;
            std::vector<std::string> fields = split(pieces[i], ",");
            if (fields.size() < 4) {
                continue;
            }
            std::string time = trimSpaces(fields[2]);
            std::optional<std::string> iso = deliveryTimeToIso(time);
            if (!iso) {
                if (unreadable++ == 0) {
                    firstUnreadable = trimSpaces(fields[0]) + " (" + time + ")";
                }
                continue;
            }
            reports.push_back(
                {trimSpaces(fields[0]), trimSpaces(fields[1]), trimSpaces(fields[3]), *iso});
        }
        queue.applyReports(reports);
        // Events run outside the transaction, so an Exit pressed meanwhile finds nothing open.
        for (size_t i = 0; i < nonEmpty; ++i) {
            m_env.ui.doEvents();
        }
    }
    if (unreadable > 0) {
        m_form.writeLog("Delivery reports: " + std::to_string(unreadable) +
                        " with a date and time that cannot be read were skipped, the first for " +
                        firstUnreadable);
    }
}

}  // namespace parlix
