#include "reliability_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <thread>

#include "db/open_database.h"
#include "support/queue_db.h"
#include "support/temp_dir.h"

#ifndef PARLIX_RELIABILITY_DIR
#define PARLIX_RELIABILITY_DIR "."
#endif

namespace parlix::reliability {

bool longMode() {
    const char* v = std::getenv("PARLIX_RELIABILITY_LONG");
    return v != nullptr && std::string(v) != "0" && std::string(v) != "";
}

bool sanitized() {
#ifdef PARLIX_RELIABILITY_SANITIZED
    return true;
#else
    return false;
#endif
}

int scaled(int shortCount, int longCount, int sanitizedCount) {
    if (longMode()) {
        return longCount;
    }
    return sanitized() ? sanitizedCount : shortCount;
}

std::uint64_t suiteSeed(const std::string& what) {
    std::uint64_t seed = 0;
    if (const char* v = std::getenv("PARLIX_RELIABILITY_SEED")) {
        seed = std::strtoull(v, nullptr, 10);
    } else {
        std::random_device device;
        seed = (static_cast<std::uint64_t>(device()) << 32) ^ device();
    }
    figure(what + " seed (PARLIX_RELIABILITY_SEED)", std::to_string(seed));
    return seed;
}

void figure(const std::string& name, long long value) {
    figure(name, std::to_string(value));
}

void figure(const std::string& name, const std::string& value) {
    std::cout << "[ figure   ] " << name << " = " << value << std::endl;
    // XML attribute names take no blanks or punctuation.
    std::string key;
    for (char c : name) {
        key += std::isalnum(static_cast<unsigned char>(c)) != 0 ? c : '_';
    }
    ::testing::Test::RecordProperty(key, value);
}

long long msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

namespace {

long statusKb(const std::string& key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key + ":", 0) == 0) {
            return std::strtol(line.c_str() + key.size() + 1, nullptr, 10);
        }
    }
    return -1;
}

}  // namespace

long residentKb() {
    return statusKb("VmRSS");
}

long peakResidentKb() {
    return statusKb("VmHWM");
}

bool resetPeakResident() {
    // Writing 5 to clear_refs starts a new peak of resident memory.
    std::ofstream out("/proc/self/clear_refs");
    out << "5";
    out.flush();
    return out.good();
}

LogTap::LogTap(FormModel& form) : m_lines(std::make_shared<std::vector<std::string>>()) {
    // The observer owns the lines, so it stays valid whichever of the two goes first.
    auto lines = m_lines;
    auto last = std::make_shared<std::string>(form.text("txt_msg"));
    form.observe([lines, last](const Element& e) {
        if (e.name != "txt_msg" || e.text == *last) {
            return;
        }
        *last = e.text;
        lines->push_back(e.text.substr(0, e.text.find("\r\n")));
    });
}

long LogTap::count(const std::string& part) const {
    long n = 0;
    for (const std::string& l : *m_lines) {
        n += l.find(part) != std::string::npos ? 1 : 0;
    }
    return n;
}

std::string LogTap::firstWith(const std::vector<std::string>& parts) const {
    for (const std::string& l : *m_lines) {
        for (const std::string& p : parts) {
            if (l.find(p) != std::string::npos) {
                return l;
            }
        }
    }
    return {};
}

long Audit::status(const std::string& s) const {
    auto it = statuses.find(s);
    return it == statuses.end() ? 0 : it->second;
}

long Audit::waiting() const {
    long n = 0;
    for (const auto& [s, count] : statuses) {
        std::string lower;
        for (char c : s) {
            lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        n += lower == "queued" || lower == "read" ? count : 0;
    }
    return n;
}

void figures(const std::string& scenario, const Audit& a) {
    std::string statuses;
    for (const auto& [status, n] : a.statuses) {
        statuses += (statuses.empty() ? "" : " ") + status + ":" + std::to_string(n);
    }
    figure(scenario, "rows " + std::to_string(a.rows) + " (" + statuses + "), received " +
                         std::to_string(a.received) + ", duplicates " +
                         std::to_string(a.duplicates) + ", sent but never received " +
                         std::to_string(a.sentNeverReceived) + ", lost by the restart rule " +
                         std::to_string(a.deletedNeverReceived));
}

Audit audit(Connection& db, const test::JsonValue& messages, const std::string& prefix) {
    std::map<std::string, long> copies;
    for (const test::JsonValue& m : messages.array()) {
        const std::string text = m["text"].str();
        if (text.rfind(prefix, 0) == 0) {
            ++copies[text];
        }
    }
    Audit a;
    std::set<std::string> rowTexts;
    for (const auto& row : test::query(db, "select * from MessageQueue")) {
        std::string text = row["Message"].toText();
        if (text.rfind(prefix, 0) != 0) {
            continue;
        }
        rowTexts.insert(text);
        ++a.rows;
        std::string status = row["Status"].toText();
        ++a.statuses[status];
        auto found = copies.find(text);
        const bool got = found != copies.end();
        if ((status == "Sent" || status == "DelSent") && !got) {
            ++a.sentNeverReceived;
        } else if (status == "Deleted") {
            ++(got ? a.deletedReceived : a.deletedNeverReceived);
        }
    }
    for (const auto& [text, n] : copies) {
        a.received += n;
        ++a.receivedDistinct;
        a.duplicates += n - 1;
        a.receivedWithoutRow += rowTexts.count(text) == 0 ? 1 : 0;
    }
    return a;
}

std::vector<std::string> uniqueTexts(const std::string& prefix, int count, size_t length,
                                     std::mt19937_64& rng) {
    std::uniform_int_distribution<int> letter('a', 'z');
    std::vector<std::string> out;
    out.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        std::string t = prefix + std::to_string(i) + "-";
        while (t.size() < length) {
            t += static_cast<char>(letter(rng));
        }
        out.push_back(std::move(t));
    }
    return out;
}

void enqueueAll(Connection& db, const std::vector<std::string>& texts) {
    db.beginTrans();
    try {
        int n = 0;
        for (const std::string& t : texts) {
            char mobile[16];
            std::snprintf(mobile, sizeof mobile, "98%08d", n++ % 100000000);
            test::enqueue(db, std::string(mobile), t);
        }
        db.commitTrans();
    } catch (...) {
        db.rollbackTrans();
        throw;
    }
}

test::JsonValue fetchLargeJson(const std::string& host, const std::string& path) {
    httplib::Client client("http://" + host);
    client.set_connection_timeout(5);
    client.set_read_timeout(60);
    auto res = client.Get(path);
    if (!res || res->status != 200) {
        throw std::runtime_error("cannot read " + path + " from gateway-sim");
    }
    return test::JsonValue::parse(res->body);
}

std::string integrityOf(const std::string& dbPath) {
    Connection c;
    c.openFile(dbPath, kDatabasePassword);
    return c.scalar("PRAGMA integrity_check").toText();
}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::string& outputFile)
    : m_outputFile(outputFile) {
    std::vector<std::string> all = {program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    int out = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (out < 0) {
        throw std::runtime_error("cannot open " + outputFile);
    }
    m_pid = ::fork();
    if (m_pid < 0) {
        ::close(out);
        throw std::runtime_error("cannot start " + program);
    }
    if (m_pid == 0) {
        ::dup2(out, STDOUT_FILENO);
        ::dup2(out, STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out);
}

ChildProcess::~ChildProcess() {
    if (!m_done && m_pid > 0) {
        kill();
    }
}

bool ChildProcess::running() {
    if (m_done) {
        return false;
    }
    if (::waitpid(m_pid, &m_status, WNOHANG) == m_pid) {
        m_done = true;
    }
    return !m_done;
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds timeout) {
    auto until = std::chrono::steady_clock::now() + timeout;
    while (running()) {
        if (std::chrono::steady_clock::now() >= until) {
            kill();
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(m_status) ? WEXITSTATUS(m_status) : -WTERMSIG(m_status);
}

void ChildProcess::kill() {
    if (m_done) {
        return;
    }
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, &m_status, 0);
    m_done = true;
}

std::string ChildProcess::output() const {
    return test::readFile(m_outputFile);
}

std::string reliabilityProgram(const std::string& name) {
    return std::string(PARLIX_RELIABILITY_DIR) + "/" + name;
}

}  // namespace parlix::reliability
