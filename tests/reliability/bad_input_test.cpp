// Bad input, each with a clear outcome: hostile queue rows, gateway replies that make no sense,
// a payload folder that cannot be written, a full disk, and database files the window cannot use.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "db/message_queue.h"
#include "db/open_database.h"
#include "reliability_support.h"
#include "support/queue_db.h"
#include "transport/curl_http_client.h"
#include "transport/gateway_url.h"

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
    const std::string longText = "bq-long " + std::string(9992, 'x');
    const std::string sql = "bq-1 It's \"quoted\"; DROP TABLE MessageQueue; --";
    const std::string keywords = "bq-2 SELECT * FROM MessageQueue WHERE Status='Queued' OR 1=1";
    const std::string nul("bq-3 a\0b\0", 9);
    return {
        {"quotes and SQL", "9876543210", sql, "Queued", "Sent", sql},
        {"SQL keywords", "9876543210", keywords, "Queued", "Sent", keywords},
        {"NUL characters", "9876543210", nul, "Queued", "Sent", nul},
        {"CR, LF and both", "9876543210", "bq-4 a\r\nb\nc\rd\r\n\r\ne", "Queued", "Sent",
         "bq-4 a~b~c~d~e"},
        {"no-break space", "9876543210", "bq-5 a\u00A0b", "Queued", "Sent", "bq-5 a~b"},
        {"emoji", "9876543210", "bq-6 hi \U0001F600!", "Queued", "Sent", "bq-6 hi ?!"},
        {"outside the code page", "9876543210", "bq-7 \u03A9\u03BC\u03AD\u03B3\u03B1", "Queued",
         "Sent", "bq-7 ?????"},
        {"inside the code page", "9876543210", "bq-8 caf\u00E9 \u20AC \u00FC", "Queued", "Sent",
         "bq-8 caf\u00E9 \u20AC \u00FC"},
        {"bytes that are not UTF-8", "9876543210", "bq-9 \xff\xfe\xc3(", "Queued", "Sent",
         "bq-9 ?"
         "?"
         "?("},
        {"10,000 characters", "9876543210", longText, "Queued", "Sent", longText},
        {"null text", "9876543210", Value(), "Queued", "Discarded", ""},
        {"empty text", "9876543210", "", "Queued", "Discarded", ""},
        {"null number", Value(), "bq-10 no number", "Queued", "Discarded", ""},
        {"short number", "12345", "bq-11 short number", "Queued", "Discarded", ""},
        {"a line break in the number", "98765\r\n43210", "bq-12 break", "Queued", "Discarded", ""},
        {"'#' in the number", "98765#43210", "bq-13 hash", "Queued", "Discarded", ""},
        {"very long number", "+" + std::string(40, '1') + "0123456789", "bq-14 long number",
         "Queued", "Sent", "bq-14 long number", "0123456789"},
        {"letters for a number", "abcdefghijkl", "bq-15 letters", "Queued", "Sent", "bq-15 letters",
         "cdefghijkl"},
        {"status in lower case", "9876543210", "bq-16 lower", "queued", "Sent", "bq-16 lower"},
        {"status in upper case", "9876543210", "bq-17 upper", "QUEUED", "Sent", "bq-17 upper"},
        {"null status", "9876543210", "bq-18 no status", Value(), Value(), ""},
        {"status with a trailing blank", "9876543210", "bq-19 blank", "Queued ", "Queued ", ""},
        {"a status of its own", "9876543210", "bq-20 held", "Hold", "Hold", ""},
        {"left taken for sending, lower case", "9876543210", "bq-21 read", "read", "Sent",
         "bq-21 read"},
    };
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

std::string junk(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s) {
        c = static_cast<char>(1 + rng() % 255);
    }
    return s;
}

using HostileReplies = LiveDispatchTest;

TEST_F(HostileReplies, LoginAndCheckRepliesThatMakeNoSenseEndInAClearOutcome) {
    startLoggedIn();
    auto everyServer = [&](const std::string& query) {
        for (int server = 1; server <= 5; ++server) {
            sim.setFaults("server=" + std::to_string(server) + "&" + query);
        }
    };
    auto enc = [](const std::string& s) { return encodeQueryValue(s); };
    auto connect = [&] {
        f().setEnabled("cmdConnect2", true);
        log.clear();
        f().fire("cmdConnect2", Event::Click);
    };

    // A login reply of many fields: the first five count.
    std::string many = "logonyes||75||NO||||ALPHA";
    for (int i = 0; i < 600; ++i) {
        many += "||f";
    }
    everyServer("path=/Parlix/Logonchks.asp&reply=" + enc(many));
    connect();
    EXPECT_TRUE(f().loginOk);
    EXPECT_EQ(f().smsBalance, 75);
    EXPECT_EQ(f().text("TXT_SENDERID"), "ALPHA");

    // Junk, and a good reply grown past what the client takes, are failed logins.
    for (const auto& [reply, bytes] : {std::pair{junk(500, 7), size_t{65536}},
                                       std::pair{std::string("logonyes||75||NO||||ALPHA"),
                                                 CurlHttpClient::kMaxReplyBytes + 1}}) {
        everyServer("path=/Parlix/Logonchks.asp&reply=" + enc(reply) +
                    "&reply_bytes=" + std::to_string(bytes));
        connect();
        EXPECT_FALSE(f().loginOk);
        EXPECT_EQ(logged("Login: Fail!"), 1);
        EXPECT_EQ(f().smsBalance, 0);
        EXPECT_FALSE(f().enabled("SendMessage"));
        EXPECT_TRUE(f().enabled("cmdConnect2"));
    }

    // Junk from the server check is kept whole for diagnosis.
    const std::string checkJunk = junk(1000, 11);
    everyServer("check_reply=" + enc(checkJunk));
    connect();
    EXPECT_EQ(logged("Server: NOT Connected"), 1);
    EXPECT_EQ(test::readFile(fx.programDir / "LastErr.txt"), checkJunk);
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
    int fd = ::open((folder + "/filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    const std::string block(4096, 'f');
    while (fd >= 0 && ::write(fd, block.data(), block.size()) > 0) {
    }
    ::close(fd);
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
    const std::vector<std::pair<const char*, std::function<void(test::AppFixture&)>>> cases = {
        {"random bytes",
         [](test::AppFixture& fx) {
             test::writeFile(fx.programDir / "SMSDB.MDB", junk(65536, 5));
         }},
        {"another password",
         [](test::AppFixture& fx) {
             auto other = createDatabaseFile(fx.programDir.str() + "/SMSDB.MDB", "other");
             MessageQueue(*other).createTables();
             test::enqueue(*other, "9876543210", "kept");
         }},
        {"cut to half its length",
         [](test::AppFixture& fx) {
             {
                 auto db = fx.makeDatabase();
                 std::mt19937_64 rng(1);
                 enqueueAll(*db, uniqueTexts("half-", 2000, 200, rng));
                 db->execute("PRAGMA wal_checkpoint(TRUNCATE)");
             }
             const auto path = fx.programDir / "SMSDB.MDB";
             std::filesystem::resize_file(path, std::filesystem::file_size(path) / 2);
         }},
    };
    for (const auto& [label, spoil] : cases) {
        SCOPED_TRACE(label);
        test::AppFixture fx;
        spoil(fx);
        const std::string before = test::readFile(fx.programDir / "SMSDB.MDB");
        fx.start();
        ASSERT_TRUE(fx.load());
        auto logs = [&](const std::string& entry) {
            const auto lines = fx.logLines();
            return std::any_of(lines.begin(), lines.end(),
                               [&](const std::string& l) { return l.rfind(entry, 0) == 0; });
        };
        EXPECT_TRUE(logs("DatabaseLoad: Fail"));
        FormModel& f = fx.form();
        f.setText("txtUserId", "demo");
        f.smsBalance = 10;
        f.fire("SendMessage", Event::Timer);
        EXPECT_TRUE(f.enabled("SendMessage"));
        EXPECT_TRUE(logs("Dispatch error: "));
        EXPECT_THROW(f.fire("cmdexit2", Event::Click), test::ProgramEnded);
        EXPECT_EQ(test::readFile(fx.programDir / "SMSDB.MDB"), before);
    }
}

}  // namespace
}  // namespace parlix::reliability
