#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>
#include <set>

#include "support/sys_fakes.h"
#include "support/temp_dir.h"
#include "sys/instance_count.h"

namespace parlix {
namespace {

using test::FakeProcessTable;

std::vector<ProcessEntry> tableOf(const std::vector<std::string>& names) {
    std::vector<ProcessEntry> table;
    for (const std::string& name : names) {
        table.push_back({static_cast<std::uint32_t>(100 + table.size()), name});
    }
    return table;
}

struct CountCase {
    const char* what;
    std::string ownName;
    std::vector<std::string> images;
    double expected;
};

TEST(RunningInstances, CountsEveryProcessThatLooksLikeACopy) {
    const std::string nul("Sender.exe\0junk", 15);
    const CountCase cases[] = {
        {"one copy, by own file name", "Parlix", {"Parlix.exe", "bash", "init"}, 1},
        {"two copies", "Parlix", {"Parlix.exe", "bash", "PARLIX.EXE"}, 2},
        {"a copy without extension, as on Linux", "parlix", {"parlix", "sshd"}, 1},
        {"product prefix in any case", "Sender", {"parlix2.exe", "PaRLiXAgent", "xparlix"}, 2},
        {"own file name under another own name", "Sender", {"sender.EXE", "Sender2.exe"}, 1},
        {"name cut at its NUL", "Sender", {nul}, 1},
        {"long names share their first 15 characters",
         "ZentrocaGatewaySender",
         {"ZentrocaGatewayX.exe", "zentrocagateway", "ZentrocaGatewa.exe"},
         2},
        {"a process without a name is no copy", "", {""}, 0},
    };
    for (const CountCase& c : cases) {
        SCOPED_TRACE(c.what);
        FakeProcessTable table;
        table.entries = tableOf(c.images);
        EXPECT_EQ(InstanceCount(table, c.ownName).CountRunningInstances(), c.expected);
    }
}

TEST(RunningInstances, ProcessThatEndedBeforeItsLookupDoesNotCount) {
    FakeProcessTable table;
    table.entries = tableOf({"Parlix.exe", "Parlix.exe"});
    table.ended = {101};
    EXPECT_EQ(InstanceCount(table, "Parlix").CountRunningInstances(), 1);
}

TEST(RunningInstances, ListIsTheSingleIdZeroWithoutATable) {
    FakeProcessTable table;
    InstanceCount processes(table, "Parlix");
    std::vector<std::uint32_t> ids{7, 8};
    processes.ListProcessIds(ids);
    EXPECT_EQ(ids, std::vector<std::uint32_t>{0});
    EXPECT_EQ(processes.CountRunningInstances(), 0);

    table.entries = std::vector<ProcessEntry>{};
    processes.ListProcessIds(ids);
    EXPECT_EQ(ids, std::vector<std::uint32_t>{0});

    table.entries = std::vector<ProcessEntry>{{9, "a"}, {3, "b"}};
    processes.ListProcessIds(ids);
    EXPECT_EQ(ids, (std::vector<std::uint32_t>{9, 3}));
}

TEST(RunningInstances, OwnNameDropsFolderAndOnlyAnExeEnding) {
    EXPECT_EQ(programNameFromExecutable("/opt/parlix/Parlix.EXE"), "Parlix");
    EXPECT_EQ(programNameFromExecutable("/usr/bin/parlix-1.2"), "parlix-1.2");
    EXPECT_EQ(programNameFromExecutable("parlix"), "parlix");
}

TEST(ProcProcessTable, NamesProcessesByExecutableLinkElseCommandName) {
    test::TempDir proc;
    std::filesystem::create_directories(proc / "12");
    std::filesystem::create_symlink("/usr/lib/parlix/Parlix (deleted)", proc / "12" / "exe");
    std::filesystem::create_directories(proc / "2");
    test::writeFile(proc / "2" / "comm", "kthreadd\n");
    std::filesystem::create_directories(proc / "self");
    test::writeFile(proc / "self" / "comm", "x\n");

    ProcProcessTable table(proc.path());
    auto entries = table.snapshot();
    ASSERT_TRUE(entries.has_value());
    std::map<std::uint32_t, std::string> names;
    for (const ProcessEntry& e : *entries) {
        names[e.id] = e.imageName;
    }
    EXPECT_EQ(names, (std::map<std::uint32_t, std::string>{{2, "kthreadd"}, {12, "Parlix"}}));
    EXPECT_FALSE(table.entryOf(13).has_value());
    EXPECT_FALSE(ProcProcessTable(proc / "missing").snapshot().has_value());
}

TEST(ProcProcessTable, CountsThisRunningTestProgram) {
    ProcProcessTable table;
    const std::string own = programNameFromExecutable(currentExecutablePath());
    ASSERT_FALSE(own.empty());
    InstanceCount processes(table, own);
    EXPECT_EQ(processes.ProcessNameById(static_cast<std::uint32_t>(::getpid())), own);
    // Other test programs of the same name may run alongside.
    EXPECT_GE(processes.CountRunningInstances(), 1);
}

}  // namespace
}  // namespace parlix
