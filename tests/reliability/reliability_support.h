#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "db/connection.h"
#include "model/form_model.h"
#include "support/json_value.h"

namespace parlix::reliability {

/// PARLIX_RELIABILITY_LONG=1 asks for the long mode: more runs, more rows, longer writers.
bool longMode();
/// Built with the address and undefined-behaviour sanitizers.
bool sanitized();
/// The count for the mode the suite runs in.
int scaled(int shortCount, int longCount, int sanitizedCount);
/// A seed from PARLIX_RELIABILITY_SEED, or a fresh one; printed so a run can be repeated.
std::uint64_t suiteSeed(const std::string& what);

/// Prints "[ figure ] name = value" and records it in the test's XML properties.
void figure(const std::string& name, long long value);
void figure(const std::string& name, const std::string& value);

/// Milliseconds since `start`.
long long msSince(std::chrono::steady_clock::time_point start);

/// Resident memory of this process in KiB: now, and the peak since start or the last reset.
long residentKb();
long peakResidentKb();
/// Starts a new peak; false where the system does not allow it.
bool resetPeakResident();

/// The activity log as the window writes it, oldest entry first. It keeps every entry, where
/// the window's own log keeps only the newest 3000 characters.
class LogTap {
public:
    explicit LogTap(FormModel& form);
    const std::vector<std::string>& lines() const { return *m_lines; }
    /// Entries that hold `part`.
    long count(const std::string& part) const;
    /// The first entry that holds any of `parts`, or empty text.
    std::string firstWith(const std::vector<std::string>& parts) const;
    void clear() { m_lines->clear(); }

private:
    std::shared_ptr<std::vector<std::string>> m_lines;
};

/// The queue compared with what the gateway received. Rows and messages are matched by text,
/// which every test makes unique per row (message ids repeat across runs of the program).
struct Audit {
    long rows = 0;
    std::map<std::string, long> statuses;  // row count per status, as stored
    long received = 0;                     // messages at the gateway that belong to these rows
    long receivedDistinct = 0;
    long duplicates = 0;            // copies beyond the first
    long sentNeverReceived = 0;     // "Sent" or "DelSent", yet the gateway never got it
    long deletedNeverReceived = 0;  // lost: start-up marked it Deleted before it went out
    long deletedReceived = 0;       // marked Deleted, but the gateway has it
    long receivedWithoutRow = 0;    // gateway texts with the prefix that no row holds
    long status(const std::string& s) const;
    /// Rows whose status is "Queued" or "Read" in any case.
    long waiting() const;
};

/// Prints an audit as one figure line for `scenario`.
void figures(const std::string& scenario, const Audit& a);

/// Audits the rows whose Message starts with `prefix` against the gateway's messages.
Audit audit(Connection& db, const test::JsonValue& messages, const std::string& prefix);

/// `count` distinct texts "<prefix><n>-" followed by random letters up to `length` characters,
/// so that payloads do not shrink much when compressed.
std::vector<std::string> uniqueTexts(const std::string& prefix, int count, size_t length,
                                     std::mt19937_64& rng);
/// Inserts queued rows with the given texts, numbers "98" followed by 8 digits, in one
/// transaction.
void enqueueAll(Connection& db, const std::vector<std::string>& texts);

/// GET of a control path of gateway-sim at `host`, parsed; for replies beyond what the
/// program's own client takes (all messages of a long run).
test::JsonValue fetchLargeJson(const std::string& host, const std::string& path);

/// "PRAGMA integrity_check" of the queue file, opened afresh.
std::string integrityOf(const std::string& dbPath);

/// A program of the suite, run as a child process with its output in a file.
class ChildProcess {
public:
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::string& outputFile);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return m_pid; }
    /// Whether it still runs; collects its status once it has ended.
    bool running();
    /// Waits for it to end; its exit code, -signal when a signal ended it, or nullopt when it
    /// was still running after `timeout` (it is then killed).
    std::optional<int> wait(std::chrono::milliseconds timeout);
    /// SIGKILL, then waits for it.
    void kill();
    std::string output() const;

private:
    pid_t m_pid = -1;
    int m_status = 0;
    bool m_done = false;
    std::string m_outputFile;
};

/// A program built next to the suite's test binary.
std::string reliabilityProgram(const std::string& name);

}  // namespace parlix::reliability
