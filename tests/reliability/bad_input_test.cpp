// Bad input, each with a clear outcome: hostile queue rows, a payload folder that cannot be
// written, a full disk, and database files the window cannot use.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "db/message_queue.h"
#include "db/open_database.h"
#include "reliability_support.h"
#include "support/queue_db.h"

namespace parlix::reliability {
namespace {

struct RowCase {
    const char* label;
    Value mobile;
    Value message;
    Value status;
    Value after;           // the row's status once the queue is drained
    std::string received;  // the text the gateway receives; empty when nothing goes out
    std::string number = "9876543210";
};

std::vector<RowCase> hostileRows() {
    const std::string n = "9876543210";
    const std::string longText = "bq-long " + std::string(9992, 'x');
    const std::string sql = "bq-1 It's \"quoted\"; DROP TABLE MessageQueue; --";
    const std::string nul("bq-3 a\0b\0", 9);
    const std::string notUtf8 = std::string("bq-9 ") + '?' + '?' + "?(";
    // clang-format off
    return {
        {"quotes and SQL", n, sql, "Queued", "Sent", sql},
        {"NUL characters", n, nul, "Queued", "Sent", nul},
        {"CR, LF and both", n, "bq-4 a\r\nb\nc\rd\r\n\r\ne", "Queued", "Sent", "bq-4 a~b~c~d~e"},
        {"no-break space", n, "bq-5 a\u00A0b", "Queued", "Sent", "bq-5 a~b"},
        {"emoji", n, "bq-6 hi \U0001F600!", "Queued", "Sent", "bq-6 hi ?!"},
        {"outside the code page", n, "bq-7 \u03A9\u03BC\u03AD\u03B3\u03B1", "Queued", "Sent", "bq-7 ?????"},
        {"inside the code page", n, "bq-8 caf\u00E9 \u20AC \u00FC", "Queued", "Sent", "bq-8 caf\u00E9 \u20AC \u00FC"},
        {"bytes that are not UTF-8", n, "bq-9 \xff\xfe\xc3(", "Queued", "Sent", notUtf8},
        {"10,000 characters", n, longText, "Queued", "Sent", longText},
        {"null text", n, Value(), "Queued", "Discarded", ""},
        {"empty text", n, "", "Queued", "Discarded", ""},
        {"null number", Value(), "bq-10 no number", "Queued", "Discarded", ""},
        {"short number", "12345", "bq-11 short number", "Queued", "Discarded", ""},
        {"a line break in the number", "98765\r\n43210", "bq-12 break", "Queued", "Discarded", ""},
        {"'#' in the number", "98765#43210", "bq-13 hash", "Queued", "Discarded", ""},
        {"very long number", "+" + std::string(40, '1') + "0123456789", "bq-14 long", "Queued", "Sent", "bq-14 long", "0123456789"},
        {"letters for a number", "abcdefghijkl", "bq-15 letters", "Queued", "Sent", "bq-15 letters", "cdefghijkl"},
        {"status in lower case", n, "bq-16 lower", "queued", "Sent", "bq-16 lower"},
        {"null status", n, "bq-18 no status", Value(), Value(), ""},
        {"status with a trailing blank", n, "bq-19 blank", "Queued ", "Queued ", ""},
        {"a status of its own", n, "bq-20 held", "Hold", "Hold", ""},
        {"left taken for sending, lower case", n, "bq-21 read", "read", "Sent", "bq-21 read"},
    };
    // clang-format on
}

using HostileRows = LiveDispatchTest;

TEST_F(HostileRows, EveryOddRowIsSentAsWrittenOrLeftWithAClearStatus) {
    const std::vector<RowCase> cases = hostileRows();
    startLoggedIn("ALPHA", [&](Connection& c) {
        for (const RowCase& rc : cases) {
            c.execute("INSERT INTO MessageQueue (Mobileno, Message, Status) VALUES (?, ?, ?)",
                      {rc.mobile, rc.message, rc.status});
        }
    });
    EXPECT_EQ(drain(), 1);
    std::map<std::string, test::JsonValue> byText;
    for (const test::JsonValue& m : sim.messages().array()) {
        byText[m["text"].str()] = m;
    }
    size_t sent = 0;
    for (size_t i = 0; i < cases.size(); ++i) {
        const RowCase& rc = cases[i];
        SCOPED_TRACE(rc.label);
        auto row = test::query(*db, "select * from MessageQueue where ID=?",
                               {static_cast<std::int64_t>(i + 1)})
                       .at(0);
        EXPECT_EQ(row["Status"], rc.after);
        EXPECT_EQ(row["Message"], rc.message) << "the row's text was changed";
        if (rc.received.empty()) {
            EXPECT_TRUE(row["MessageID"].isNull());
            continue;
        }
        ++sent;
        ASSERT_EQ(byText.count(rc.received), 1u) << "the gateway did not receive the text";
        EXPECT_EQ(byText[rc.received]["number"].str(), rc.number);
        EXPECT_EQ(byText[rc.received]["messageId"].str(), row["MessageID"].toText());
    }
    EXPECT_EQ(byText.size(), sent);
    // 10,000 characters are five parts; every other sent message one.
    EXPECT_EQ(sim.debits().at(0)["parts"].num(), static_cast<long long>(sent) - 1 + 5);
}

using PayloadFolder = LiveDispatchTest;

TEST_F(PayloadFolder, APayloadFileThatCannotBeWrittenKeepsTheRowsQueued) {
    startLoggedIn();
    enqueue("folder-", 20);
    const auto pending = fx.programDir / "SMS/Pending";
    // A file where the folder should be, then a folder where the payload file should be.
    test::writeFile(fx.programDir / "SMS", "in the way");
    tick();
    std::filesystem::remove(fx.programDir / "SMS");
    std::filesystem::create_directories(pending / "demo_NWT.SMS");
    tick();
    std::filesystem::remove(pending / "demo_NWT.SMS");
    EXPECT_EQ(logged("Dispatch error: "), 2);
    EXPECT_EQ(rowsWith("Queued"), 20);
    EXPECT_TRUE(sim.messages().array().empty());
    EXPECT_EQ(drain(1), 1);
    EXPECT_EQ(auditOf("folder-").receivedDistinct, 20);
}

using FullDisk = LiveDispatchTest;

TEST_F(FullDisk, FailsTheTickCleanlyAndSendingResumesOnceThereIsRoom) {
    const std::string folder = fx.programDir.str();
    if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=2m,mode=0700") != 0) {
        GTEST_SKIP() << "a small tmpfs cannot be mounted here: " << std::strerror(errno);
    }
    struct Unmount {
        std::string folder;
        // Lazily: the program still holds the database open when the test ends.
        ~Unmount() { ::umount2(folder.c_str(), MNT_DETACH); }
    } unmount{folder};
    startLoggedIn();
    enqueue("full-", 200, 100);
    std::ofstream(folder + "/filler") << std::string(4 << 20, 'f');  // more than there is room for
    for (int i = 0; i < 3; ++i) {
        tick();
    }
    EXPECT_GE(logged("Dispatch error: "), 1);
    EXPECT_EQ(logged("could not be settled"), 0);
    EXPECT_TRUE(sim.messages().array().empty());

    std::filesystem::remove(folder + "/filler");
    EXPECT_EQ(drain(2), 1);
    const Audit a = auditOf("full-");
    EXPECT_EQ(a.status("Sent"), 200);
    EXPECT_EQ(a.receivedDistinct, 200);
    EXPECT_EQ(a.duplicates, 0);
    EXPECT_EQ(integrityOf(folder + "/SMSDB.MDB"), "ok");
}

TEST(UnusableDatabase, ACorruptFileOrAnotherPasswordFailsTheLoadAndIsNeverChanged) {
    const std::string whole = databaseBytes(kDatabasePassword, 500);
    for (const auto& [label, bytes] :
         {std::pair{"not a database", std::string(65536, 'Z')},
          std::pair{"another password", databaseBytes("other", 1)},
          std::pair{"cut to half", whole.substr(0, whole.size() / 2)}}) {
        SCOPED_TRACE(label);
        test::AppFixture fx;
        test::writeFile(fx.programDir / "SMSDB.MDB", bytes);
        fx.start();
        ASSERT_TRUE(fx.load());
        FormModel& f = fx.form();
        f.setText("txtUserId", "demo");
        f.smsBalance = 10;
        f.fire("SendMessage", Event::Timer);
        EXPECT_TRUE(f.enabled("SendMessage"));
        const std::string log = f.text("txt_msg");
        EXPECT_NE(log.find("DatabaseLoad: Fail"), std::string::npos) << log;
        EXPECT_NE(log.find("Dispatch error: "), std::string::npos) << log;
        EXPECT_THROW(f.fire("cmdexit2", Event::Click), test::ProgramEnded);
        EXPECT_EQ(test::readFile(fx.programDir / "SMSDB.MDB"), bytes);
    }
}

}  // namespace
}  // namespace parlix::reliability
