// The HTTP interface's pieces that need no server: a tick's outcome and the chart's minutes, the
// metrics' text, and what a body's bytes and headers must be.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <string>
#include <tuple>

#include "daemon/http_messages.h"
#include "daemon/http_metrics.h"
#include "daemon/http_queue_writer.h"
#include "daemon/http_snapshot.h"
#include "daemon/service_log.h"
#include "db/file_queue.h"
#include "db/open_database.h"
#include "model/form_model.h"
#include "support/queue_db.h"
#include "support/temp_dir.h"

namespace parlix {
namespace {

using std::chrono::minutes;

TEST(TickRecorder, NamesEachOutcomeErrorsFirstAndCountsTheLastHoursMessagesByMinute) {
    FormModel form;
    SnapshotBoard board;
    TickRecorder recorder(board);
    const auto t0 = std::chrono::system_clock::time_point{} + std::chrono::hours(1000);
    // clang-format off
    const std::tuple<long, long, long, double, minutes, const char*> ticks[] = {
        {0, 0, 0, 0.01, minutes(0), "idle"},
        {5, 0, 0, 0.3, minutes(0), "sent"},
        {5, 1, 0, 0.5, minutes(1), "upload refused"},
        {7, 1, 1, 2, minutes(2), "error"},
        {7, 2, 2, 70, minutes(2), "error"},
        {8, 2, 2, 0.05, minutes(61), "sent"},
    };
    // clang-format on
    for (const auto& [sent, refused, errors, seconds, at, outcome] : ticks) {
        form.counters = {sent, refused, errors};
        recorder.tickEnded(form, std::chrono::duration<double>(seconds), t0 + at);
        EXPECT_EQ(board.current()->lastTickOutcome, outcome) << sent << refused << errors;
    }
    const ServiceSnapshot s = *board.current();
    // The 5 sent at minute 0 are over an hour old; 2 were sent 59 minutes ago, 1 just now.
    EXPECT_EQ(std::tuple(s.sentPerMinute[0], s.sentPerMinute[58], s.sentPerMinute[59],
                         s.sentLastMinute, s.ticks, s.counters.messagesSent),
              std::tuple(2, 0, 1, 1, 6, 8));
    EXPECT_EQ(s.tickBuckets, (std::array<long, 11>{2, 0, 0, 2, 0, 1, 0, 0, 0, 0, 1}));
    EXPECT_DOUBLE_EQ(s.lastGoodTick,
                     std::chrono::duration<double>((t0 + minutes(61)).time_since_epoch()).count());
    const std::string text =
        prometheusText(s, {{"Queued", 3}, {"read", 2}, {"Sent", 5}, {"odd\"st\\at\nus", 1}});
    for (const char* line :
         {"parlix_queue_depth 5\n", "parlix_queue_messages{status=\"odd\\\"st\\\\at\\nus\"} 1\n",
          "parlix_tick_duration_seconds_bucket{le=\"0.5\"} 4\n",
          "parlix_tick_duration_seconds_bucket{le=\"60\"} 5\n",
          "parlix_tick_duration_seconds_bucket{le=\"+Inf\"} 6\n",
          "parlix_tick_duration_seconds_sum 72.86\n", "parlix_upload_failures_total 2\n",
          "parlix_tick_errors_total 2\n"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line << text;
    }
}

TEST(MessageRequest, TakesOnlyUtf8JsonAndFingerprintsWhatTheMessagesSay) {
    auto read = [](const std::string& text, const char* type = "application/json") {
        return readMessageRequest(type, "{\"to\": \"9876543210\", \"text\": \"" + text + "\"}");
    };
    for (const char* good :
         {"caf\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF"}) {
        EXPECT_TRUE(std::holds_alternative<MessageRequest>(read(good))) << good;
    }
    for (const char* bad : {"\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                            "\xE2\x82", "\x80", "\xF8\x88\x80\x80\x80"}) {
        const auto refused = read(bad);
        ASSERT_TRUE(std::holds_alternative<ApiError>(refused)) << bad;
        EXPECT_EQ(std::get<ApiError>(refused).reason, "is not valid UTF-8 (byte 30)") << bad;
    }
    EXPECT_EQ(std::get<ApiError>(readMessageRequest("application/json", "\xFF{}")).reason,
              "is not valid UTF-8 (byte 0)");
    for (const char* type : {"Application/JSON", "application/json ; charset=utf-8"}) {
        EXPECT_TRUE(std::holds_alternative<MessageRequest>(read("x", type))) << type;
    }
    for (const char* type : {"application/jsonx", "text/json", ""}) {
        EXPECT_TRUE(std::holds_alternative<ApiError>(read("x", type))) << type;
    }
    const auto print = [](const std::string& body) {
        return std::get<MessageRequest>(readMessageRequest("application/json", body)).fingerprint;
    };
    EXPECT_EQ(print("{\"to\":\"9876543210\",\"text\":\"a\"}"),
              print(" { \"text\" : \"a\" , \"to\" : \"9876543210\" } "));
    EXPECT_NE(print("{\"to\":\"9876543210\",\"text\":\"a\"}"),
              print("{\"to\":\"9876543210\",\"text\":\"b\"}"));
    EXPECT_FALSE(checkIdempotencyKey(std::string(200, '~')));
    for (const std::string& bad : {std::string(201, 'k'), std::string("k\x7F"), std::string()}) {
        EXPECT_TRUE(checkIdempotencyKey(bad)) << bad;
    }
}

// A key is kept for 24 hours: a repeat gets the first answer, flagged as given again, another
// body under it 422; after that the same key queues afresh, and the next clean-up, ten minutes
// after the last, deletes the keys past it.
TEST(QueueWriter, KeepsAnAnswerUnderItsKeyFor24HoursThenForgetsIt) {
    test::TempDir dir;
    auto db = test::makeQueueDatabase(dir.str());
    auto own = std::make_unique<Connection>();
    own->openFile(dir.str() + "/SMSDB.MDB", kDatabasePassword);
    auto now = std::chrono::system_clock::time_point{} + std::chrono::hours(500000);
    const auto start = now;
    QueueWriter writer(
        std::make_unique<FileQueue>(std::move(own), dir.str()), [](const std::string&) {},
        [&now] { return now; });
    auto request = [](const char* text) {
        return std::get<MessageRequest>(readMessageRequest(
            "application/json", std::string("{\"to\":\"9876543210\",\"text\":\"") + text + "\"}"));
    };
    using std::chrono::seconds;
    // clang-format off
    const std::tuple<const char*, const char*, seconds, int, std::string, bool> steps[] = {
        {"k", "a", seconds(0), 201, "{\"ids\":[1]}", false},
        {"j", "a", seconds(0), 201, "{\"ids\":[2]}", false},
        {"k", "a", seconds(86400), 201, "{\"ids\":[1]}", true},
        {"k", "b", seconds(86400), 422, "", false},
        {"k", "a", seconds(87000), 201, "{\"ids\":[3]}", false},
    };
    // clang-format on
    for (const auto& [key, text, after, status, body, replayed] : steps) {
        now = start + after;
        const QueueAnswer answer = writer.submit(request(text), key);
        EXPECT_EQ(std::tuple(answer.status, answer.replayed), std::tuple(status, replayed)) << key;
        EXPECT_TRUE(body.empty() || answer.body == body) << answer.body;
    }
    EXPECT_EQ(test::query(*db, "select KeyText from IdempotencyKey").size(), 1u);
}

// The journal's stamp: local time to the millisecond, and the zone's offset.
TEST(ServiceLog, StampsLocalTimeToTheMillisecondWithItsOffset) {
    using namespace std::chrono;
    const auto at =
        sys_days{year{2026} / 12 / 6} + hours(15) + minutes(4) + seconds(5) + milliseconds(123);
    for (const auto& [zone, stamp] : {std::pair{"UTC0", "2026-12-06T15:04:05.123+00:00"},
                                      {"CET-1", "2026-12-06T16:04:05.123+01:00"}}) {
        ::setenv("TZ", zone, 1);
        ::tzset();
        EXPECT_EQ(isoTimestamp(at), stamp);
    }
    ::unsetenv("TZ");
    ::tzset();
}

}  // namespace
}  // namespace parlix
