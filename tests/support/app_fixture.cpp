#include "support/app_fixture.h"

#include <algorithm>

#include "base/text.h"
#include "model/settings_keys.h"
#include "support/queue_db.h"
#include "sys/registry_keys.h"
#include "transport/curl_http_client.h"

namespace parlix::test {

AppFixture::AppFixture() {
    processes.entries = std::vector<ProcessEntry>{{1, "systemd"}, {4242, "parlix"}};
    ipTable.table = std::vector<Ipv4Address>{{127, 0, 0, 1}, {192, 168, 1, 5}};
}

AppFixture::~AppFixture() = default;

SendMsg& AppFixture::start() {
    app.reset();
    HttpClient& get = realTransfer ? *realTransfer : static_cast<HttpClient&>(transfer);
    HttpClient& post = realUploader ? *realUploader : static_cast<HttpClient&>(uploader);
    app = std::make_unique<SendMsg>(AppEnvironment{programDir.str(), "parlix", ui, clock, random,
                                                   processes, ipTable, get, post, settings,
                                                   registry, config});
    return *app;
}

void AppFixture::useRealHttp(HttpTimeouts timeouts) {
    realTransfer = std::make_unique<CurlHttpClient>(ui, timeouts);
    realUploader = std::make_unique<CurlHttpClient>(ui, timeouts);
}

void AppFixture::useGateway(GatewaySimProcess& sim) {
    for (size_t i = 0; i < config.serverHosts.size(); ++i) {
        config.serverHosts[i] = sim.serverHost(static_cast<int>(i) + 1);
    }
    useRealHttp();
}

void AppFixture::logIn(const std::string& user, const std::string& password) {
    form().setText("txtUserId", user);
    form().setText("txtUSerPassWord", password);
    form().fire("cmdConnect2", Event::Click);
}

bool AppFixture::load() {
    if (!app) {
        start();
    }
    try {
        app->Form_Load();
        return true;
    } catch (const ProgramEnded&) {
        return false;
    }
}

std::unique_ptr<Connection> AppFixture::makeDatabase(bool upgraded) {
    return makeQueueDatabase(programDir.str(), "SMSDB.MDB", upgraded);
}

std::vector<std::string> AppFixture::logLines() {
    std::vector<std::string> lines;
    for (const std::string& part : split(form().text("txt_msg"), "\r\n\r\n")) {
        if (!part.empty()) {
            lines.push_back(part);
        }
    }
    std::reverse(lines.begin(), lines.end());
    return lines;
}

std::string AppFixture::describe(std::initializer_list<const char*> names) {
    std::string out;
    for (const char* name : names) {
        const Element& e = form().el(name);
        out += (out.empty() ? "" : "; ") + e.name + "=" + e.text + (e.visible ? "" : " hidden") +
               (e.enabled ? "" : " off") + (e.value ? " value " + std::to_string(e.value) : "");
    }
    return out;
}

std::string AppFixture::regValue(const std::string& name) {
    FakeUi quiet;
    RegistryKeys reg(registry, quiet);
    return reg.ReadRegValue(kProgramRegistryKey, name);
}

}  // namespace parlix::test
