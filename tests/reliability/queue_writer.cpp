// queue-writer: the outside software filling the queue at a steady rate while the program
// sends, for the reliability suite.
//
//   queue-writer --db FILE --rate ROWS_PER_SECOND --seconds S --prefix TEXT
//
// Inserts row n (0, 1, ...) at n / rate seconds after the start, each in its own statement,
// with the Message "<prefix><n>-" and status "Queued". It does no retrying of its own: a locked
// database is waited for by the connection's busy timeout, as in the outside software. At the
// end it prints one line:
//
//   inserted N failed M late L max_insert_ms X first_error TEXT
//
// where "late" counts inserts that started more than a second behind their schedule. Exit code
// 0 when nothing failed, 1 otherwise, 2 for bad arguments or a database that does not open.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <thread>

#include "db/connection.h"
#include "db/open_database.h"

int main(int argc, char** argv) {
    std::string db;
    std::string prefix;
    double rate = 0;
    double seconds = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string a = argv[i];
        std::string v = argv[i + 1];
        if (a == "--db") {
            db = v;
        } else if (a == "--rate") {
            rate = std::atof(v.c_str());
        } else if (a == "--seconds") {
            seconds = std::atof(v.c_str());
        } else if (a == "--prefix") {
            prefix = v;
        }
    }
    if (db.empty() || prefix.empty() || rate <= 0 || seconds <= 0) {
        std::fprintf(stderr, "usage: queue-writer --db FILE --rate N --seconds S --prefix TEXT\n");
        return 2;
    }
    parlix::Connection c;
    try {
        c.openFile(db, parlix::kDatabasePassword);
    } catch (const std::exception& e) {
        std::printf("inserted 0 failed 0 late 0 max_insert_ms 0 first_error %s\n", e.what());
        return 2;
    }
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const long total = static_cast<long>(rate * seconds);
    long inserted = 0;
    long failed = 0;
    long late = 0;
    long long maxMs = 0;
    std::string firstError = "-";
    for (long n = 0; n < total; ++n) {
        const auto due = start + std::chrono::microseconds(static_cast<long long>(n * 1e6 / rate));
        std::this_thread::sleep_until(due);
        const auto began = Clock::now();
        if (began - due > std::chrono::seconds(1)) {
            ++late;
        }
        char mobile[16];
        std::snprintf(mobile, sizeof mobile, "97%08ld", n % 100000000);
        try {
            c.execute("INSERT INTO MessageQueue (Mobileno, Message, Status) VALUES (?, ?, ?)",
                      {std::string(mobile), prefix + std::to_string(n) + "-", "Queued"});
            ++inserted;
        } catch (const std::exception& e) {
            if (failed++ == 0) {
                firstError = e.what();
            }
        }
        const auto took =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - began).count();
        maxMs = took > maxMs ? took : maxMs;
    }
    std::printf("inserted %ld failed %ld late %ld max_insert_ms %lld first_error %s\n", inserted,
                failed, late, static_cast<long long>(maxMs), firstError.c_str());
    return failed == 0 ? 0 : 1;
}
