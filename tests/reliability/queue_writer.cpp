// queue-writer: the outside software filling the queue while parlixd sends. Row n goes in at
// n / rate seconds, in a statement of its own; a locked database is waited for by the busy
// timeout alone. It ends with "inserted N failed M first_error TEXT"; exit code 0 when nothing
// failed, 1 otherwise, 2 for bad arguments or a database that does not open.
//
//   queue-writer FILE ROWS_PER_SECOND SECONDS PREFIX
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <thread>

#include "db/connection.h"
#include "db/open_database.h"

int main(int argc, char** argv) {
    const double rate = argc == 5 ? std::atof(argv[2]) : 0;
    const double seconds = argc == 5 ? std::atof(argv[3]) : 0;
    if (rate <= 0 || seconds <= 0) {
        std::fprintf(stderr, "usage: queue-writer FILE ROWS_PER_SECOND SECONDS PREFIX\n");
        return 2;
    }
    parlix::Connection c;
    try {
        c.openFile(argv[1], parlix::kDatabasePassword);
    } catch (const std::exception& e) {
        std::printf("inserted 0 failed 0 first_error %s\n", e.what());
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    long inserted = 0;
    long failed = 0;
    std::string firstError = "-";
    for (long n = 0; n < static_cast<long>(rate * seconds); ++n) {
        std::this_thread::sleep_until(
            start + std::chrono::microseconds(static_cast<long long>(n * 1e6 / rate)));
        char mobile[16];
        std::snprintf(mobile, sizeof mobile, "97%08ld", n % 100000000);
        try {
            c.execute("INSERT INTO MessageQueue (Mobileno, Message, Status) VALUES (?, ?, ?)",
                      {std::string(mobile), argv[4] + std::to_string(n) + "-", "Queued"});
            ++inserted;
        } catch (const std::exception& e) {
            firstError = failed++ == 0 ? e.what() : firstError;
        }
    }
    std::printf("inserted %ld failed %ld first_error %s\n", inserted, failed, firstError.c_str());
    return failed == 0 ? 0 : 1;
}
