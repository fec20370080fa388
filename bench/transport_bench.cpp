// Payload throughput: compress + hex + upload to gateway-sim on loopback, next to zlib's
// compress alone on the same bytes. Prints bytes per second of payload and the ratio.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>

#include "support/fakes.h"
#include "support/gateway_sim_process.h"
#include "support/temp_dir.h"
#include "transport/curl_http_client.h"
#include "transport/payload_uploader.h"
#include "transport/zlib_codec.h"

namespace {

using parlix::CurlHttpClient;
using parlix::HttpTimeouts;
using parlix::PayloadUploader;
using parlix::ZlibCodec;
namespace test = parlix::test;

// _NWM records of made-up numbers and texts, as a sender writes them, up to `bytes` long.
std::string makePayload(size_t bytes) {
    static const char* const kWords[] = {"order",   "ready", "your",  "code",  "is",   "delivery",
                                         "today",   "thank", "you",   "visit", "at",   "store",
                                         "balance", "due",   "reply", "STOP",  "call", "us"};
    std::mt19937 rng(11);
    std::string out;
    long serial = 0;
    while (out.size() < bytes) {
        std::string text;
        int words = 5 + static_cast<int>(rng() % 20);
        for (int w = 0; w < words; ++w) {
            text += w ? " " : "";
            text += kWords[rng() % std::size(kWords)];
            if (rng() % 4 == 0) {
                text += std::to_string(rng() % 100000);
            }
        }
        out += std::to_string(9000000000L + static_cast<long>(rng() % 999999999)) +
               "#bench00001-261206-1504-" + std::to_string(++serial) + "#TEXT\r\n" + text + "\r\n";
    }
    out.resize(bytes);
    // Keep the payload a whole number of records so the gateway accepts it.
    out.resize(out.rfind("\r\n", out.rfind("#TEXT\r\n")) + 2);
    return out;
}

class ThroughputReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            auto it = r.counters.find("bytes_per_second");
            if (it != r.counters.end()) {
                rates[r.benchmark_name()] = it->second.value;
            }
        }
    }
    /// Bytes per second of the first run whose name starts with `prefix`; 0 when none ran.
    double rate(const std::string& prefix) const {
        for (const auto& [name, value] : rates) {
            if (name.rfind(prefix, 0) == 0) {
                return value;
            }
        }
        return 0;
    }

    std::map<std::string, double> rates;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    test::GatewaySimProcess sim;
    sim.addAccount({"bench", "pw", 1000000, false, "", ""});
    test::TempDir dir;
    test::FakeUi ui;
    CurlHttpClient poster(ui, HttpTimeouts{});
    PayloadUploader uploader(poster, ui);

    const std::pair<const char*, size_t> sizes[] = {{"100KB", 100 * 1024}, {"1MB", 1024 * 1024}};
    for (const auto& [label, size] : sizes) {
        const std::string payload = makePayload(size);
        benchmark::RegisterBenchmark(
            (std::string("zlib_compress/") + label).c_str(),
            [payload](benchmark::State& state) {
                for (auto _ : state) {
                    std::string text = payload;
                    ZlibCodec{}.CompressString(text, 15);
                    benchmark::DoNotOptimize(text);
                }
                state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * payload.size()));
            })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark(
            (std::string("compress_hex_upload/") + label).c_str(),
            [&, payload](benchmark::State& state) {
                const std::string path = (dir / "bench_NWM.SMS").string();
                long batch = 0;
                for (auto _ : state) {
                    state.PauseTiming();
                    sim.post("/_sim/reset");
                    state.ResumeTiming();
                    const std::string stamp =
                        std::string("b").append(std::to_string(++batch)).append("_NWM");
                    if (!uploader.httpConnectSingle(path, payload, stamp, sim.host(), "bench")) {
                        state.SkipWithError("the gateway refused the upload");
                        break;
                    }
                }
                state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * payload.size()));
            })
            ->Unit(benchmark::kMillisecond)
            ->MinTime(1.0)
            ->UseRealTime();
    }

    ThroughputReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\npayload bytes per second, wall clock (MB = 10^6 bytes):\n");
    for (const auto& [label, size] : sizes) {
        double zlib = reporter.rate(std::string("zlib_compress/") + label + "/");
        double full = reporter.rate(std::string("compress_hex_upload/") + label + "/");
        if (zlib > 0 && full > 0) {
            std::printf(
                "  %-5s compress+hex+upload %8.2f MB/s   zlib compress %8.2f MB/s   "
                "ratio %.3f\n",
                label, full / 1e6, zlib / 1e6, full / zlib);
        }
    }
    benchmark::Shutdown();
    return 0;
}
