#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <tuple>

#include "base/failure.h"
#include "base/text.h"
#include "support/fakes.h"
#include "support/sys_fakes.h"
#include "support/temp_dir.h"
#include "sys/instance_count.h"
#include "sys/ip_address.h"
#include "sys/registry_keys.h"
#include "sys/registry_store.h"
#include "sys/settings_store.h"

namespace parlix {
namespace {

const std::string kKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\ZENTROCA\\VardexServer";

unsigned modeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
}

class RegistryTest : public ::testing::Test {
protected:
    test::TempDir dir;
    test::FakeUi ui;
    RegistryStore store{dir.str() + "/registry.dat"};
    RegistryKeys reg{store, ui};
};

// Reads give empty text whatever fails and writes need an existing key; the result code of the
// last call says why. A path of the wrong form shows a box and touches nothing.
TEST_F(RegistryTest, StringValuesByKeyPath) {
    reg.WriteRegString(kKey, "UserId", "alice");
    EXPECT_EQ(reg.lastResult(), kRegFileNotFound);
    reg.CreateRegKey(kKey);
    reg.WriteRegString(kKey, "UserId", "alice");
    reg.CreateRegKey(kKey);  // an existing key keeps its values
    reg.WriteRegString(kKey, "Fits", std::string(254, 'x'));
    reg.WriteRegString(kKey, "TooLong", std::string(255, 'x'));
    reg.WriteRegString("HKEY_DYN_DATA", "AtRoot", "r");  // the last root there is
    const std::tuple<std::string, const char*, std::string, long> reads[] = {
        {"HKEY_LOCAL_MACHINE\\software\\zentroca\\VARDEXSERVER", "userid", "alice", kRegOk},
        {kKey, "Nothing", "", kRegOk},
        {kKey, "Fits", std::string(254, 'x'), kRegOk},
        {kKey, "TooLong", "", kRegOk},
        {kKey + "\\Missing", "UserId", "", kRegFileNotFound},
        {"HKEY_DYN_DATA", "AtRoot", "r", kRegOk},
        {"HKEY_USERS", "AtRoot", "", kRegOk}};
    for (const auto& [path, name, value, result] : reads) {
        EXPECT_EQ(reg.ReadRegValue(path, name), value) << path << name;
        EXPECT_EQ(reg.lastResult(), result) << path << name;
    }
    const std::string content = test::readFile(store.filePath());
    EXPECT_NE(content.find("[HKEY_DYN_DATA]\n\"AtRoot\"=1:7200\n"), std::string::npos);
    EXPECT_EQ(modeOf(store.filePath()), 0600u);
    // An unknown root is no wrong form: nothing happens, and no box shows.
    for (const std::string& bad : {std::string("hkey_local_machine\\SOFTWARE\\X"), kKey + "\\",
                                   std::string("SOFTWARE\\X"), std::string("HKEY_NOWHERE\\X")}) {
        ui.boxes.clear();
        reg.CreateRegKey(bad);
        reg.WriteRegString(bad, "UserId", "b");
        EXPECT_EQ(reg.ReadRegValue(bad, "UserId"), "");
        EXPECT_EQ(ui.boxes.size(), bad[5] == 'N' ? 0u : 3u) << bad;
        EXPECT_EQ(ui.boxes.empty() ? "" : ui.boxes[0].text,
                  bad[5] == 'N' ? "" : "Incorrect Format:\n\n" + bad);
    }
    EXPECT_EQ(test::readFile(store.filePath()), content);
}

// Strings and 32-bit numbers, read back through a new store on the file, names in any case.
TEST_F(RegistryTest, TypedValuesRoundTripThroughTheFileUnderExistingKeysOnly) {
    const std::uint32_t lm = kHkeyLocalMachine;
    ASSERT_EQ(store.ensureKey(lm, "\\SOFTWARE\\\\X\\"), kRegOk);
    const std::string x = "SOFTWARE\\X";
    EXPECT_EQ(store.setString(lm, x, "Te\"x\\t", "alice") + store.setString(lm, x, "Empty", "") +
                  store.setString(lm, x, "Nul", std::string("a\0b", 3)) +
                  store.setNumber(lm, x, "Bytes", 0x12345678u) + store.setString(lm, "", "R", "r"),
              kRegOk);
    EXPECT_EQ(store.setString(lm, "SOFTWARE\\Missing", "T", "x"), kRegFileNotFound);
    EXPECT_EQ(store.setNumber(lm, "SOFTWARE\\Missing", "N", 1), kRegFileNotFound);
    EXPECT_EQ(store.setString(0, "", "NoRoot", "x"), kRegInvalidHandle);
    RegistryStore reread(store.filePath());
    auto text = [&](const std::string& key, const char* name) {
        return reread.getString(lm, toLower(key), toUpper(name)).value_or("none");
    };
    EXPECT_EQ(text(x, "te\"x\\t") + "|" + text(x, "Empty") + "|" + text(x, "Nul") + "|" +
                  text("", "r") + "|" + text(x, "Bytes") + "|" + text("SOFTWARE\\Missing", "T"),
              "alice||a|r|none|none");
    EXPECT_EQ(reread.getNumber(lm, "software\\x", "BYTES"), 0x12345678u);
    EXPECT_EQ(reread.getNumber(lm, x, "Empty"), std::nullopt);

    test::writeFile(store.filePath(), "[HKEY_USERS\\K]\n\"s\"=1:6a4B00\n\"n\"=4:0a0B0c0D\n");
    EXPECT_EQ(store.getString(kHkeyUsers, "K", "s"), "jK");  // written by hand, in any case
    EXPECT_EQ(store.getNumber(kHkeyUsers, "K", "n"), 0x0D0C0B0Au);

    std::uint32_t key = 0;
    std::uint32_t type = 0;
    std::string data;
    EXPECT_EQ(store.createKey(kHkeyUsers, "K\\New", &key), kRegOk);
    EXPECT_EQ(store.setValue(key, "v", kRegSz, "abc"), kRegOk);
    EXPECT_EQ(store.queryValue(key, "V", &type, &data, 2), kRegMoreData);
    EXPECT_EQ(store.queryValue(key, "V", nullptr, &data, 3) + type, kRegSz);
    EXPECT_EQ(data, "abc");
    EXPECT_EQ(store.closeKey(key), kRegOk);
    for (long rc : {store.closeKey(key), store.setValue(key, "v", kRegSz, ""),
                    store.queryValue(key, "v", &type, &data, 9), store.openKey(0, "K", 0, &key),
                    store.createKey(0, "K", &key), store.ensureKey(0, "K")}) {
        EXPECT_EQ(rc, kRegInvalidHandle);
    }
}

TEST_F(RegistryTest, ACorruptOrUnwritableFileFailsEveryCallAndIsNeverRewritten) {
    const std::string good = "[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\"a\"=1:6200\n";
    std::vector<std::string> contents = {"\"a\"=1:6200\n" + good};  // a value before any key
    for (const char* bad :
         {"garbage", "\"b\"=1:0G", "\"b\"=1:0", "\"b\"=x:00", "\"b\"=1x:00", "\"b\"=:00",
          "\"b\"=4294967296:00", "\"b\"1:00", "\"b\"x1:00", "\"b\"=100", "\"b"}) {
        contents.push_back(good + bad + "\n");
    }
    for (const std::string& content : contents) {
        test::writeFile(store.filePath(), content);
        EXPECT_EQ(reg.ReadRegValue("HKEY_LOCAL_MACHINE\\SOFTWARE", "a"), "") << content;
        const long read = reg.lastResult();
        reg.CreateRegKey(kKey);
        const long created = reg.lastResult();
        reg.WriteRegString("HKEY_LOCAL_MACHINE", "a", "c");
        EXPECT_EQ(std::vector<long>({read, created, reg.lastResult(),
                                     store.setNumber(kHkeyLocalMachine, "SOFTWARE", "a", 1)}),
                  std::vector<long>(4, kRegBadDb))
            << content;
        EXPECT_FALSE(store.getString(kHkeyLocalMachine, "SOFTWARE", "a") || store.check());
        EXPECT_EQ(test::readFile(store.filePath()), content);
    }
    std::filesystem::remove(store.filePath());
    EXPECT_TRUE(store.check());
    std::filesystem::create_directory(store.filePath());  // cannot be read
    EXPECT_EQ(store.check().error().code, kRegBadDb);
    std::filesystem::remove(store.filePath());
    bool writable = true;
    RegistryStore guarded(store.filePath(), [&](const std::string& path, const std::string& text) {
        if (!writable) {
            throw FileError(13, "read-only");
        }
        test::writeFile(path, text);
    });
    RegistryKeys keys(guarded, ui);
    keys.CreateRegKey(kKey);
    keys.WriteRegString(kKey, "UserId", "old");
    writable = false;
    keys.WriteRegString(kKey, "UserId", "new");
    EXPECT_EQ(keys.lastResult(), kRegAccessDenied);
    EXPECT_EQ(keys.ReadRegValue(kKey, "UserId"), "old");
    EXPECT_TRUE(ui.boxes.empty());
}

TEST(SettingsStore, TextsBySectionAndKeyWithoutCaseInOneFilePerApplication) {
    test::TempDir dir;
    SettingsStore settings(dir.str() + "/sub");
    const std::string file = settings.filePath("App");
    EXPECT_EQ(settings.GetSetting("App", "S", "K", "dflt"), "dflt");
    EXPECT_TRUE(settings.check("App"));
    ASSERT_TRUE(settings.SaveSetting("App", "PARLIX", "NO", "1") &&
                settings.SaveSetting("App", "parlix", "no", "9") &&
                settings.SaveSetting("App", "Proxy", "Password", "a\\b\r\nc="));
    EXPECT_EQ(settings.GetSetting("App", "Parlix", "No") + "|" +
                  settings.GetSetting("App", "PROXY", "password") + "|" +
                  settings.GetSetting("App", "Proxy", "Other", "d"),
              "9|a\\b\r\nc=|d");
    EXPECT_EQ(test::readFile(file), "[PARLIX]\nNO=9\n[Proxy]\nPassword=a\\\\b\\r\\nc=\n");
    EXPECT_EQ(modeOf(file), 0600u);
    test::writeFile(file, "; note\r\n[S]\r\nK=v\r\nstray\n[T]\nK=w\n");
    EXPECT_EQ(settings.GetSetting("App", "S", "K") + settings.GetSetting("App", "T", "K"), "vw");
    EXPECT_EQ(settings.check("App").error().message,
              file + " line 4 is not a section or a setting");
    test::writeFile(file, "orphan=1\n[S]\nK=v\n");
    EXPECT_EQ(settings.check("App").error().message,
              file + " line 1 is not a section or a setting");
    std::filesystem::remove(file);
    std::filesystem::create_directory(file);  // cannot be read
    EXPECT_EQ(settings.GetSetting("App", "S", "K", "d"), "d");
    EXPECT_FALSE(settings.SaveSetting("App", "S", "K", "v"));
    EXPECT_EQ(settings.check("App").error().code, EISDIR);
    SettingsStore readOnly(dir.str(), [](const std::string&, const std::string&) {
        throw FileError(13, "read-only");
    });
    EXPECT_FALSE(readOnly.SaveSetting("Other", "S", "K", "v"));
    ::setenv("XDG_CONFIG_HOME", "/xdg", 1);
    EXPECT_EQ(SettingsStore::defaultFolder(), "/xdg/parlix");
    ::setenv("XDG_CONFIG_HOME", "", 1);
    ::setenv("HOME", "/home/x", 1);
    EXPECT_EQ(SettingsStore::defaultFolder(), "/home/x/.config/parlix");
    ::unsetenv("XDG_CONFIG_HOME");
}

std::vector<ProcessEntry> tableOf(const std::vector<std::string>& names) {
    std::vector<ProcessEntry> table;
    for (const std::string& name : names) {
        table.push_back({static_cast<std::uint32_t>(100 + table.size()), name});
    }
    return table;
}

TEST(RunningInstances, CountsEveryProcessThatLooksLikeACopy) {
    const std::tuple<const char*, std::vector<std::string>, double> cases[] = {
        {"Parlix", {"Parlix.exe", "bash", "init"}, 1},
        {"Parlix", {"Parlix.exe", "bash", "PARLIX.EXE"}, 2},
        {"parlix", {"parlix", "sshd"}, 1},                         // without extension, as on Linux
        {"Sender", {"parlix2.exe", "PaRLiXAgent", "xparlix"}, 2},  // the product's prefix
        {"Sender", {"sender.EXE", "Sender2.exe"}, 1},
        {"Sender", {std::string("Sender.exe\0junk", 15)}, 1},  // cut at its NUL
        {"ZentrocaGatewaySender",
         {"ZentrocaGatewayX.exe", "zentrocagateway", "ZentrocaGatewa.exe"},
         2},
        {"", {""}, 0}};
    for (const auto& [ownName, images, expected] : cases) {
        test::FakeProcessTable table;
        table.entries = tableOf(images);
        EXPECT_EQ(InstanceCount(table, ownName).CountRunningInstances(), expected) << images[0];
    }
    test::FakeProcessTable table;
    table.entries = tableOf({"Parlix.exe", "Parlix.exe"});
    table.ended = {101};  // ended before its row was read
    InstanceCount processes(table, "Parlix");
    EXPECT_EQ(processes.CountRunningInstances(), 1);
    std::vector<std::uint32_t> ids{7, 8};
    processes.ListProcessIds(ids);
    EXPECT_EQ(ids, (std::vector<std::uint32_t>{100, 101}));
    for (bool readable : {true, false}) {  // no processes, or a table that cannot be read
        table.entries = readable ? std::optional(std::vector<ProcessEntry>{}) : std::nullopt;
        processes.ListProcessIds(ids);
        EXPECT_EQ(ids, std::vector<std::uint32_t>{0});
        EXPECT_EQ(processes.CountRunningInstances(), 0);
    }
    EXPECT_EQ(programNameFromExecutable("/opt/x/Parlix.EXE") + programNameFromExecutable(".exe") +
                  programNameFromExecutable("/usr/bin/parlix-1.2"),
              "Parlix.exeparlix-1.2");
}

TEST(RunningInstances, TheProcessTableNamesProcessesByExecutableElseCommandName) {
    test::TempDir proc;
    for (const char* folder : {"12", "2", "3", "self"}) {  // 3 ends before it is read
        std::filesystem::create_directories(proc / folder);
    }
    std::filesystem::create_symlink("/usr/lib/parlix/Parlix (deleted)", proc / "12" / "exe");
    test::writeFile(proc / "2" / "comm", "kthreadd\n");
    test::writeFile(proc / "self" / "comm", "x\n");
    ProcProcessTable table(proc.path());
    auto entries = table.snapshot().value();
    std::sort(entries.begin(), entries.end(),
              [](const ProcessEntry& a, const ProcessEntry& b) { return a.id < b.id; });
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].imageName + "," + entries[1].imageName, "kthreadd,Parlix");
    EXPECT_FALSE(table.entryOf(13) || ProcProcessTable(proc / "missing").snapshot());
    ProcProcessTable real;
    const std::string own = programNameFromExecutable(currentExecutablePath());
    InstanceCount processes(real, own);
    EXPECT_EQ(processes.ProcessNameById(static_cast<std::uint32_t>(::getpid())), own);
    EXPECT_EQ(processes.ProcessNameById(0), "");
    EXPECT_GE(processes.CountRunningInstances(), 1);  // other test programs may run alongside
}

// Every address with a comma, last table entry first; none when the table does not fit.
TEST(LocalIpList, ListsTheTableLastEntryFirstEachWithAComma) {
    std::vector<Ipv4Address> hosts;
    std::string twentyOne;  // the first 21 hosts' list
    for (int i = 1; i <= 300; ++i) {
        hosts.push_back({10, 0, 0, static_cast<std::uint8_t>(i)});
        twentyOne.insert(0, i <= 21 ? "10.0.0." + std::to_string(i) + "," : "");
    }
    auto first = [&](int count) { return std::vector(hosts.begin(), hosts.begin() + count); };
    const std::pair<std::optional<std::vector<Ipv4Address>>, std::string> cases[] = {
        {std::vector<Ipv4Address>{{10, 0, 0, 2}, {127, 0, 0, 1}, {255, 0, 9, 100}},
         "255.0.9.100,127.0.0.1,10.0.0.2,"},
        {first(21), twentyOne},
        {first(22), ""},
        {hosts, ""},
        {std::vector<Ipv4Address>{}, ""},
        {std::nullopt, ""}};
    for (const auto& [addresses, text] : cases) {
        test::FakeIpv4Table table;
        table.table = addresses;
        EXPECT_EQ(IPAddress(table).GetLocalIpList(), text);
    }
    IfaddrsIpv4Table machine;
    auto addresses = machine.addresses().value();
    EXPECT_TRUE(std::is_sorted(addresses.begin(), addresses.end()));
    EXPECT_NE(IPAddress(machine).GetLocalIpList().find("127.0.0.1,"), std::string::npos);
}

}  // namespace
}  // namespace parlix
