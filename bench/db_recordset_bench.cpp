// Reads and marks 2000 queued rows one by one through a record set, as a sender does, with and
// without a surrounding transaction. Prints rows per second for each.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "db/connection.h"
#include "db/message_queue.h"
#include "db/open_database.h"
#include "db/recordset.h"

namespace {

constexpr int kRows = 2000;

std::unique_ptr<parlix::Connection> freshQueue(const std::string& folder) {
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    auto db = parlix::createDatabaseFile(folder + "/SMSDB.MDB", parlix::kDatabasePassword);
    parlix::MessageQueue queue(*db);
    queue.createTables();
    queue.upgradeSchema();
    db->beginTrans();
    for (int i = 0; i < kRows; ++i) {
        queue.enqueue("98765" + std::to_string(10000 + i), std::string(120, 'm'));
    }
    db->commitTrans();
    return db;
}

void markAll(parlix::Connection& db) {
    auto rs = parlix::MessageQueue(db).takeQueued(kRows);
    for (; !rs->eof(); rs->moveNext()) {
        benchmark::DoNotOptimize(rs->field("Message").toText());
        rs->setField("MessageID", "user12345-261206-1200-1");
        rs->setField("Status", "Read");
        rs->update();
    }
}

void BM_MarkRows(benchmark::State& state) {
    bool inTransaction = state.range(0) != 0;
    std::string folder = (std::filesystem::temp_directory_path() / "parlix-bench-db").string();
    for (auto _ : state) {
        state.PauseTiming();
        auto db = freshQueue(folder);
        state.ResumeTiming();
        if (inTransaction) {
            db->beginTrans();
        }
        markAll(*db);
        if (inTransaction) {
            db->commitTrans();
        }
    }
    state.counters["rows_per_s"] =
        benchmark::Counter(static_cast<double>(kRows) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
    std::filesystem::remove_all(folder);
}

BENCHMARK(BM_MarkRows)
    ->ArgName("transaction")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
