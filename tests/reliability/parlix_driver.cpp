// parlix-driver: the window's logic without a window, for the crash and restart runs of the
// reliability suite. It is a test tool; the program itself reads no command line.
//
//   parlix-driver --program-folder DIR --settings-folder DIR --user U --password P
//                 [--tick-ms N] [--time-limit-s S] [--until-drained]
//
// The program folder holds SMSDB.MDB and parlix.conf (server hosts, timeouts) as it does for
// the program. The driver wires the real ports as the program does (system clock, /proc,
// getifaddrs, curl, the settings store in the given folder), runs start-up, logs in, and then
// fires the dispatch timer every N ms while the timer is enabled. When a failed login has
// stopped the timer it presses Connect, as an operator would. Message boxes are answered OK or
// Yes. Every log entry and message box is printed, one per line.
//
// Exit codes: 0 the queue is drained (--until-drained) or the time is up, 1 the time ran out
// before the queue was drained, 2 bad arguments or configuration, 3 the program ended itself,
// 4 an error escaped the window's logic.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "app/send_msg.h"
#include "app/system_ports.h"
#include "base/text.h"
#include "base/ui.h"
#include "sys/instance_count.h"

namespace parlix {
namespace {

struct Options {
    std::string programFolder;
    std::string settingsFolder;
    std::string user;
    std::string password;
    int tickMs = 1000;
    int timeLimitS = 60;
    bool untilDrained = false;
};

struct Ended {};

std::chrono::steady_clock::time_point g_start = std::chrono::steady_clock::now();

void say(const char* kind, const std::string& text) {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now() - g_start)
                  .count();
    std::printf("%7lld %s %s\n", static_cast<long long>(ms), kind,
                replaceAll(replaceAll(text, "\r\n", " | "), "\n", " | ").c_str());
}

/// Answers every message box at once (OK, or Yes to a question) and prints it.
class ConsoleUi final : public Ui {
public:
    MsgAnswer msgBox(const std::string& text, MsgButtons buttons, MsgIcon,
                     const std::string& title) override {
        say("box", title + ": " + text);
        return buttons == MsgButtons::YesNo ? MsgAnswer::Yes : MsgAnswer::Ok;
    }
    void doEvents() override {}
    void setBusy(bool) override {}
    [[noreturn]] void endProgram() override { throw Ended{}; }
};

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (a == "--program-folder") {
            o.programFolder = value();
        } else if (a == "--settings-folder") {
            o.settingsFolder = value();
        } else if (a == "--user") {
            o.user = value();
        } else if (a == "--password") {
            o.password = value();
        } else if (a == "--tick-ms") {
            o.tickMs = std::atoi(value().c_str());
        } else if (a == "--time-limit-s") {
            o.timeLimitS = std::atoi(value().c_str());
        } else if (a == "--until-drained") {
            o.untilDrained = true;
        } else {
            std::fprintf(stderr, "parlix-driver: unknown argument %s\n", a.c_str());
            return false;
        }
    }
    return !o.programFolder.empty() && !o.settingsFolder.empty() && !o.user.empty() &&
           o.tickMs > 0 && o.timeLimitS > 0;
}

/// Peak resident memory from /proc/self/status, "N kB".
std::string peakResident() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::to_string(std::strtol(line.c_str() + 6, nullptr, 10)) + " kB";
        }
    }
    return "unknown";
}

/// Rows still to go: queued, or taken for sending.
long waitingRows(FormModel& form) {
    if (!form.dbConnection || !form.dbConnection->isOpen()) {
        return -1;
    }
    return static_cast<long>(
        form.dbConnection
            ->scalar("select count(*) from MessageQueue where Status='Queued' or Status='Read'")
            .integer());
}

int run(const Options& o) {
    ConsoleUi ui;
    auto ports = SystemPorts::open(ui, {o.programFolder, o.settingsFolder,
                                        programNameFromExecutable(currentExecutablePath())});
    if (!ports) {
        std::fprintf(stderr, "parlix-driver: %s\n", ports.error().message.c_str());
        return 2;
    }
    SendMsg app(ports.value()->environment());
    FormModel& form = app.form();
    std::string lastLog;
    form.observe([&lastLog](const Element& e) {
        if (e.name == "txt_msg" && e.text != lastLog) {
            lastLog = e.text;
            say("log", e.text.substr(0, e.text.find("\r\n")));
        }
    });
    try {
        app.Form_Load();
        form.setText("txtUserId", o.user);
        form.setText("txtUSerPassWord", o.password);
        form.fire("cmdConnect2", Event::Click);
        const auto deadline = g_start + std::chrono::seconds(o.timeLimitS);
        long ticks = 0;
        while (std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(o.tickMs));
            if (form.enabled("SendMessage")) {
                form.fire("SendMessage", Event::Timer);
                ++ticks;
            } else if (form.enabled("cmdConnect2")) {
                form.fire("cmdConnect2", Event::Click);
            }
            if (o.untilDrained && waitingRows(form) == 0) {
                say("end", "drained after " + std::to_string(ticks) + " ticks, peak resident " +
                               peakResident());
                return 0;
            }
        }
        say("end", "time is up after " + std::to_string(ticks) + " ticks, peak resident " +
                       peakResident());
        return o.untilDrained ? 1 : 0;
    } catch (const Ended&) {
        say("end", "the program ended itself");
        return 3;
    }
}

}  // namespace
}  // namespace parlix

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    parlix::Options o;
    if (!parlix::parse(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: parlix-driver --program-folder DIR --settings-folder DIR --user U "
                     "--password P [--tick-ms N] [--time-limit-s S] [--until-drained]\n");
        return 2;
    }
    try {
        return parlix::run(o);
    } catch (const std::exception& e) {
        parlix::say("crash", e.what());
        return 4;
    }
}
