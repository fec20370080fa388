#include "daemon/http_snapshot.h"

#include <algorithm>
#include <ctime>

#include "daemon/service_log.h"
#include "model/form_model.h"

namespace parlix {

namespace {

constexpr size_t kRecentLogEntries = 30;

}  // namespace

void SnapshotBoard::publish(ServiceSnapshot snapshot) {
    m_current.store(std::make_shared<const ServiceSnapshot>(std::move(snapshot)));
}

void TickRecorder::logEntry(const std::string& entry) {
    std::vector<std::string>& log = m_snapshot.recentLog;
    log.insert(log.begin(), entry);
    if (log.size() > kRecentLogEntries) {
        log.pop_back();
    }
}

void TickRecorder::tickEnded(const FormModel& form, std::chrono::duration<double> took, Time now) {
    ServiceSnapshot& s = m_snapshot;
    const DispatchCounters& c = form.counters;
    const bool error = c.tickErrors > s.counters.tickErrors;
    const bool refused = c.failedUploads > s.counters.failedUploads;
    const long sent = c.messagesSent - s.counters.messagesSent;
    s.lastTickOutcome = error ? "error" : refused ? "upload refused" : sent > 0 ? "sent" : "idle";
    if (!error && !refused) {
        s.lastGoodTick = std::chrono::duration<double>(now.time_since_epoch()).count();
    }
    s.lastTickTime = isoTimestamp(now);
    ++s.ticks;
    const auto bucket = std::lower_bound(kTickBuckets.begin(), kTickBuckets.end(), took.count());
    ++s.tickBuckets[static_cast<size_t>(bucket - kTickBuckets.begin())];
    s.tickSeconds += took.count();
    if (sent > 0) {
        m_sent.emplace_back(now, sent);
    }
    publish(form, now);
}

void TickRecorder::publish(const FormModel& form, Time now) {
    ServiceSnapshot& s = m_snapshot;
    s.loggedIn = !form.enabled("cmdConnect2");
    s.server = form.serverAddress;
    s.balance = form.smsBalance;
    s.counters = form.counters;
    while (!m_sent.empty() && now - m_sent.front().first >= std::chrono::hours(1)) {
        m_sent.pop_front();
    }
    s.sentLastMinute = 0;
    s.sentPerMinute.fill(0);
    for (const auto& [when, count] : m_sent) {
        // A clock set back puts a tick "in the future": it counts in the current minute.
        const auto ago = std::clamp<long long>(
            std::chrono::duration_cast<std::chrono::minutes>(now - when).count(), 0, 59);
        s.sentPerMinute[static_cast<size_t>(59 - ago)] += count;
        s.sentLastMinute += ago == 0 ? count : 0;
    }
    m_board.publish(s);
}

}  // namespace parlix
