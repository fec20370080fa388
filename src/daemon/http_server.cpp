#include "daemon/http_server.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>
#include <vector>

#include "base/file.h"
#include "base/text.h"
#include "daemon/http_messages.h"
#include "daemon/http_metrics.h"
#include "daemon/http_page.h"
#include "daemon/http_queue_writer.h"
#include "daemon/http_snapshot.h"
#include "daemon/service_log.h"
#include "db/db_error.h"
#include "db/message_queue.h"
#include "dispatch/message_format.h"
#include "model/form_model.h"

namespace parlix {

namespace {

using Json = nlohmann::json;

// Each keep-alive connection holds a thread while it is open; clients beyond this wait.
constexpr size_t kServerThreads = 32;
constexpr time_t kSocketTimeoutSeconds = 5;
constexpr size_t kRequestsPerConnection = 1000;
constexpr const char* kJson = "application/json";

Json nullable(const Value& v) {
    return v.isNull() ? Json(nullptr) : Json(v.toText());
}

/// Compares every byte, so the time taken does not tell how much of a guess was right.
bool sameSecret(std::string_view a, std::string_view b) {
    unsigned char differ = a.size() == b.size() ? 0 : 1;
    for (size_t i = 0; i < a.size(); ++i) {
        differ |= static_cast<unsigned char>(a[i] ^ (i < b.size() ? b[i] : 0));
    }
    return differ == 0;
}

void answerError(httplib::Response& res, const ApiError& error) {
    res.status = error.status;
    res.set_content(errorJson(error), kJson);
}

/// Connections for the request threads' reads, opened when first needed and kept.
class ReadConnections {
public:
    using Opener = std::function<std::unique_ptr<MessageQueue>()>;
    explicit ReadConnections(Opener open) : m_open(std::move(open)) {}

    /// Runs `use` on a connection no other thread holds meanwhile.
    template <typename F>
    auto with(F use) {
        std::unique_ptr<MessageQueue> queue = take();
        auto result = use(*queue);
        std::lock_guard lock(m_mutex);
        m_idle.push_back(std::move(queue));
        return result;
    }

private:
    std::unique_ptr<MessageQueue> take() {
        {
            std::lock_guard lock(m_mutex);
            if (!m_idle.empty()) {
                std::unique_ptr<MessageQueue> queue = std::move(m_idle.back());
                m_idle.pop_back();
                return queue;
            }
        }
        return m_open();
    }

    Opener m_open;
    std::mutex m_mutex;
    std::vector<std::unique_ptr<MessageQueue>> m_idle;
};

}  // namespace

struct HttpInterface::Parts {
    Parts(ServiceLog& serviceLog, bool verboseLog) : log(serviceLog), verbose(verboseLog) {}

    ServiceLog& log;
    std::string token;
    bool verbose = false;
    SnapshotBoard board;
    TickRecorder recorder{board};
    std::unique_ptr<ReadConnections> reads;
    std::unique_ptr<QueueWriter> writer;
    httplib::Server server;
    std::thread thread;

    bool authorized(const httplib::Request& req, httplib::Response& res) const;
    void routes();
    void postMessages(const httplib::Request& req, httplib::Response& res);
    void getMessage(const httplib::Request& req, httplib::Response& res);
    Json status();
};

bool HttpInterface::Parts::authorized(const httplib::Request& req, httplib::Response& res) const {
    const std::string given = req.get_header_value("Authorization");
    constexpr std::string_view kScheme = "bearer ";
    if (given.size() > kScheme.size() && iequals(given.substr(0, kScheme.size()), kScheme) &&
        sameSecret(std::string_view(given).substr(kScheme.size()), token)) {
        return true;
    }
    res.set_header("WWW-Authenticate", "Bearer realm=\"parlixd\"");
    answerError(res, {401, "Authorization", "needs the service's bearer token"});
    return false;
}

void HttpInterface::Parts::postMessages(const httplib::Request& req, httplib::Response& res) {
    if (!authorized(req, res)) {
        return;
    }
    const std::string key = req.get_header_value("Idempotency-Key");
    if (req.has_header("Idempotency-Key")) {
        if (auto bad = checkIdempotencyKey(key)) {
            return answerError(res, *bad);
        }
    }
    auto read = readMessageRequest(req.get_header_value("Content-Type"), req.body);
    if (const ApiError* error = std::get_if<ApiError>(&read)) {
        return answerError(res, *error);
    }
    QueueAnswer answer = writer->submit(std::get<MessageRequest>(std::move(read)), key);
    if (answer.replayed) {
        res.set_header("Idempotent-Replayed", "true");
    }
    res.status = answer.status;
    res.set_content(answer.body, kJson);
}

void HttpInterface::Parts::getMessage(const httplib::Request& req, httplib::Response& res) {
    if (!authorized(req, res)) {
        return;
    }
    const std::string text = req.matches[1];
    std::int64_t id = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), id);
    const bool wellFormed = ec == std::errc() && end == text.data() + text.size() && id > 0;
    const auto row = wellFormed
                         ? reads->with([id](MessageQueue& queue) { return queue.lookUp(id); })
                         : std::nullopt;
    if (!row) {
        return answerError(res, {404, "id", "no message has the id \"" + text + "\""});
    }
    const Json delivery = {{"status", nullable(row->deliverStatus)},
                           {"reason", nullable(row->deliverReason)},
                           {"time", nullable(row->deliverTime)}};
    res.set_content(jsonText(Json{{"id", id},
                                  {"status", nullable(row->status)},
                                  {"message_id", nullable(row->messageId)},
                                  {"parts", smsParts(characterCount(row->message.toText()))},
                                  {"delivery", delivery}}),
                    kJson);
}

Json HttpInterface::Parts::status() {
    const auto s = board.current();
    const auto rows = reads->with([](MessageQueue& queue) { return queue.countByStatus(); });
    Json lastTick = nullptr;
    if (!s->lastTickTime.empty()) {
        lastTick = {{"time", s->lastTickTime}, {"outcome", s->lastTickOutcome}};
    }
    return {{"login", s->loggedIn ? "logged in" : "not logged in"},
            {"server", s->server},
            {"balance", s->balance},
            {"queue", rows},
            {"queue_depth", queueDepth(rows)},
            {"last_tick", lastTick},
            {"sent_last_minute", s->sentLastMinute},
            {"sent_per_minute", s->sentPerMinute},
            {"activity", s->recentLog}};
}

void HttpInterface::Parts::routes() {
    server.Post("/v1/messages", [this](const auto& req, auto& res) { postMessages(req, res); });
    server.Get(R"(/v1/messages/([^/]*))",
               [this](const auto& req, auto& res) { getMessage(req, res); });
    server.Get("/v1/status", [this](const auto&, auto& res) {
        res.set_header("Cache-Control", "no-store");
        res.set_content(jsonText(status()), kJson);
    });
    server.Get("/metrics", [this](const auto&, auto& res) {
        const auto rows = reads->with([](MessageQueue& queue) { return queue.countByStatus(); });
        res.set_content(prometheusText(*board.current(), rows),
                        "text/plain; version=0.0.4; charset=utf-8");
    });
    server.Get("/", [](const auto&, auto& res) {
        res.set_content(kStatusPage, "text/html; charset=utf-8");
    });
    server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty()) {
            return;
        }
        if (res.status == 413) {
            return answerError(
                res,
                {413, "body", "is over the limit of " + std::to_string(kMaxBodyBytes) + " bytes"});
        }
        answerError(res, res.status == 404
                             ? ApiError{404, "path", "names no endpoint"}
                             : ApiError{res.status, "request",
                                        "is refused (HTTP " + std::to_string(res.status) + ")"});
    });
    server.set_exception_handler([this](const auto&, auto& res, std::exception_ptr e) {
        std::string what = "an unknown error";
        try {
            std::rethrow_exception(e);
        } catch (const DbError& db) {
            what = db.description();
            res.status = 503;
        } catch (const std::exception& other) {
            what = other.what();
            res.status = 500;
        }
        log.write("HTTP: " + what);
        answerError(res, {res.status, "request",
                          res.status == 503 ? "the queue database cannot be read; try again"
                                            : "the service failed; see its log"});
    });
    if (verbose) {
        // The path and the status only: a query or a body may hold a number, a text or a secret.
        server.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
            log.write("HTTP " + req.method + " " + req.path + " from " + req.remote_addr + ": " +
                      std::to_string(res.status));
        });
    }
}

HttpInterface::HttpInterface(std::unique_ptr<Parts> parts) : m_parts(std::move(parts)) {}

HttpInterface::~HttpInterface() {
    Parts& p = *m_parts;
    if (p.thread.joinable()) {
        p.server.stop();
        p.thread.join();
    }
}

Result<std::unique_ptr<HttpInterface>> HttpInterface::open(const TransportConfig& config,
                                                           const std::string& listenOption,
                                                           const std::string& programFolder,
                                                           bool verbose, ServiceLog& log) {
    const std::string listenText = listenOption.empty() ? config.httpListen : listenOption;
    if (listenText.empty()) {
        return std::unique_ptr<HttpInterface>();
    }
    Result<ListenAddress> listen = parseListenAddress(listenText);
    if (!listen) {
        return listen.error();
    }
    if (config.httpTokenFile.empty()) {
        return Error{EINVAL, "http.listen needs http.token_file, the file of the bearer token"};
    }
    const std::string tokenPath = config.httpTokenFile.front() == '/'
                                      ? config.httpTokenFile
                                      : programFolder + "/" + config.httpTokenFile;
    std::unique_ptr<Parts> parts(new Parts(log, verbose));
    try {
        const std::string text = readPrivateFile(tokenPath);
        const size_t first = text.find_first_not_of(" \t\r\n");
        parts->token = first == std::string::npos
                           ? ""
                           : text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
    } catch (const FileError& e) {
        return Error{EINVAL, "the HTTP token file cannot be used: " + std::string(e.what())};
    }
    if (parts->token.empty() || parts->token.find_first_of(" \t\r\n") != std::string::npos) {
        return Error{EINVAL, "the HTTP token file " + tokenPath + " must hold one token"};
    }
    httplib::Server& server = parts->server;
    server.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
    server.set_read_timeout(kSocketTimeoutSeconds);
    server.set_write_timeout(kSocketTimeoutSeconds);
    server.set_keep_alive_timeout(kSocketTimeoutSeconds);
    // A client that keeps its connection need not connect again every few requests.
    server.set_keep_alive_max_count(kRequestsPerConnection);
    server.set_payload_max_length(kMaxBodyBytes);
    // A reply goes out in more than one write; Nagle's delay would hold each back for an ACK.
    server.set_tcp_nodelay(true);
    // Without SO_REUSEPORT, which the library sets by default, a second program cannot bind the
    // same port and take a share of the connections: binding an address in use fails.
    server.set_socket_options([](socket_t sock) {
        int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    if (!server.bind_to_port(listen.value().host, listen.value().port)) {
        return Error{EADDRINUSE, "cannot listen on " + listenText + ": " + std::strerror(errno)};
    }
    return std::unique_ptr<HttpInterface>(new HttpInterface(std::move(parts)));
}

bool HttpInterface::start(FormModel& form) {
    Parts& p = *m_parts;
    try {
        // The queue the tick opened, on connections of the interface's own.
        auto open = form.queue().opener();
        p.writer = std::make_unique<QueueWriter>(
            open(), [&log = p.log](const std::string& line) { log.write(line); });
        p.reads = std::make_unique<ReadConnections>(std::move(open));
    } catch (const DbError& e) {
        p.log.write("parlixd: the HTTP interface cannot open the queue: " + e.description());
        return false;
    }
    form.onLogEntry([&p](const std::string& entry) { p.recorder.logEntry(entry); });
    p.routes();
    publish(form);
    p.thread = std::thread([&p] {
        yieldToTheTick();
        p.server.listen_after_bind();
    });
    // Stopping a server that has not begun to listen would leave it listening for good.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!p.server.is_running() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void HttpInterface::tickEnded(const FormModel& form, std::chrono::duration<double> took) {
    m_parts->recorder.tickEnded(form, took, std::chrono::system_clock::now());
}

void HttpInterface::publish(const FormModel& form) {
    m_parts->recorder.publish(form, std::chrono::system_clock::now());
}

}  // namespace parlix
