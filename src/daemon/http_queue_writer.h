#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "daemon/http_messages.h"

namespace parlix {

class MessageQueue;

/// Lowers the calling thread's scheduling priority below the tick's, so that on a busy machine
/// requests take the processor time the tick leaves. Threads it starts later inherit it.
void yieldToTheTick();

/// What a request to queue gets back: an HTTP status and a JSON body.
struct QueueAnswer {
    int status = 0;
    std::string body;
    /// The answer kept under the request's idempotency key, given again.
    bool replayed = false;
};

/// The one writer of the HTTP interface. Request threads hand it their messages; it gathers
/// what arrives while it commits, and commits each gathering in one transaction, so that many
/// requests share one disk sync. A request is answered only once its rows are on disk.
class QueueWriter {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    /// Takes the queue to write through, over a connection of its own; `log` hears of database
    /// failures.
    QueueWriter(std::unique_ptr<MessageQueue> queue, std::function<void(const std::string&)> log,
                Clock clock = std::chrono::system_clock::now);
    /// Answers what it holds, then stops.
    ~QueueWriter();
    QueueWriter(const QueueWriter&) = delete;
    QueueWriter& operator=(const QueueWriter&) = delete;

    /// Queues the request's messages, all or none; with a key, a repeat of a request answered
    /// in the last 24 hours gets that answer again and queues nothing. Waits for the commit.
    QueueAnswer submit(MessageRequest request, const std::string& idempotencyKey);

private:
    struct Job {
        MessageRequest request;
        std::string key;
        std::promise<QueueAnswer> answer;
    };

    void run();
    void commit(std::vector<Job*>& jobs);

    std::unique_ptr<MessageQueue> m_queue;
    std::function<void(const std::string&)> m_log;
    Clock m_clock;
    std::chrono::system_clock::time_point m_nextCleanUp;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::vector<Job*> m_pending;
    bool m_stopping = false;
    std::thread m_thread;
};

}  // namespace parlix
