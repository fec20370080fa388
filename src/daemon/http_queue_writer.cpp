#include "daemon/http_queue_writer.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <nlohmann/json.hpp>

#include "db/db_error.h"
#include "db/message_queue.h"

namespace parlix {

namespace {

constexpr auto kKeyLifetime = std::chrono::hours(24);
constexpr auto kCleanUpInterval = std::chrono::minutes(10);
// Rows a commit takes at most, so that the tick never waits long for the database.
constexpr std::size_t kRowsPerCommit = 5000;
constexpr auto kPause = std::chrono::milliseconds(1);

// Nice 10: a request thread gets about a tenth of the processor time of the tick's thread when
// both want it, and all the time the tick leaves.
constexpr int kRequestNice = 10;

std::string idsJson(const std::vector<std::int64_t>& ids) {
    return nlohmann::json{{"ids", ids}}.dump();
}

/// "YYYY-MM-DD HH:MM:SS" in UTC, which sorts as it runs.
std::string utcText(std::chrono::system_clock::time_point t) {
    const std::time_t secs = std::chrono::system_clock::to_time_t(t);
    std::tm utc{};
    gmtime_r(&secs, &utc);
    char text[24];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &utc);
    return text;
}

}  // namespace

void yieldToTheTick() {
    // Without the right to, a service's filter may refuse the call; requests then run at the
    // tick's priority, which is correct, only less kind to the tick.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kRequestNice);
}

QueueWriter::QueueWriter(std::unique_ptr<MessageQueue> queue,
                         std::function<void(const std::string&)> log, Clock clock)
    : m_queue(std::move(queue)), m_log(std::move(log)), m_clock(std::move(clock)) {
    m_thread = std::thread([this] { run(); });
}

QueueWriter::~QueueWriter() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

QueueAnswer QueueWriter::submit(MessageRequest request, const std::string& idempotencyKey) {
    Job job{std::move(request), idempotencyKey, {}};
    std::future<QueueAnswer> answer = job.answer.get_future();
    {
        std::lock_guard lock(m_mutex);
        m_pending.push_back(&job);
    }
    m_wake.notify_one();
    return answer.get();
}

void QueueWriter::run() {
    yieldToTheTick();
    std::unique_lock lock(m_mutex);
    while (true) {
        m_wake.wait(lock, [this] { return m_stopping || !m_pending.empty(); });
        if (m_pending.empty()) {
            return;
        }
        std::vector<Job*> jobs;
        std::size_t rows = 0;
        auto next = m_pending.begin();
        for (; next != m_pending.end() && (jobs.empty() || rows < kRowsPerCommit); ++next) {
            jobs.push_back(*next);
            rows += (*next)->request.messages.size();
        }
        m_pending.erase(m_pending.begin(), next);
        lock.unlock();
        const auto started = std::chrono::steady_clock::now();
        commit(jobs);
        // The tick waits for the database's write lock by polling it. Leaving the lock free for
        // at least as long as the commit held it lets the tick in at once, however many
        // requests wait; they go into the next commit together.
        const auto held = std::chrono::steady_clock::now() - started;
        std::this_thread::sleep_for(std::max<std::chrono::steady_clock::duration>(held, kPause));
        lock.lock();
    }
}

void QueueWriter::commit(std::vector<Job*>& jobs) {
    const auto now = m_clock();
    std::vector<QueueAnswer> answers;
    try {
        if (now >= m_nextCleanUp) {
            m_queue->forgetAnswersBefore(utcText(now - kKeyLifetime));
            m_nextCleanUp = now + kCleanUpInterval;
        }
        std::vector<QueueRequest> requests;
        for (const Job* job : jobs) {
            QueueRequest& r = requests.emplace_back();
            for (const NewMessage& m : job->request.messages) {
                r.messages.emplace_back(m.mobile, m.text);
            }
            r.key = job->key;
            r.fingerprint = job->request.fingerprint;
        }
        const std::vector<RequestOutcome> outcomes = m_queue->queueRequests(
            requests, utcText(now), utcText(now - kKeyLifetime),
            [](const std::vector<std::int64_t>& ids) { return idsJson(ids); });
        for (std::size_t i = 0; i < jobs.size(); ++i) {
            const RequestOutcome& o = outcomes[i];
            if (!o.kept) {
                answers.push_back({201, idsJson(o.ids)});
            } else if (o.kept->fingerprint != jobs[i]->request.fingerprint) {
                answers.push_back({422, errorJson({422, "Idempotency-Key",
                                                   "was used in the last 24 hours for another "
                                                   "body"})});
            } else {
                answers.push_back({201, o.kept->answer, true});
            }
        }
    } catch (const DbError& e) {
        m_log("HTTP: the queue refused " + std::to_string(jobs.size()) +
              " requests: " + e.description());
        answers.assign(jobs.size(), {503, errorJson({503, "queue",
                                                     "the queue database refused the write; "
                                                     "nothing was queued, try again"})});
    } catch (...) {
        // A fault of the program: each request thread raises it, and the server reports it.
        for (Job* job : jobs) {
            job->answer.set_exception(std::current_exception());
        }
        return;
    }
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        jobs[i]->answer.set_value(std::move(answers[i]));
    }
}

}  // namespace parlix
