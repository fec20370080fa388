#include "daemon/service.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <iostream>
#include <optional>

#include "app/send_msg.h"
#include "daemon/credentials.h"
#include "daemon/exit_codes.h"
#include "daemon/http_server.h"
#include "daemon/service_log.h"
#include "daemon/service_ui.h"
#include "daemon/signal_watch.h"
#include "db/connection.h"
#include "db/db_error.h"
#include "db/open_database.h"
#include "db/pg_connection.h"
#include "model/settings_keys.h"
#include "sys/registry_keys.h"
#include "transport/transport_config.h"

namespace parlix {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr auto kTickInterval = std::chrono::milliseconds(1000);
// When a login failed or the balance ran out, the service presses Connect again after this,
// as an operator would; often enough to recover soon, rarely enough not to press the gateway.
constexpr auto kReconnectInterval = std::chrono::seconds(30);

/// The one line a start that cannot go on leaves on standard error.
int refuse(int code, const std::string& message) {
    std::cerr << "parlixd: " << message << std::endl;
    return code;
}

/// An HTTP client that logs each request's path and outcome, never its query.
class LoggedHttpClient final : public HttpClient {
public:
    LoggedHttpClient(HttpClient& inner, ServiceLog& log) : m_inner(inner), m_log(log) {}

    std::string get(const std::string& url) override {
        return logged("GET", url, [&] { return m_inner.get(url); });
    }
    std::string post(const std::string& url, const std::string& body,
                     const std::string& contentType) override {
        return logged("POST", url, [&] { return m_inner.post(url, body, contentType); });
    }
    void cancel() override { m_inner.cancel(); }
    void setProxy(const ProxySettings& proxy) override { m_inner.setProxy(proxy); }
    void setTimeouts(const HttpTimeouts& timeouts) override { m_inner.setTimeouts(timeouts); }

private:
    template <typename F>
    std::string logged(const char* method, const std::string& url, F request) {
        const std::string where = std::string(method) + " " + url.substr(0, url.find('?'));
        try {
            std::string reply = request();
            m_log.write(where + ": reply of " + std::to_string(reply.size()) + " bytes");
            return reply;
        } catch (const TransferError& e) {
            m_log.write(where + ": " + e.what());
            throw;
        }
    }

    HttpClient& m_inner;
    ServiceLog& m_log;
};

class Service {
public:
    Service(const ServiceOptions& options, ServiceLog& log, SignalWatch& signals)
        : m_options(options), m_log(log), m_signals(signals), m_ui(log, signals) {}

    int run();

private:
    /// Everything checked before a file is touched; the exit code when the service cannot run.
    std::optional<int> check();
    int serve();
    void loop(SendMsg& app);
    void stop(SendMsg& app);
    void reload(SendMsg& app);

    const ServiceOptions& m_options;
    ServiceLog& m_log;
    SignalWatch& m_signals;
    ServiceUi m_ui;
    std::shared_ptr<SystemPorts> m_ports;
    std::optional<Credentials> m_fileLogin;
    std::unique_ptr<HttpInterface> m_http;
    bool m_started = false;
    bool m_stopping = false;
};

std::optional<int> Service::check() {
    const std::string& folder = m_options.folders.program;
    if (::access(folder.c_str(), R_OK | W_OK | X_OK) != 0) {
        return refuse(kExitConfig,
                      "cannot use the program folder " + folder + ": " + std::strerror(errno));
    }
    auto ports = SystemPorts::open(m_ui, {folder, m_options.folders.settings,
                                          programNameFromExecutable(currentExecutablePath())});
    if (!ports) {
        return refuse(kExitConfig, ports.error().message);
    }
    m_ports = ports.value();
    // The right to send from the folder is taken now and held to the end, so a second service,
    // or a window that starts later, never sends from it at the same time.
    if (!m_ports->sendLock().opened()) {
        return refuse(kExitConfig, "cannot open the program folder " + folder);
    }
    if (!m_ports->sendLock().take()) {
        return refuse(kExitAlreadyRunning, "another Parlix program sends from " + folder);
    }
    if (auto registry = m_ports->registry().check(); !registry) {
        return refuse(kExitConfig,
                      "the registry store cannot be read: " + registry.error().message);
    }
    if (auto settings = m_ports->settings().check(kSettingsApp); !settings) {
        return refuse(kExitConfig, "the settings cannot be read: " + settings.error().message);
    }
    if (!m_options.credentialsFile.empty()) {
        Result<Credentials> login = readCredentialsFile(m_options.credentialsFile);
        if (!login) {
            return refuse(kExitConfig, login.error().message);
        }
        m_fileLogin = login.value();
    } else {
        RegistryKeys keys(m_ports->registry(), m_ui);
        if (!rememberedLogin(keys)) {
            return refuse(kExitConfig,
                          "no gateway login: run parlixd --login, or give --credentials FILE");
        }
    }
    const TransportConfig& config = m_ports->environment().config;
    auto http = HttpInterface::open(config, m_options.listen, folder, m_options.verbose, m_log);
    if (!http) {
        return refuse(kExitConfig, http.error().message);
    }
    m_http = std::move(http).value();
    try {
        if (config.queueUrl.empty()) {
            Connection probe;
            probe.open(directConnectionText(folder));
        } else {
            PgConnection probe(config.queueUrl, config.busyTimeoutMs);
            probe.open();
        }
    } catch (const DbError& e) {
        return refuse(kExitConfig, "the database cannot be opened: " + e.description());
    }
    return std::nullopt;
}

int Service::run() {
    if (std::optional<int> refused = check()) {
        return *refused;
    }
    try {
        return serve();
    } catch (const ProgramEnd&) {
        if (m_stopping) {
            m_log.write("parlixd stopped");
            return kExitOk;
        }
        m_log.write(m_started ? "parlixd: the program ended itself"
                              : "parlixd: start-up ended the program");
        return m_started ? kExitSoftware : kExitConfig;
    } catch (const std::exception& e) {
        // The top-level handler: an error no step caught is a fault of the program.
        m_log.write(std::string("parlixd: internal error: ") + e.what());
        return kExitSoftware;
    }
}

int Service::serve() {
    AppEnvironment env = m_ports->environment();
    std::optional<LoggedHttpClient> transfer;
    std::optional<LoggedHttpClient> uploader;
    if (m_options.verbose) {
        transfer.emplace(env.transfer, m_log);
        uploader.emplace(env.uploader, m_log);
    }
    env.serverPasses = 1;  // a Connect that finds no server waits for the next one
    SendMsg app(AppEnvironment{env.programFolder, env.ownName, env.installation, env.ui, env.clock,
                               env.random, env.processes, env.ipTable,
                               transfer ? *transfer : env.transfer,
                               uploader ? *uploader : env.uploader, env.settings, env.registry,
                               env.sendLock, env.config, env.serverPasses});
    FormModel& form = app.form();
    form.onLogEntry([this](const std::string& entry) { m_log.write(entry); });
    m_ui.onStop([this, &app] { stop(app); });
    m_log.write("parlixd " + std::to_string(PARLIX_VERSION_MAJOR) + "." +
                std::to_string(PARLIX_VERSION_MINOR) + "." + std::to_string(PARLIX_VERSION_PATCH) +
                " starting on " + m_options.folders.program);

    app.Form_Load();
    if (!form.dbConnection || !form.dbConnection->isOpen()) {
        m_log.write("parlixd: the database could not be opened");
        return kExitConfig;
    }
    m_started = true;
    if (m_http && !m_http->start(form)) {
        return kExitConfig;
    }
    if (m_fileLogin) {
        form.setText("txtUserId", m_fileLogin->userId);
        form.setText("txtUSerPassWord", m_fileLogin->password);
    }
    m_ui.doEvents();
    form.fire("cmdConnect2", Event::Click);
    if (m_http) {
        m_http->publish(form);
    }
    loop(app);
    return kExitOk;
}

void Service::loop(SendMsg& app) {
    FormModel& form = app.form();
    auto nextTick = SteadyClock::now() + kTickInterval;
    auto nextConnect = SteadyClock::now() + kReconnectInterval;
    while (true) {
        auto wait =
            std::chrono::duration_cast<std::chrono::milliseconds>(nextTick - SteadyClock::now());
        m_signals.wait(static_cast<int>(std::max<long long>(0, wait.count())));
        if (m_signals.stopRequested()) {
            stop(app);
        }
        if (m_signals.takeReload()) {
            reload(app);
        }
        if (SteadyClock::now() < nextTick) {
            continue;
        }
        if (form.enabled("SendMessage")) {
            const auto started = SteadyClock::now();
            form.fire("SendMessage", Event::Timer);
            if (m_http) {
                m_http->tickEnded(form, SteadyClock::now() - started);
            }
        }
        if (form.enabled("cmdConnect2") && SteadyClock::now() >= nextConnect) {
            form.fire("cmdConnect2", Event::Click);
            nextConnect = SteadyClock::now() + kReconnectInterval;
            if (m_http) {
                m_http->publish(form);
            }
        }
        // The window's timer starts counting again when the tick has ended.
        nextTick = SteadyClock::now() + kTickInterval;
    }
}

void Service::stop(SendMsg& app) {
    if (m_stopping) {
        return;
    }
    m_stopping = true;
    m_log.write("parlixd: stopping on a signal");
    app.form().fire("cmdexit2", Event::Click);
}

void Service::reload(SendMsg& app) {
    const std::string path = configPath(m_options.folders.program);
    Result<TransportConfig> config = loadTransportConfig(path);
    if (!config) {
        m_log.write(path + ": " + config.error().message + "; the configuration in use stays");
        return;
    }
    app.reloadConfig(config.value());
    m_log.write(path + " reread");
}

/// A line of standard input, read with its echo off when `hidden` and the input is a terminal.
/// Nothing at the end of the input, or when a stop signal (Ctrl-C) comes first, which sets
/// `stopped`. The signals stay blocked, as everywhere in parlixd: they are read, not caught.
std::optional<std::string> askLine(const char* prompt, bool hidden, bool& stopped) {
    // Echo goes off before the prompt shows, so nothing typed after the prompt is echoed.
    termios saved{};
    bool terminal = ::isatty(STDIN_FILENO) == 1 && ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (hidden && terminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    const int signals = ::signalfd(-1, &stops, SFD_CLOEXEC);
    std::cerr << prompt << std::flush;
    std::string line;
    bool any = false;  // a character or the line's end was read
    bool done = false;
    while (!done && !stopped) {
        pollfd wait[2] = {{STDIN_FILENO, POLLIN, 0}, {signals, POLLIN, 0}};
        if (::poll(wait, signals >= 0 ? 2 : 1, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if ((wait[1].revents & POLLIN) != 0) {
            stopped = true;
            break;
        }
        char c = 0;
        ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;  // the end of the input
        }
        any = true;
        done = c == '\n';
        if (!done) {
            line += c;
        }
    }
    ::close(signals);
    if (hidden && terminal) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::cerr << "\n";
    }
    if (stopped || !any) {
        return std::nullopt;
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

}  // namespace

int runService(const ServiceOptions& options, ServiceLog& log, SignalWatch& signals) {
    Service service(options, log, signals);
    return service.run();
}

int saveLogin(const ServiceOptions& options, ServiceLog& log, SignalWatch& signals) {
    ServiceUi ui(log, signals);
    const std::string& folder = options.folders.program;
    if (::access(folder.c_str(), R_OK | W_OK | X_OK) != 0) {
        return refuse(kExitConfig,
                      "cannot use the program folder " + folder + ": " + std::strerror(errno));
    }
    RegistryStore store(folder + "/registry.dat");
    if (auto readable = store.check(); !readable) {
        return refuse(kExitConfig,
                      "the registry store cannot be read: " + readable.error().message);
    }
    bool stopped = false;
    std::optional<std::string> user = askLine("Gateway user id: ", false, stopped);
    std::optional<std::string> password;
    if (!stopped) {
        password = askLine("Gateway password: ", true, stopped);
    }
    if (stopped) {
        std::cerr << "\nparlixd: stopped; no login saved" << std::endl;
        return kExitInterrupted;
    }
    if (!user || user->empty() || !password || password->empty()) {
        return refuse(kExitUsage, "a user id and a password are both needed");
    }
    RegistryKeys keys(store, ui);
    if (!rememberLogin(keys, {*user, *password})) {
        return refuse(kExitCannotSave, "the login could not be saved in " + store.filePath());
    }
    std::cerr << "parlixd: the login of " << *user << " is saved in " << store.filePath()
              << std::endl;
    return kExitOk;
}

}  // namespace parlix
