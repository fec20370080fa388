// parlixd's HTTP interface, black-box: parlixd runs with http.listen on a free loopback port and
// the test is its client, with cpp-httplib; the status page is loaded by headless Chromium.
#include <gtest/gtest.h>
#include <httplib.h>

#include <nlohmann/json.hpp>
#include <regex>
#include <tuple>

#include "daemon_folder.h"
#include "db/message_queue.h"
#include "reliability_support.h"
#include "support/pg_cluster.h"

namespace parlix::reliability {
namespace {

using Json = nlohmann::json;
const std::string kToken = "tok-5b1d9e";

class HttpInterface : public ::testing::TestWithParam<bool> {};

/// parlixd (with --verbose) serving its HTTP interface, and a client of it.
struct HttpDaemon {
    /// On the folder's file, or on a shared queue of its own when `shared`.
    HttpDaemon(test::GatewaySimProcess& sim, bool shared, long balance = 1000000)
        : port(freeLoopbackPort()),
          url(shared ? test::PgCluster::shared().newQueue() : ""),
          folder(sim, "demo",
                 "http.listen=127.0.0.1:" + std::to_string(port) + "\nhttp.token_file=token\n",
                 url),
          client("127.0.0.1", port) {
        sim.addAccount({"demo", "pw", balance, false, "", "ALPHA"});
        test::writeFile(folder.dir / "token", kToken + "\n");
        ::chmod(folder.path("token").c_str(), 0600);
        folder.args.push_back("--verbose");
        client.set_connection_timeout(2);
        client.set_read_timeout(30);
    }
    void start() {
        d = folder.start();
        ASSERT_TRUE(waitUntil(*d, [&] { return get("/v1/status").status == 200; })) << d->output();
    }
    struct Reply {
        int status = 0;
        Json json;
        std::string body;
    };
    Reply reply(const httplib::Result& r) {
        if (!r) {
            return {};
        }
        return {r->status, Json::parse(r->body, nullptr, false), r->body};
    }
    Reply post(const std::string& body, httplib::Headers headers = {}) {
        headers.emplace("Authorization", "Bearer " + kToken);
        return reply(client.Post("/v1/messages", headers, body, "application/json"));
    }
    Reply get(const std::string& path, bool withToken = true) {
        return reply(client.Get(path, withToken
                                          ? httplib::Headers{{"Authorization", "Bearer " + kToken}}
                                          : httplib::Headers{}));
    }
    long rows() { return folder.queue->count(std::nullopt); }

    int port;
    std::string url;
    DaemonFolder folder;
    httplib::Client client;
    std::unique_ptr<test::ChildProcess> d;
};

TEST_P(HttpInterface, RefusesEveryBadInputWithItsFieldAndReasonAndQueuesNothing) {
    const std::string marker = "body-marker-41c7";
    const std::string text = "\"text\":\"" + marker + "\"";
    const std::string over(1024 * 1024, ' ');  // with the brackets, one byte over the limit
    const std::string items =
        Json(std::vector<Json>(1001, {{"to", "9876543210"}, {"text", "m"}})).dump();
    using H = httplib::Headers;
    // clang-format off
    const std::tuple<const char*, std::string, std::string, H, int, std::string> cases[] = {
        {"malformed JSON", "application/json", "{\"to\":\"9876543210\"," + text, {}, 400, "body"},
        {"a lone surrogate", "application/json", "{\"to\":\"9876543210\",\"text\":\"\\ud800\"}", {}, 400, "body"},
        {"the wrong content type", "text/plain", "{\"to\":\"9876543210\"," + text + "}", {}, 415, "Content-Type"},
        {"a body over the limit", "application/json", "[" + over + "]", {}, 413, "body"},
        {"too many items", "application/json", items, {}, 413, "body"},
        {"an empty list", "application/json", "[]", {}, 400, "body"},
        {"neither object nor list", "application/json", "\"9876543210\"", {}, 400, "body"},
        {"a missing number", "application/json", "{" + text + "}", {}, 400, "to"},
        {"an empty text", "application/json", "{\"to\":\"9876543210\",\"text\":\"\"}", {}, 400, "text"},
        {"a number of the wrong type", "application/json", "{\"to\":9876543210," + text + "}", {}, 400, "to"},
        {"a text of the wrong type", "application/json", "{\"to\":\"9876543210\",\"text\":null}", {}, 400, "text"},
        {"an unknown field", "application/json", "{\"to\":\"9876543210\"," + text + ",\"from\":\"x\"}", {}, 400, "from"},
        {"a short number", "application/json", "{\"to\":\"987654321\"," + text + "}", {}, 422, "to"},
        {"a number with #", "application/json", "{\"to\":\"98765#43210\"," + text + "}", {}, 422, "to"},
        {"a number with a line break", "application/json", "{\"to\":\"98765\\n43210\"," + text + "}", {}, 422, "to"},
        {"a bad item last in a list", "application/json", "[{\"to\":\"9876543210\"," + text + "},{\"to\":\"1\"," + text + "}]", {}, 422, "[1].to"},
        {"an item that is no object", "application/json", "[{\"to\":\"9876543210\"," + text + "},7]", {}, 400, "[1]"},
        {"a bad idempotency key", "application/json", "{\"to\":\"9876543210\"," + text + "}", {{"Idempotency-Key", "a b"}}, 400, "Idempotency-Key"},
        {"a wrong token", "application/json", "{\"to\":\"9876543210\"," + text + "}", {{"Authorization", "Bearer wrong"}}, 401, "Authorization"},
    };
    // clang-format on
    test::GatewaySimProcess sim;
    HttpDaemon h(sim, GetParam());
    h.start();
    for (const auto& [label, type, body, headers, status, field] : cases) {
        SCOPED_TRACE(label);
        httplib::Headers all = headers;
        if (!all.count("Authorization")) {
            all.emplace("Authorization", "Bearer " + kToken);
        }
        auto r = h.reply(h.client.Post("/v1/messages", all, body, type.c_str()));
        EXPECT_EQ(r.status, status) << r.body;
        EXPECT_EQ(r.json["error"]["field"], field) << r.body;
        EXPECT_FALSE(r.json["error"]["reason"].get<std::string>().empty());
    }
    EXPECT_EQ(h.rows(), 0);
    EXPECT_EQ(h.reply(h.client.Post("/v1/messages", "{" + text + "}", "application/json")).status,
              401);
    // Text that looks like SQL or HTML is queued as it came.
    const std::string sql = "x'); DROP TABLE MessageQueue; --", html = "<script>alert(1)</script>";
    auto ok = h.post(Json::array({{{"to", "+919876543210"}, {"text", sql}},
                                  {{"to", "+919876543211"}, {"text", html}}})
                         .dump());
    ASSERT_EQ(ok.status, 201) << ok.body;
    for (const auto& [id, expected] :
         {std::pair{ok.json["ids"][0], sql}, {ok.json["ids"][1], html}}) {
        EXPECT_EQ(h.folder.queue->lookUp(id.get<std::int64_t>()).value().message, Value(expected));
    }
    EXPECT_EQ(terminate(*h.d), 0);
    EXPECT_EQ(h.d->output().find(marker), std::string::npos) << h.d->output();
}

/// Runs headless Chromium on `url` with `args` added; what it printed.
std::string chromium(const std::vector<std::string>& args, const std::string& url) {
    test::TempDir profile;
    std::vector<std::string> all = {"--headless",
                                    "--no-sandbox",
                                    "--disable-gpu",
                                    "--disable-quic",
                                    "--no-first-run",
                                    "--disable-background-networking",
                                    "--disable-component-update",
                                    "--disable-sync",
                                    "--hide-scrollbars",
                                    "--user-data-dir=" + profile.str(),
                                    "--virtual-time-budget=5000"};
    all.insert(all.end(), args.begin(), args.end());
    all.push_back(url);
    return test::runProcess("/usr/bin/chromium", all).out;
}

// The status page, loaded by a real browser, shows the queue as the database holds it, the balance
// and the login; screenshots at a laptop's and a phone's width are saved beside the test program.
// An idempotency key's first answer is given again after a restart.
TEST_P(HttpInterface, LooksUpMessagesReportsStatusMetricsAndAPageAndKeepsKeys) {
    test::GatewaySimProcess sim;
    HttpDaemon h(sim, GetParam(), 5000);
    const std::vector<std::int64_t> odd = h.folder.queue->enqueueAll({{"1", "x"}, {"1", "y"}});
    h.folder.execute("UPDATE MessageQueue SET Status = 'Discarded' WHERE ID = " +
                     std::to_string(odd[0]));
    h.folder.execute("UPDATE MessageQueue SET Status = 'Deleted' WHERE ID = " +
                     std::to_string(odd[1]));
    h.start();
    const std::string body = Json::array({{{"to", "9876543210"}, {"text", std::string(200, 'a')}},
                                          {{"to", "9876543211"}, {"text", "b"}}})
                                 .dump();
    const httplib::Headers key{{"Idempotency-Key", "order-8812"}};
    auto queued = h.post(body, key);
    ASSERT_EQ(queued.status, 201) << queued.body;
    const std::int64_t id = queued.json["ids"][0];
    EXPECT_EQ(queued.json["ids"][1], id + 1);
    ASSERT_TRUE(waitUntil(*h.d, [&] { return h.get("/v1/status").json["sent_last_minute"] == 2; }));
    const Value messageId = h.folder.queue->lookUp(id).value().messageId;
    h.folder.queue->applyReports({{messageId.toText(), "DELIVRD", "000", "2026-12-06 15:04:05"}});
    auto found = h.get("/v1/messages/" + std::to_string(id));
    EXPECT_EQ(
        found.json,
        Json({{"id", id},
              {"status", "Sent"},
              {"message_id", messageId.toText()},
              {"parts", 2},
              {"delivery",
               {{"status", "DELIVRD"}, {"reason", "000"}, {"time", "2026-12-06 15:04:05"}}}}));
    for (const char* unknown :
         {"/v1/messages/999", "/v1/messages/abc", "/v1/messages/-1", "/v1/messages/%FF"}) {
        EXPECT_EQ(std::tuple(h.get(unknown).status, h.get(unknown).json["error"]["field"]),
                  std::tuple(404, "id"));
    }
    EXPECT_EQ(h.get("/v1/messages/" + std::to_string(id), false).status, 401);

    const Json status = h.get("/v1/status", false).json;
    EXPECT_EQ(std::tuple(status["login"], status["server"], status["balance"], status["queue"]),
              std::tuple(Json("logged in"), Json(sim.serverHost(1)), Json(4997),
                         Json({{"Deleted", 1}, {"Discarded", 1}, {"Sent", 2}})));
    EXPECT_EQ(status["sent_per_minute"][59], 2);
    EXPECT_TRUE(status["last_tick"]["time"].is_string() &&
                status["last_tick"]["outcome"].is_string());

    auto metrics = h.client.Get("/metrics");
    ASSERT_TRUE(metrics);
    test::ProcessResult lint =
        test::runProcess("/usr/bin/promtool", {"check", "metrics"}, "", metrics->body);
    EXPECT_EQ(lint.exitCode, 0) << lint.out << metrics->body;
    for (const char* line :
         {"parlix_queue_messages{status=\"Sent\"} 2\n", "parlix_messages_sent_total 2\n",
          "parlix_balance_sms 4997\n", "parlix_queue_depth 0\n", "parlix_logged_in 1\n"}) {
        EXPECT_NE(metrics->body.find(line), std::string::npos) << line << metrics->body;
    }

    const std::string url = "http://127.0.0.1:" + std::to_string(h.port) + "/";
    const std::string dom = chromium({"--dump-dom"}, url);
    std::map<std::string, long> shown;
    const std::regex cell(R"re(data-status="([^"]*)" data-rows="(\d+)")re");
    for (std::sregex_iterator m(dom.begin(), dom.end(), cell), end; m != end; ++m) {
        shown[(*m)[1]] = std::stol((*m)[2]);
    }
    EXPECT_EQ(shown, h.folder.queue->countByStatus()) << dom;
    EXPECT_NE(dom.find("id=\"balance\">4,997<"), std::string::npos) << dom;
    EXPECT_NE(dom.find("id=\"login\">logged in<"), std::string::npos) << dom;
    EXPECT_NE(dom.find("Successfully Sent: 3"), std::string::npos) << dom;
    for (const auto& [name, size] : {std::pair{"laptop", "1280,900"}, {"phone", "390,1100"}}) {
        const std::string png = test::builtProgram(std::string("status-page-") + name +
                                                   (GetParam() ? "-shared" : "-file") + ".png");
        std::filesystem::remove(png);
        chromium({"--screenshot=" + png, std::string("--window-size=") + size}, url);
        EXPECT_GT(std::filesystem::exists(png) ? std::filesystem::file_size(png) : 0, 10000u)
            << png;
    }
    EXPECT_EQ(terminate(*h.d), 0);
    h.start();
    auto again = h.post(body, key);
    EXPECT_EQ(std::tuple(again.status, again.body), std::tuple(201, queued.body));
    EXPECT_EQ(h.rows(), 4);
    EXPECT_EQ(terminate(*h.d), 0);
}

INSTANTIATE_TEST_SUITE_P(BothQueues, HttpInterface, ::testing::Bool(),
                         [](const auto& p) { return p.param ? "SharedQueue" : "File"; });

}  // namespace
}  // namespace parlix::reliability
