#include <gtest/gtest.h>

#include <ctime>
#include <map>
#include <set>

#include "support/temp_dir.h"
#include "sys/counter_query.h"
#include "sys/instance_count.h"

namespace parlix {
namespace {

/// A facility whose paths, failures and values a test sets up; values are keyed by path.
class FakeCounterFacility : public CounterFacility {
public:
    Result<QueryHandle> openQuery() override { return QueryHandle{77}; }
    std::int32_t closeQuery(QueryHandle query) override {
        closed.push_back(query);
        return kCounterOk;
    }
    std::int32_t validatePath(const std::string& path) override {
        return validPaths.count(path) != 0 ? kCounterOk : kCounterNoObject;
    }
    Result<CounterHandle> addCounter(QueryHandle, const std::string& path) override {
        ++addCalls;
        if (addStatus != kCounterOk) {
            return Error{addStatus, "refused"};
        }
        m_paths[m_next] = path;
        return m_next++;
    }
    std::int32_t removeCounter(CounterHandle counter) override {
        removedPaths.push_back(m_paths[counter]);
        return removeStatus;
    }
    std::int32_t collectQueryData(QueryHandle) override { return kCounterOk; }
    Result<FormattedCounter> getFormattedValue(CounterHandle counter, std::uint32_t) override {
        auto it = values.find(m_paths[counter]);
        if (it == values.end()) {
            return Error{kCounterInvalidData, "no value"};
        }
        return it->second;
    }
    Result<std::string> lookupNameByIndex(std::uint32_t) override {
        return Error{kCounterInvalidArgument, "unused"};
    }

    std::set<std::string> validPaths{"\\A\\x", "\\B\\x", "\\C\\x"};
    std::map<std::string, FormattedCounter> values;
    std::int32_t addStatus = kCounterOk;
    std::int32_t removeStatus = kCounterOk;
    int addCalls = 0;
    std::vector<std::string> removedPaths;
    std::vector<QueryHandle> closed;

private:
    std::map<CounterHandle, std::string> m_paths;
    CounterHandle m_next = 1;
};

FormattedCounter number(std::uint32_t type, double n) {
    return {type, n, {}, {}};
}

TEST(PdhQuery, AddingKeepsTheListUnchangedOnAnyFailure) {
    FakeCounterFacility facility;
    facility.values["\\A\\x"] = number(kTypeBaseDecimalOrAnsi, 1);
    CounterQuery query(facility);
    ASSERT_EQ(query.AddCounter("\\A\\x"), 0);

    EXPECT_FALSE(query.IsCounterPath("\\Nope\\x"));
    EXPECT_EQ(query.AddCounter("\\Nope\\x"), -1);
    EXPECT_EQ(facility.addCalls, 1);

    facility.addStatus = kCounterNoInstance;
    EXPECT_EQ(query.AddCounter("\\B\\x"), kCounterNoInstance);
    EXPECT_EQ(query.Count(), 1);
    EXPECT_EQ(query.GetCounterData(0), "1");
}

TEST(PdhQuery, RemovingMovesLaterCountersDown) {
    FakeCounterFacility facility;
    facility.values["\\C\\x"] = number(kTypeBaseDecimalOrAnsi, 3);
    CounterQuery query(facility);
    for (const char* path : {"\\A\\x", "\\B\\x", "\\C\\x"}) {
        ASSERT_EQ(query.AddCounter(path), 0);
    }
    EXPECT_FALSE(query.RemoveCounter(-1));
    EXPECT_FALSE(query.RemoveCounter(3));
    EXPECT_TRUE(facility.removedPaths.empty());

    EXPECT_TRUE(query.RemoveCounter(1));
    EXPECT_EQ(facility.removedPaths, std::vector<std::string>{"\\B\\x"});
    EXPECT_EQ(query.Count(), 2);
    EXPECT_EQ(query.GetCounterData(1), "3");

    // The entry leaves the list even when the facility refuses to remove it.
    facility.removeStatus = kCounterInvalidHandle;
    EXPECT_FALSE(query.RemoveCounter(1));
    EXPECT_EQ(query.Count(), 1);
}

TEST(PdhQuery, RemovingTheOnlyCounterLeavesAnEmptyUsableList) {
    FakeCounterFacility facility;
    facility.values["\\B\\x"] = number(kTypeBaseDecimalOrAnsi, 2);
    {
        CounterQuery query(facility);
        ASSERT_EQ(query.AddCounter("\\A\\x"), 0);
        EXPECT_TRUE(query.RemoveCounter(0));
        EXPECT_EQ(query.Count(), 0);
        EXPECT_EQ(query.GetCounterData(0), "");
        ASSERT_EQ(query.AddCounter("\\B\\x"), 0);
        EXPECT_EQ(query.GetCounterData(0), "2");
    }
    EXPECT_EQ(facility.closed, std::vector<QueryHandle>{77});
}

TEST(PdhQuery, RendersValuesByTheirTypeBits) {
    struct Case {
        FormattedCounter value;
        std::string expected;
    };
    const Case cases[] = {
        {number(0x20010000, 12.5), "12.5%"},
        {number(0x10410400, 3), "3/sec"},
        {number(0x30010000, 42), "42secs"},
        {number(0x40010000, 7), "7"},
        {number(0x00010000, 1234.5678), "1234.5678"},
        {number(0x00000000, 254.6), "FF"},
        {number(0x20000000, 10), "A%"},
        {{0x00010800, 0, std::string("abc\0def", 7), {}}, "abc"},
        {{0x10000800, 0, {}, u"h\u00e9\U0001F600"}, "h\u00e9\U0001F600/sec"},
        {{0x20020800, 0, "abc", u"abc"}, "%"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        FakeCounterFacility facility;
        facility.values["\\A\\x"] = c.value;
        CounterQuery query(facility);
        ASSERT_EQ(query.AddCounter("\\A\\x"), 0);
        EXPECT_EQ(query.GetCounterData(0), c.expected);
    }
}

TEST(PdhQuery, NoValueOrNoSuchCounterGivesEmptyText) {
    FakeCounterFacility facility;
    CounterQuery query(facility);
    ASSERT_EQ(query.AddCounter("\\A\\x"), 0);
    EXPECT_EQ(query.GetCounterData(0), "");
    EXPECT_EQ(query.GetCounterData(-1), "");
    EXPECT_EQ(query.GetCounterData(1), "");
}

TEST(PdhQuery, BuildsPathsFromNameIndexes) {
    ProcCounterFacility facility;
    CounterQuery query(facility);
    EXPECT_EQ(query.GetFormatedCounter(238, "_Total", 6), "\\Processor(_Total)\\% Processor Time");
    EXPECT_EQ(query.GetFormatedCounter(230, "parlix#1", 180), "\\Process(parlix#1)\\Working Set");
    const std::string empty = query.GetFormatedCounter(4, "", 24);
    EXPECT_EQ(empty, "\\Memory()\\Available Bytes");
    EXPECT_TRUE(query.IsCounterPath(empty));
    EXPECT_EQ(query.GetFormatedCounter(4, "", 99999), "");
    EXPECT_EQ(query.GetFormatedCounter(-4, "", 24), "");
}

TEST(ProcCounterFacility, ComputesCountersFromProcFiles) {
    test::TempDir proc;
    test::writeFile(proc / "stat",
                    "cpu  100 0 50 800 50 0 0 0 0 0\ncpu0 1 0 1 1 0 0 0 0\nctxt 1000\n");
    test::writeFile(proc / "uptime", "100.00 150.00\n");
    test::writeFile(proc / "meminfo", "MemTotal: 9 kB\nMemAvailable:    1000 kB\n");
    for (const char* pid : {"7", "5"}) {
        std::filesystem::create_directories(proc / pid);
        test::writeFile(proc / pid / "comm", "worker\n");
        test::writeFile(proc / pid / "status", std::string("VmRSS:\t  ") + pid + " kB\n");
    }
    ProcCounterFacility facility(proc.path());
    CounterQuery query(facility);
    for (const char* path :
         {"\\Processor(_Total)\\% Processor Time", "\\processor(_total)\\% user time",
          "\\System\\Context Switches/sec", "\\Memory\\Available Bytes", "\\System\\System Up Time",
          "\\Process(WORKER#1)\\Working Set", "\\Process(worker#2)\\Working Set",
          "\\Process(worker)\\ID Process"}) {
        ASSERT_EQ(query.AddCounter(path), 0) << path;
    }
    EXPECT_EQ(query.AddCounter("\\Processor(1)\\% Processor Time"), kCounterNoInstance);
    for (const char* invalid : {"\\\\host\\Memory\\Available Bytes", "\\Memory(x)\\Available Bytes",
                                "\\Disk\\Reads", "\\Memory\\Reads", "Memory\\Available Bytes",
                                "\\Processor\\% Processor Time", "\\Process()\\Working Set"}) {
        EXPECT_EQ(query.AddCounter(invalid), -1) << invalid;
    }

    ASSERT_EQ(query.Collect(), 0);
    EXPECT_EQ(query.GetCounterData(0), "");  // rates need a second collect
    EXPECT_EQ(query.GetCounterData(3), "1024000");

    test::writeFile(proc / "stat",
                    "cpu  250 0 100 850 50 0 0 0 0 0\ncpu0 1 0 1 1 0 0 0 0\nctxt 1500\n");
    test::writeFile(proc / "uptime", "102.00 150.00\n");
    ASSERT_EQ(query.Collect(), 0);
    const std::vector<std::string> expected{"80%",     "60%",  "250/sec", "1024000",
                                            "102secs", "7168", "",        "5"};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(query.GetCounterData(static_cast<std::int32_t>(i)), expected[i]) << i;
    }
}

TEST(ProcCounterFacility, ProcessorTimeRisesWhileThisProcessWorks) {
    ProcCounterFacility facility;
    CounterQuery query(facility);
    ASSERT_EQ(query.AddCounter("\\Processor(_Total)\\% Processor Time"), 0);
    const std::string self = programNameFromExecutable(currentExecutablePath());
    ASSERT_EQ(query.AddCounter("\\Process(" + self + ")\\Working Set"), 0);
    ASSERT_EQ(query.AddCounter("\\Memory\\Available Bytes"), 0);
    ASSERT_EQ(query.Collect(), 0);

    // Spend processor time, measured in processor time, so a slow machine only takes longer.
    volatile unsigned long sink = 0;
    const std::clock_t start = std::clock();
    while (std::clock() - start < CLOCKS_PER_SEC / 5) {
        sink = sink + 1;
    }
    ASSERT_EQ(query.Collect(), 0);
    const std::string busy = query.GetCounterData(0);
    ASSERT_FALSE(busy.empty());
    EXPECT_EQ(busy.back(), '%');
    EXPECT_GT(std::stod(busy), 0.0);
    EXPECT_GT(std::stod(query.GetCounterData(1)), 0.0);
    EXPECT_GT(std::stod(query.GetCounterData(2)), 0.0);
}

}  // namespace
}  // namespace parlix
