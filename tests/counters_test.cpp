#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <tuple>

#include "support/temp_dir.h"
#include "sys/counter_query.h"

namespace parlix {
namespace {

/// A facility whose counters are numbered in the order they are added, each showing the value
/// a test set for its number; a removed counter keeps it, so that a stale handle would show.
class FakeCounterFacility : public CounterFacility {
public:
    Result<QueryHandle> openQuery() override {
        return query != 0 ? Result<QueryHandle>(query) : Error{1, "no query"};
    }
    std::int32_t closeQuery(QueryHandle q) override { return closed.push_back(q), kCounterOk; }
    std::int32_t validatePath(const std::string& path) override {
        return path == "bad" ? kCounterNoObject : kCounterOk;
    }
    Result<CounterHandle> addCounter(QueryHandle, const std::string& path) override {
        return path == "refused" ? Result<CounterHandle>(Error{kCounterNoInstance, "no"}) : ++added;
    }
    std::int32_t removeCounter(CounterHandle c) override {
        return removed.push_back(c), c == stuck ? kCounterInvalidHandle : kCounterOk;
    }
    std::int32_t collectQueryData(QueryHandle) override { return kCounterNoData; }
    Result<FormattedCounter> getFormattedValue(CounterHandle c, std::uint32_t) override {
        auto it = values.find(c);
        return it != values.end() ? Result<FormattedCounter>(it->second)
                                  : Error{kCounterNoData, ""};
    }
    Result<std::string> lookupNameByIndex(std::uint32_t) override { return Error{1, "none"}; }

    QueryHandle query = 1;
    CounterHandle added = 0;
    CounterHandle stuck = 0;
    std::map<CounterHandle, FormattedCounter> values;
    std::vector<CounterHandle> removed;
    std::vector<QueryHandle> closed;
};

TEST(CounterQuery, KeepsItsListInStepWithTheFacility) {
    FakeCounterFacility facility;
    facility.stuck = 5;
    for (CounterHandle c : {1u, 3u, 4u}) {
        facility.values[c] = {kTypeBaseDecimalOrAnsi, static_cast<double>(c), {}, {}};
    }
    {
        CounterQuery query(facility);
        EXPECT_EQ(query.AddCounter("bad") + query.AddCounter("refused"), -1 + kCounterNoInstance);
        for (int i = 0; i < 5; ++i) {
            ASSERT_EQ(query.AddCounter("\\A\\x"), kCounterOk);
        }
        EXPECT_EQ(query.Collect(), kCounterNoData);
        EXPECT_FALSE(query.RemoveCounter(-1) || query.RemoveCounter(5));
        EXPECT_TRUE(query.RemoveCounter(1));
        EXPECT_FALSE(query.RemoveCounter(3));  // the facility refuses; the entry goes anyway
        EXPECT_TRUE(query.RemoveCounter(2));
        EXPECT_EQ(facility.removed, (std::vector<CounterHandle>{2, 5, 4}));
        EXPECT_EQ(query.Count(), 2);
        EXPECT_EQ(query.GetCounterData(-1) + "|" + query.GetCounterData(0) + "|" +
                      query.GetCounterData(1) + "|" + query.GetCounterData(2),
                  "|1|3|");
    }
    facility.query = 0;
    { CounterQuery failed(facility); }
    EXPECT_EQ(facility.closed, std::vector<QueryHandle>{1});
}

TEST(CounterQuery, RendersValuesByTheirTypeBits) {
    const std::u16string wide{u'h', 0xE9, 0x20AC, 0xD800, 0xDC00, 0xDBFF, 0xDFFF};
    const std::u16string lone{0xD800, u'A', 0xDFFF, 0xDC00, 0xD800};
    const std::pair<FormattedCounter, std::string> cases[] = {
        {{0x20010000, 12.5, {}, {}}, "12.5%"},
        {{0x10410400, 3, {}, {}}, "3/sec"},
        {{0x30010000, 42, {}, {}}, "42secs"},
        {{0x40010000, 7, {}, {}}, "7"},
        {{0x00000000, 254.6, {}, {}}, "FF"},
        {{0x20000000, -10, {}, {}}, "-A%"},
        {{0x00000000, 9.1e18, {}, {}}, "7E49B1C9400E0000"},
        {{0x00000000, 9.2e18, {}, {}}, ""},
        {{0x00000000, 1e19, {}, {}}, ""},
        {{0x00000000, std::nan(""), {}, {}}, ""},
        {{0x00010800, 0, std::string("abc\0def", 7), {}}, "abc"},
        {{0x10000800, 0, {}, wide}, "h\u00e9\u20ac\U00010000\U0010FFFF/sec"},
        {{0x00000800, 0, {}, lone}, "\uFFFDA\uFFFD\uFFFD\uFFFD"},
        {{0x20020800, 0, "abc", u"abc"}, "%"}};
    FakeCounterFacility facility;
    CounterQuery query(facility);
    for (const auto& [value, text] : cases) {
        ASSERT_EQ(query.AddCounter("\\A\\x"), 0);
        facility.values[facility.added] = value;
        EXPECT_EQ(query.GetCounterData(query.Count() - 1), text);
    }
}

TEST(ProcCounterFacility, ResolvesPathsAndNameIndexes) {
    ProcCounterFacility facility;
    const std::pair<std::int32_t, std::vector<const char*>> paths[] = {
        {kCounterOk,
         {"\\Processor(_TOTAL)\\% processor time", "\\Processor(99999)\\% User Time",
          "\\Memory()\\Available Bytes", "\\Process(a(b)#1)\\ID Process"}},
        {kCounterNoInstance,
         {"\\Processor(100000)\\% User Time", "\\Processor(1x)\\% User Time",
          "\\Processor\\% User Time", "\\Memory(x)\\Available Bytes", "\\Process()\\Working Set"}},
        {kCounterNoObject, {"\\Disk\\Reads"}},
        {kCounterNoCounter, {"\\Memory\\Reads"}},
        {kCounterBadName,
         {"\\Processor(x", "Memory\\Available Bytes", "\\\\host\\Memory\\A",
          "\\(_Total)\\% User Time", "\\Memory\\", "\\Memory\\A\\x", "\\Memory", "\\"}}};
    for (const auto& [status, group] : paths) {
        for (const char* path : group) {
            EXPECT_EQ(facility.validatePath(path), status) << path;
        }
    }
    CounterQuery query(facility);
    EXPECT_EQ(query.GetFormatedCounter(4, "", 99999) + query.GetFormatedCounter(-4, "", 24) +
                  query.GetFormatedCounter(4, "", -24),
              "");
    EXPECT_EQ(facility.lookupNameByIndex(1).error().code, kCounterInvalidArgument);
}

// Every counter of the catalogue, by the numeric indexes written for the other platform, over
// /proc files whose every field changes by a different amount between two collects.
TEST(ProcCounterFacility, ComputesEveryCounterFromProcFiles) {
    test::TempDir proc;
    auto procFiles = [&](const char* stat, const char* uptime) {
        test::writeFile(proc / "stat", stat);
        test::writeFile(proc / "uptime", uptime);
    };
    procFiles("cpu  1000 500 400 800 200 300 200 100 0 0\ncpu0 10 0 0 10\nctxt 1000\n",
              "100.0 1\n");
    test::writeFile(proc / "meminfo",
                    "MemTotal: 9 kB\nMemAvailable:    1000 kB\nCommitted_ASX: 9 kB\n"
                    "Committed_AS: 2 kB\nCommitLimit: 3 kB\n");
    for (const char* pid : {"7", "5", "9"}) {
        std::filesystem::create_directories(proc / pid);
        test::writeFile(proc / pid / "comm", pid[0] == '9' ? "kworker\n" : "worker\n");
        test::writeFile(proc / pid / "status", pid[0] == '9'
                                                   ? "Name: kworker\n"
                                                   : std::string("VmRSS:\t  ") + pid + " kB\n");
    }
    ProcCounterFacility facility(proc.path());
    CounterQuery query(facility);
    const std::tuple<int, const char*, int, const char*> cases[] = {
        {238, "_Total", 6, "75%"},  {238, "_Total", 142, "50%"},  {238, "_Total", 144, "22.5%"},
        {238, "0", 142, "40%"},     {4, "", 24, "1024000"},       {4, "", 26, "2048"},
        {4, "", 30, "3072"},        {2, "", 146, "250/sec"},      {2, "", 248, "3"},
        {2, "", 674, "102secs"},    {230, "WORKER", 180, "5120"}, {230, "worker#1", 180, "7168"},
        {230, "kworker", 180, "0"}, {230, "worker", 784, "5"},    {230, "worker#1", 784, "7"},
        {230, "worker#2", 784, ""}};
    for (const auto& [object, instance, counter, value] : cases) {
        const std::string path = query.GetFormatedCounter(object, instance, counter);
        ASSERT_EQ(query.AddCounter(path), kCounterOk) << path;
    }
    EXPECT_EQ(query.AddCounter("\\Processor(1)\\% Processor Time"), kCounterNoInstance);
    ASSERT_EQ(query.Collect(), kCounterOk);
    // Percentages and rates need a second collect.
    EXPECT_EQ(query.GetCounterData(0) + "|" + query.GetCounterData(4), "|1024000");
    procFiles("cpu  1150 550 440 880 220 330 220 110 0 0\ncpu0 20 0 0 20 5 0 0 0\nctxt 1500\n",
              "102.0 1\n");
    ASSERT_EQ(query.Collect(), kCounterOk);
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(query.GetCounterData(static_cast<std::int32_t>(i)), std::get<3>(cases[i])) << i;
    }
    std::filesystem::remove_all(proc / "7");
    ASSERT_EQ(query.Collect(), kCounterOk);
    EXPECT_EQ(query.GetCounterData(14) + "|" + query.GetCounterData(13), "|5");  // 7 has ended
}

TEST(ProcCounterFacility, HandlesUnreadableSourcesAndClosedQueries) {
    test::TempDir proc;
    test::writeFile(proc / "stat", "cpu 1 1 1 1\n");
    ProcCounterFacility facility(proc.path());
    const QueryHandle q1 = facility.openQuery().value();
    const QueryHandle q2 = facility.openQuery().value();
    const CounterHandle switches =
        facility.addCounter(q1, "\\System\\Context Switches/sec").value();
    const CounterHandle memory = facility.addCounter(q2, "\\Memory\\Available Bytes").value();
    const CounterHandle upTime = facility.addCounter(q2, "\\System\\System Up Time").value();
    EXPECT_EQ(facility.collectQueryData(facility.openQuery().value()), kCounterNoData);
    for (const char* uptime : {"5\n", "6\n"}) {
        test::writeFile(proc / "uptime", uptime);
        EXPECT_EQ(facility.collectQueryData(q1) + facility.collectQueryData(q2), kCounterOk);
    }
    auto code = [&](CounterHandle c, std::uint32_t format = kFormatDouble) {
        auto value = facility.getFormattedValue(c, format);
        return value ? static_cast<std::int32_t>(value.value().number) : value.error().code;
    };
    EXPECT_EQ(
        std::vector<long>({code(switches), code(memory), code(upTime), code(upTime, 0)}),
        std::vector<long>({kCounterInvalidData, kCounterInvalidData, 6, kCounterInvalidArgument}));
    EXPECT_EQ(facility.closeQuery(q1), kCounterOk);
    EXPECT_EQ(
        std::vector<long>({facility.closeQuery(q1), facility.collectQueryData(q1), code(switches),
                           facility.addCounter(q1, "\\Memory\\Available Bytes").error().code}),
        std::vector<long>(4, kCounterInvalidHandle));
    EXPECT_EQ(facility.removeCounter(memory), kCounterOk);
    EXPECT_EQ(facility.removeCounter(memory), kCounterInvalidHandle);
    EXPECT_EQ(code(upTime), 6);
    std::filesystem::remove(proc / "stat");
    EXPECT_EQ(facility.addCounter(q2, "\\Processor(_Total)\\% User Time").error().code,
              kCounterInvalidData);
}

}  // namespace
}  // namespace parlix
