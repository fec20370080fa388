#include "sim_servers.h"

#include <httplib.h>
#include <charconv>
#include <chrono>

#include "base/text.h"
#include "json_writer.h"

namespace parlix::sim {

namespace {

constexpr const char* kHost = "127.0.0.1";
constexpr size_t kMaxBodyBytes = 256 * 1024;  // a piece's document is under 3 KB
constexpr size_t kWorkerThreads = 8;
const char* const kServerNames[] = {"1", "2", "3", "4", "5", "9"};

using Query = std::vector<std::pair<std::string, std::string>>;

const std::string* param(const Query& query, std::string_view key) {
    for (const auto& [k, v] : query) {
        if (k == key) {
            return &v;
        }
    }
    return nullptr;
}

std::optional<long long> number(const std::string* s) {
    long long v = 0;
    if (s == nullptr) {
        return std::nullopt;
    }
    auto [end, ec] = std::from_chars(s->data(), s->data() + s->size(), v);
    if (s->empty() || ec != std::errc() || end != s->data() + s->size()) {
        return std::nullopt;
    }
    return v;
}

std::optional<bool> flag(const std::string* s) {
    if (s == nullptr) {
        return std::nullopt;
    }
    std::string v = toLower(*s);
    if (v == "1" || v == "yes" || v == "true") {
        return true;
    }
    if (v == "0" || v == "no" || v == "false") {
        return false;
    }
    return std::nullopt;
}

void json(httplib::Response& res, const std::string& body, int status = 200) {
    res.status = status;
    res.set_content(body, "application/json");
}

void jsonError(httplib::Response& res, const std::string& message, int status = 400) {
    JsonWriter w;
    w.beginObject().key("error").value(message).endObject();
    json(res, w.str(), status);
}

}  // namespace

struct SimServers::Listener {
    std::string name;
    int port = 0;
    std::unique_ptr<httplib::Server> server;
    std::thread thread;
    bool refusing = false;
    // Seen by replies that wait out a delay, so that stopping never waits for them.
    std::shared_ptr<std::atomic<bool>> stopping = std::make_shared<std::atomic<bool>>(false);
};

SimServers::SimServers(Gateway& gateway) : m_gateway(gateway) {}

SimServers::~SimServers() {
    stopAll();
}

bool SimServers::start(int mainPort, std::string& error) {
    std::lock_guard lock(m_mutex);
    auto add = [&](const std::string& name, int port) {
        auto l = std::make_unique<Listener>();
        l->name = name;
        bool ok = startListener(*l, port, error);
        m_listeners.push_back(std::move(l));
        return ok;
    };
    if (!add("main", mainPort)) {
        return false;
    }
    for (const char* name : kServerNames) {
        int port = mainPort == 0 ? 0 : mainPort + std::stoi(name);
        if (port > 65535 || !add(name, port)) {
            error = "cannot listen for server " + std::string(name) + ": " + error;
            return false;
        }
    }
    return true;
}

bool SimServers::startListener(Listener& l, int port, std::string& error) {
    auto srv = std::make_unique<httplib::Server>();
    srv->new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
    srv->set_payload_max_length(kMaxBodyBytes);
    srv->set_keep_alive_max_count(100000);
    srv->set_keep_alive_timeout(5);
    // Headers and body leave in separate writes; without this each reply would wait for the
    // client's delayed acknowledgement.
    srv->set_tcp_nodelay(true);
    auto handler = [this, &l](const httplib::Request& req, httplib::Response& res) {
        serve(l, req, res);
    };
    srv->Get(".*", handler);
    srv->Post(".*", handler);
    srv->set_exception_handler(
        [](const httplib::Request&, httplib::Response& res, std::exception_ptr ep) {
            std::string what = "internal error";
            try {
                std::rethrow_exception(ep);
            } catch (const std::exception& e) {
                what = e.what();
            } catch (...) {
            }
            res.status = 500;
            res.set_content("error: " + what, "text/plain");
        });
    int bound =
        port == 0 ? srv->bind_to_any_port(kHost) : (srv->bind_to_port(kHost, port) ? port : -1);
    if (bound <= 0) {
        error = "cannot bind " + std::string(kHost) + ":" + std::to_string(port);
        return false;
    }
    l.port = bound;
    l.stopping = std::make_shared<std::atomic<bool>>(false);
    httplib::Server* raw = srv.get();
    l.server = std::move(srv);
    l.thread = std::thread([raw] { raw->listen_after_bind(); });
    // stop() only takes effect once the loop runs, so wait for it before anyone may call it.
    for (int i = 0; i < 5000 && !raw->is_running(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    l.refusing = false;
    return true;
}

void SimServers::stopListener(Listener& l) {
    if (!l.server) {
        return;
    }
    l.stopping->store(true);
    l.server->stop();
    if (l.thread.joinable()) {
        l.thread.join();
    }
    l.server.reset();
}

void SimServers::stopAll() {
    std::lock_guard lock(m_mutex);
    for (auto& l : m_listeners) {
        stopListener(*l);
    }
}

std::vector<std::pair<std::string, int>> SimServers::ports() const {
    std::lock_guard lock(m_mutex);
    std::vector<std::pair<std::string, int>> out;
    for (const auto& l : m_listeners) {
        out.emplace_back(l->name, l->port);
    }
    return out;
}

SimServers::Listener* SimServers::findListener(const std::string& name) {
    for (auto& l : m_listeners) {
        if (l->name == name) {
            return l.get();
        }
    }
    return nullptr;
}

std::string SimServers::serversJson() const {
    JsonWriter w;
    w.beginArray();
    for (const auto& l : m_listeners) {
        w.beginObject()
            .key("name")
            .value(l->name)
            .key("port")
            .value(l->port)
            .key("host")
            .value(std::string(kHost) + ":" + std::to_string(l->port))
            .key("refusing")
            .value(l->refusing)
            .endObject();
    }
    w.endArray();
    return w.str();
}

void SimServers::serve(Listener& l, const httplib::Request& req, httplib::Response& res) {
    if (req.path.starts_with("/_sim/")) {
        if (l.name == "main") {
            control(req, res);
        } else {
            jsonError(res, "the control API is on the main port", 404);
        }
        return;
    }
    GatewayRequest g;
    g.server = l.name;
    g.method = req.method;
    g.path = req.path;
    g.target = req.target;
    g.contentType = req.get_header_value("Content-Type");
    g.body = req.body;
    g.peer = req.remote_addr + ":" + std::to_string(req.remote_port);
    GatewayReply reply = m_gateway.handle(g);

    auto stopping = l.stopping;
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(reply.delayMs);
    while (std::chrono::steady_clock::now() < until && !stopping->load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    res.status = reply.status;
    if (reply.delivery == Delivery::CutMidway) {
        // Promise more bytes than are sent and drop the connection after the first ones.
        auto body = std::make_shared<std::string>(reply.body.empty() ? "<" : reply.body);
        res.set_content_provider(body->size() + 100, "text/html",
                                 [body](size_t offset, size_t, httplib::DataSink& sink) {
                                     if (offset > 0) {
                                         return false;
                                     }
                                     sink.write(body->data(), body->size());
                                     return true;
                                 });
    } else {
        res.set_content(reply.body, "text/html");
    }
}

void SimServers::control(const httplib::Request& req, httplib::Response& res) {
    size_t q = req.target.find('?');
    Query query = parseQuery(q == std::string::npos ? std::string_view()
                                                    : std::string_view(req.target).substr(q + 1));
    const std::string what = req.path.substr(6);
    const bool get = req.method == "GET";
    if (get && what == "servers") {
        std::lock_guard lock(m_mutex);
        json(res, "{\"servers\":" + serversJson() + "}");
    } else if (get && what == "requests") {
        auto since = number(param(query, "since")).value_or(0);
        json(res,
             "{\"requests\":" + m_gateway.requestsJson(static_cast<std::uint64_t>(since)) + "}");
    } else if (get && what == "messages/summary") {
        json(res, m_gateway.messageSummaryJson());
    } else if (get && what == "messages") {
        json(res, "{\"messagesDropped\":" + std::to_string(m_gateway.messagesDropped()) +
                      ",\"messages\":" + m_gateway.messagesJson() + "}");
    } else if (get && what == "batches") {
        json(res, "{\"batches\":" + m_gateway.batchesJson() + "}");
    } else if (get && what == "debits") {
        json(res, "{\"debits\":" + m_gateway.debitsJson() + "}");
    } else if (get && what == "accounts") {
        json(res, "{\"accounts\":" + m_gateway.accountsJson() + "}");
    } else if (get && what == "faults") {
        json(res, m_gateway.faultsJson());
    } else if (get && what == "state") {
        std::string servers;
        {
            std::lock_guard lock(m_mutex);
            servers = serversJson();
        }
        JsonWriter w;
        w.beginObject()
            .key("servers")
            .raw(servers)
            .key("accounts")
            .raw(m_gateway.accountsJson())
            .key("faults")
            .raw(m_gateway.faultsJson())
            .key("requests")
            .raw(m_gateway.requestsJson(0))
            .key("batches")
            .raw(m_gateway.batchesJson())
            .key("messagesDropped")
            .value(static_cast<long long>(m_gateway.messagesDropped()))
            .key("messages")
            .raw(m_gateway.messagesJson())
            .key("debits")
            .raw(m_gateway.debitsJson())
            .endObject();
        json(res, w.str());
    } else if (!get && what == "accounts") {
        const std::string* user = param(query, "user");
        auto balance = number(param(query, "balance"));
        if (user == nullptr || trimSpaces(*user).empty() || !balance || *balance < 0) {
            jsonError(res, "accounts needs user and a balance of 0 or more");
            return;
        }
        Account a;
        a.user = trimSpaces(*user);
        a.password = param(query, "password") ? *param(query, "password") : "";
        a.balance = *balance;
        a.drAllowed = flag(param(query, "dr")).value_or(false);
        a.notice = param(query, "notice") ? *param(query, "notice") : "";
        a.senderIds = param(query, "senderids") ? *param(query, "senderids") : "";
        m_gateway.putAccount(a);
        json(res, "{\"accounts\":" + m_gateway.accountsJson() + "}");
    } else if (!get && what == "faults") {
        controlFaults(query, res);
    } else if (!get && what == "faults/clear") {
        m_gateway.clearFaults();
        std::lock_guard lock(m_mutex);
        std::string error;
        for (auto& l : m_listeners) {
            if (l->refusing && !startListener(*l, l->port, error)) {
                jsonError(res, error, 500);
                return;
            }
        }
        json(res, m_gateway.faultsJson());
    } else if (!get && what == "reset") {
        m_gateway.reset();
        json(res, "{\"reset\":true}");
    } else if (!get && what == "reports") {
        const std::string* id = param(query, "id");
        const std::string* status = param(query, "status");
        if (id == nullptr || status == nullptr) {
            jsonError(res, "reports needs id and status");
            return;
        }
        const std::string* reason = param(query, "reason");
        const std::string* time = param(query, "time");
        int n = m_gateway.setReport(*id, *status, reason ? *reason : "", time ? *time : "");
        json(res, "{\"updated\":" + std::to_string(n) + "}");
    } else if (!get && what == "shutdown") {
        shutdownRequested = true;
        json(res, "{\"shutdown\":true}");
    } else {
        jsonError(res, "no control request " + req.method + " " + req.path, 404);
    }
}

void SimServers::controlFaults(const Query& query, httplib::Response& res) {
    const std::string* named = param(query, "server");
    const std::string server = named ? *named : "main";
    std::lock_guard lock(m_mutex);
    Listener* l = findListener(server);
    if (l == nullptr) {
        jsonError(res, "no server " + server);
        return;
    }
    ServerFaults sf = m_gateway.serverFaults(server);
    GatewayFaults gf = m_gateway.gatewayFaults();
    bool bad = false;
    auto setBool = [&](const char* key, bool& target) {
        if (param(query, key) != nullptr) {
            auto v = flag(param(query, key));
            bad |= !v;
            target = v.value_or(target);
        }
    };
    auto setInt = [&](const char* key, int& target) {
        if (param(query, key) != nullptr) {
            auto v = number(param(query, key));
            bad |= !v || *v < 0 || *v > 600000;
            target = static_cast<int>(v.value_or(target));
        }
    };
    auto setText = [&](const char* key, std::optional<std::string>& target) {
        if (param(query, key) != nullptr) {
            target = *param(query, key);
        }
    };
    std::optional<bool> refuse =
        param(query, "refuse") ? flag(param(query, "refuse")) : std::nullopt;
    bad |= param(query, "refuse") != nullptr && !refuse;
    setText("check_reply", sf.checkReply);
    if (flag(param(query, "check_reply_reset")).value_or(false)) {
        sf.checkReply.reset();
    }
    setInt("delay_ms", sf.delayMs);
    setBool("garbage", sf.garbage);
    setBool("cut", sf.cut);
    if (param(query, "path") != nullptr) {
        sf.path = *param(query, "path");
    }
    if (param(query, "match") != nullptr) {
        sf.match = *param(query, "match");
    }
    setText("reply", sf.reply);
    if (param(query, "reply_bytes") != nullptr) {
        auto v = number(param(query, "reply_bytes"));
        bad |= !v || *v < 0 || *v > 64LL * 1024 * 1024;
        sf.replyBytes = static_cast<size_t>(v.value_or(0));
    }
    setInt("refuse_piece", gf.refusePiece);
    setBool("refuse_debit", gf.refuseDebit);
    setText("done_reply", gf.doneReply);
    setText("complete_reply", gf.completeReply);
    if (flag(param(query, "reply_reset")).value_or(false)) {
        gf.doneReply.reset();
        gf.completeReply.reset();
        sf.reply.reset();
        sf.replyBytes = 0;
    }
    if (bad) {
        jsonError(res, "a fault value is not a valid number or flag");
        return;
    }
    if (refuse && server == "main") {
        jsonError(res, "the main port carries the control API and cannot refuse connections");
        return;
    }
    m_gateway.setServerFaults(server, sf);
    m_gateway.setGatewayFaults(gf);
    if (refuse && *refuse && !l->refusing) {
        stopListener(*l);
        l->refusing = true;
    } else if (refuse && !*refuse && l->refusing) {
        std::string error;
        if (!startListener(*l, l->port, error)) {
            jsonError(res, error, 500);
            return;
        }
    }
    json(res, m_gateway.faultsJson());
}

}  // namespace parlix::sim
