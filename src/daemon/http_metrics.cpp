#include "daemon/http_metrics.h"

#include <cstdio>

#include "base/text.h"
#include "db/message_queue.h"

namespace parlix {

namespace {

void family(std::string& out, const char* name, const char* type, const char* help) {
    out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

std::string number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", v);
    return text;
}

/// A label value with backslash, double quote and line break escaped.
std::string labelValue(const std::string& v) {
    return replaceAll(replaceAll(replaceAll(v, "\\", "\\\\"), "\"", "\\\""), "\n", "\\n");
}

}  // namespace

long queueDepth(const std::map<std::string, long>& rowsByStatus) {
    long depth = 0;
    for (const auto& [status, rows] : rowsByStatus) {
        if (iequals(status, statusText(Status::Queued)) ||
            iequals(status, statusText(Status::Read))) {
            depth += rows;
        }
    }
    return depth;
}

std::string prometheusText(const ServiceSnapshot& s,
                           const std::map<std::string, long>& rowsByStatus) {
    std::string out;
    family(out, "parlix_queue_messages", "gauge", "Rows of the queue by status, as stored.");
    for (const auto& [status, rows] : rowsByStatus) {
        out += "parlix_queue_messages{status=\"" + labelValue(status) + "\"} " +
               std::to_string(rows) + "\n";
    }
    family(out, "parlix_queue_depth", "gauge", "Rows waiting to be sent: queued or taken.");
    out += "parlix_queue_depth " + std::to_string(queueDepth(rowsByStatus)) + "\n";
    family(out, "parlix_balance_sms", "gauge", "SMS parts the gateway account can still send.");
    out += "parlix_balance_sms " + std::to_string(s.balance) + "\n";
    family(out, "parlix_logged_in", "gauge", "1 while the service is logged in to the gateway.");
    out += std::string("parlix_logged_in ") + (s.loggedIn ? "1" : "0") + "\n";
    family(out, "parlix_ticks_total", "counter", "Dispatch ticks run since the service started.");
    out += "parlix_ticks_total " + std::to_string(s.ticks) + "\n";
    family(out, "parlix_messages_sent_total", "counter",
           "Messages the gateway took since the service started.");
    out += "parlix_messages_sent_total " + std::to_string(s.counters.messagesSent) + "\n";
    family(out, "parlix_upload_failures_total", "counter", "Uploads the gateway refused.");
    out += "parlix_upload_failures_total " + std::to_string(s.counters.failedUploads) + "\n";
    family(out, "parlix_tick_errors_total", "counter",
           "Ticks ended by an error of the database, a file or the network.");
    out += "parlix_tick_errors_total " + std::to_string(s.counters.tickErrors) + "\n";
    family(out, "parlix_tick_duration_seconds", "histogram", "How long each dispatch tick took.");
    long cumulative = 0;
    for (size_t i = 0; i < kTickBuckets.size(); ++i) {
        cumulative += s.tickBuckets[i];
        out += "parlix_tick_duration_seconds_bucket{le=\"" + number(kTickBuckets[i]) + "\"} " +
               std::to_string(cumulative) + "\n";
    }
    out += "parlix_tick_duration_seconds_bucket{le=\"+Inf\"} " + std::to_string(s.ticks) + "\n";
    out += "parlix_tick_duration_seconds_sum " + number(s.tickSeconds) + "\n";
    out += "parlix_tick_duration_seconds_count " + std::to_string(s.ticks) + "\n";
    family(out, "parlix_last_successful_tick_timestamp_seconds", "gauge",
           "Unix time of the last tick without an error or a refused upload; 0 before one.");
    out += "parlix_last_successful_tick_timestamp_seconds " + number(s.lastGoodTick) + "\n";
    return out;
}

}  // namespace parlix
