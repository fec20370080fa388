#include <gtest/gtest.h>

#include <sys/stat.h>

#include <optional>
#include <variant>
#include <vector>

#include "base/failure.h"
#include "base/text.h"
#include "support//fakes.h"
#include "support/temp_dir.h"
#include "sys/registry_keys.h"
#include "sys/registry_store.h"

namespace parlix {
namespace {

const std::string kKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\ZENTROCA\\VardexServer";

class RegKeysTest : public ::testing::Test {
protected:
    test::TempDir dir;
    test::FakeUi ui;
    RegistryStore store{dir.str() + "/registry.dat"};
    RegistryKeys reg{store, ui};
};

TEST_F(RegKeysTest, WriteNeedsAnExistingKeyAndFailedReadsGiveEmptyText) {
    reg.WriteRegString(kKey, "UserId", "alice");
    EXPECT_EQ(reg.ReadRegValue(kKey, "UserId"), "");  // no key
    reg.CreateRegKey(kKey);
    reg.WriteRegString(kKey, "UserId", "alice");
    EXPECT_EQ(reg.ReadRegValue(kKey, "UserId"), "alice");
    EXPECT_EQ(reg.ReadRegValue(kKey, "userid"), "alice");  // names match without case
    EXPECT_EQ(reg.ReadRegValue("HKEY_LOCAL_MACHINE\\software\\zentroca\\VARDEXSERVER", "UserId"),
              "alice");
    reg.CreateRegKey(kKey);  // an existing key keeps its values
    EXPECT_EQ(reg.ReadRegValue(kKey, "UserId"), "alice");
    EXPECT_EQ(reg.ReadRegValue(kKey, "Nothing"), "");  // no value
    reg.WriteRegString(kKey, "Empty", "");
    EXPECT_EQ(reg.ReadRegValue(kKey, "Empty"), "");
    reg.WriteRegString(kKey, "Fits", std::string(254, 'x'));
    EXPECT_EQ(reg.ReadRegValue(kKey, "Fits").size(), 254u);
    reg.WriteRegString(kKey, "TooLong", std::string(255, 'x'));
    EXPECT_EQ(reg.ReadRegValue(kKey, "TooLong"), "");
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(RegKeysTest, ValuesSurviveANewStoreOnTheSameFile) {
    reg.CreateRegKey(kKey);
    reg.WriteRegString(kKey, "PassWord", "p\"a\\ss=word;");
    RegistryStore reopened(store.filePath());
    RegistryKeys again(reopened, ui);
    EXPECT_EQ(again.ReadRegValue(kKey, "PassWord"), "p\"a\\ss=word;");
    struct stat st {};
    ASSERT_EQ(::stat(store.filePath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(RegKeysTest, MalformedPathsShowOneBoxAndTouchNothing) {
    for (const std::string& bad : {std::string("hkey_local_machine\\SOFTWARE\\X"), kKey + "\\"}) {
        SCOPED_TRACE(bad);
        ui.boxes.clear();
        reg.CreateRegKey(bad);
        reg.WriteRegString(bad, "a", "b");
        EXPECT_EQ(reg.ReadRegValue(bad, "a"), "");
        ASSERT_EQ(ui.boxes.size(), 3u);
        EXPECT_EQ(ui.boxes[0].text, "Incorrect Format:\n\n" + bad);
        EXPECT_EQ(ui.boxes[0].title, "Parlix");
    }
    EXPECT_EQ(test::readFile(store.filePath()), "");
}

TEST_F(RegKeysTest, UnknownRootDoesNothing) {
    reg.CreateRegKey("HKEY_NOWHERE\\SOFTWARE\\X");
    reg.WriteRegString("HKEY_NOWHERE\\SOFTWARE\\X", "a", "b");
    EXPECT_EQ(reg.ReadRegValue("HKEY_NOWHERE\\SOFTWARE\\X", "a"), "");
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ(reg.lastResult(), kRegOk);  // untouched
    EXPECT_EQ(RegistryKeys::HiveFromName("HKEY_LOCAL_MACHINE"), 0x80000002u);
    EXPECT_EQ(RegistryKeys::HiveFromName("HKEY_DYN_DATA"), 0x80000006u);
    EXPECT_EQ(RegistryKeys::HiveFromName("hkey_local_machine"), 0u);
}

TEST_F(RegKeysTest, SplitKeyPathSeparatesRootAndSubKey) {
    std::string path = kKey;
    std::uint32_t root = 0;
    EXPECT_TRUE(reg.SplitKeyPath(path, root));
    EXPECT_EQ(root, kHkeyLocalMachine);
    EXPECT_EQ(path, "SOFTWARE\\ZENTROCA\\VardexServer");
    path = "HKEY_USERS";
    EXPECT_TRUE(reg.SplitKeyPath(path, root));
    EXPECT_EQ(root, kHkeyUsers);
    EXPECT_EQ(path, "");
}

TEST_F(RegKeysTest, TypedValuesRoundTripUnderExistingKeysOnly) {
    const std::uint32_t hklm = kHkeyLocalMachine;
    ASSERT_EQ(store.ensureKey(hklm, "SOFTWARE\\X"), kRegOk);
    const struct {
        std::uint32_t root;
        std::string key, name;
        std::variant<std::string, std::uint32_t> value;
        long rc;
        std::optional<std::string> text;  // read back both ways, names in another case
        std::optional<std::uint32_t> number;
    } cases[] = {
        {hklm, "SOFTWARE\\X", "Te\"x\\t", "alice", kRegOk, "alice", {}},
        {hklm, "SOFTWARE\\X", "Empty", "", kRegOk, "", {}},
        {hklm, "SOFTWARE\\X", "Nul", std::string("a\0b", 3), kRegOk, "a", {}},
        {hklm, "SOFTWARE\\X", "Zero", 0u, kRegOk, {}, 0u},
        {hklm, "SOFTWARE\\X", "Bytes", 0x12345678u, kRegOk, {}, 0x12345678u},
        {hklm, "SOFTWARE\\X", "Max", 0xFFFFFFFFu, kRegOk, {}, 0xFFFFFFFFu},
        {hklm, "", "AtRoot", "r", kRegOk, "r", {}},
        {hklm, "SOFTWARE\\Missing", "Text", "x", kRegFileNotFound, {}, {}},
        {hklm, "SOFTWARE\\Missing", "Number", 1u, kRegFileNotFound, {}, {}},
        {0, "", "NoRoot", "x", kRegInvalidHandle, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto* text = std::get_if<std::string>(&c.value);
        EXPECT_EQ(text ? store.setString(c.root, c.key, c.name, *text)
                       : store.setNumber(c.root, c.key, c.name, std::get<std::uint32_t>(c.value)),
                  c.rc);
        EXPECT_EQ(store.getString(c.root, toLower(c.key), toUpper(c.name)), c.text);
        EXPECT_EQ(store.getNumber(c.root, toUpper(c.key), toLower(c.name)), c.number);
    }
    EXPECT_EQ(store.getString(hklm, "SOFTWARE\\X", "Absent"), std::nullopt);
}

TEST(RegistryStoreFaults, AFailedWriteIsSilentAndKeepsTheOldValue) {
    test::TempDir dir;
    test::FakeUi ui;
    bool allowWrites = true;
    RegistryStore store(dir.str() + "/registry.dat",
                        [&](const std::string& path, const std::string& content) {
                            if (!allowWrites) {
                                throw FileError(13, "read-only");
                            }
                            test::writeFile(path, content);
                        });
    RegistryKeys reg(store, ui);
    reg.CreateRegKey(kKey);
    reg.WriteRegString(kKey, "UserId", "old");
    allowWrites = false;
    reg.WriteRegString(kKey, "UserId", "new");
    EXPECT_EQ(reg.lastResult(), kRegAccessDenied);
    EXPECT_EQ(reg.ReadRegValue(kKey, "UserId"), "old");
    EXPECT_TRUE(ui.boxes.empty());
}

TEST(RegistryStoreFaults, ACorruptFileFailsEveryCallAndIsNeverRewritten) {
    test::TempDir dir;
    test::FakeUi ui;
    const std::string path = dir.str() + "/registry.dat";
    const std::string good = "[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\"a\"=1:6200\n";
    std::vector<std::string> contents = {"\"a\"=1:6200\n" + good};  // a value before any key
    // Junk, bad or odd hex, bad type numbers, no '=', no ':', an unterminated name.
    for (const char* bad : {"garbage", "\"b\"=1:0G", "\"b\"=1:0", "\"b\"=x:00", "\"b\"=1x:00",
                            "\"b\"=:00", "\"b\"=4294967296:00", "\"b\"1:00", "\"b\"=100", "\"b"}) {
        contents.push_back(good + bad + "\n");
    }
    for (const std::string& content : contents) {
        SCOPED_TRACE(content);
        test::writeFile(path, content);
        RegistryStore store(path);
        RegistryKeys reg(store, ui);
        EXPECT_EQ(reg.ReadRegValue("HKEY_LOCAL_MACHINE\\SOFTWARE", "a"), "");
        EXPECT_EQ(reg.lastResult(), kRegBadDb);
        reg.CreateRegKey(kKey);
        EXPECT_EQ(reg.lastResult(), kRegBadDb);
        reg.WriteRegString("HKEY_LOCAL_MACHINE", "a", "c");
        EXPECT_EQ(reg.lastResult(), kRegBadDb);
        EXPECT_EQ(store.getString(kHkeyLocalMachine, "SOFTWARE", "a"), std::nullopt);
        EXPECT_EQ(store.getNumber(kHkeyLocalMachine, "SOFTWARE", "a"), std::nullopt);
        EXPECT_EQ(store.setNumber(kHkeyLocalMachine, "SOFTWARE", "a", 1), kRegBadDb);
        EXPECT_EQ(test::readFile(path), content);
    }
    EXPECT_TRUE(ui.boxes.empty());
}

}  // namespace
}  // namespace parlix
