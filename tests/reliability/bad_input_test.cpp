// Bad input, each with a clear outcome and no crash: hostile queue rows (quotes, SQL, NUL, line
// breaks, no-break spaces, emoji and characters outside the payload code page, 10,000-character
// texts, odd numbers and statuses), gateway replies that make no sense (thousands of fields,
// binary junk, 50 MB, SQL in delivery reports), a payload folder that cannot be written, a full
// disk, and a database file that is corrupt or has another password.
//
// Long mode (PARLIX_RELIABILITY_LONG=1) changes nothing here.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "base/text.h"
#include "db/message_queue.h"
#include "db/open_database.h"
#include "hostile_server.h"
#include "live_dispatch.h"
#include "support/queue_db.h"
#include "support/temp_dir.h"
#include "transport/gateway_url.h"

namespace parlix::reliability {
namespace {

struct RowCase {
    const char* label;
    Value mobile;
    Value message;
    Value status;
    /// The row's status once the queue is drained.
    Value after;
    /// What the gateway receives as text and number; empty text when nothing goes out.
    std::string received;
    std::string number = "9876543210";
};

std::string bytes(const char* s, size_t n) {
    return std::string(s, n);
}

std::vector<RowCase> hostileRows() {
    const std::string longText = "bq-long " + std::string(9992, 'x');
    return {
        {"quotes and SQL", "9876543210", "bq-1 It's \"quoted\"; DROP TABLE MessageQueue; --",
         "Queued", "Sent", "bq-1 It's \"quoted\"; DROP TABLE MessageQueue; --"},
        {"SQL keywords", "9876543210",
         "bq-2 SELECT * FROM MessageQueue WHERE Status='Queued' OR 1=1; DELETE FROM ProxyConfig",
         "Queued", "Sent",
         "bq-2 SELECT * FROM MessageQueue WHERE Status='Queued' OR 1=1; DELETE FROM ProxyConfig"},
        {"NUL characters", "9876543210", bytes("bq-3 a\0b\0", 9), "Queued", "Sent",
         bytes("bq-3 a\0b\0", 9)},
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
        {"very long number", "+" + std::string(40, '1') + "0123456789", "bq-12 long number",
         "Queued", "Sent", "bq-12 long number", "0123456789"},
        {"letters for a number", "abcdefghijkl", "bq-13 letters", "Queued", "Sent", "bq-13 letters",
         "cdefghijkl"},
        {"status in lower case", "9876543210", "bq-14 lower", "queued", "Sent", "bq-14 lower"},
        {"status in upper case", "9876543210", "bq-15 upper", "QUEUED", "Sent", "bq-15 upper"},
        {"null status", "9876543210", "bq-16 no status", Value(), Value(), ""},
        {"status with a trailing blank", "9876543210", "bq-17 blank", "Queued ", "Queued ", ""},
        {"a status of its own", "9876543210", "bq-18 held", "Hold", "Hold", ""},
        {"left taken for sending, lower case", "9876543210", "bq-19 read", "read", "Sent",
         "bq-19 read"},
    };
}

using HostileRowTest = LiveDispatchTest;

TEST_F(HostileRowTest, EveryOddRowIsSentAsWrittenOrLeftWithAClearStatus) {
    const std::vector<RowCase> cases = hostileRows();
    LiveOptions o;
    o.beforeLoad = [&](Connection& c) {
        for (const RowCase& rc : cases) {
            c.execute("INSERT INTO MessageQueue (Mobileno, Message, Status) VALUES (?, ?, ?)",
                      {rc.mobile, rc.message, rc.status});
        }
    };
    startLoggedIn(o);
    EXPECT_EQ(drain(3), 1);
    const std::vector<test::JsonValue> got = sim.messages().array();
    std::map<std::string, const test::JsonValue*> byText;
    for (const test::JsonValue& m : got) {
        byText[m["text"].str()] = &m;
    }
    long sent = 0;
    for (size_t i = 0; i < cases.size(); ++i) {
        const RowCase& rc = cases[i];
        SCOPED_TRACE(rc.label);
        auto rs = test::query(*db, "select * from MessageQueue where ID=?",
                              {static_cast<std::int64_t>(i + 1)})
                      .at(0);
        EXPECT_EQ(rs["Status"], rc.after);
        EXPECT_EQ(rs["Message"], rc.message) << "the row's text was changed";
        if (rc.received.empty()) {
            continue;
        }
        ++sent;
        auto it = byText.find(rc.received);
        ASSERT_NE(it, byText.end()) << "the gateway did not receive the expected text";
        EXPECT_EQ((*it->second)["number"].str(), rc.number);
        EXPECT_EQ((*it->second)["messageId"].str(), rs["MessageID"].toText());
    }
    figure("hostile queue rows tried", static_cast<long long>(cases.size()));
    figure("hostile queue rows sent", sent);
    EXPECT_EQ(static_cast<long>(got.size()), sent);
    EXPECT_EQ(db->scalar("select count(*) from MessageQueue").integer(),
              static_cast<std::int64_t>(cases.size()));
    // 10,000 characters are five parts; every other sent message one.
    EXPECT_EQ(sim.debits().at(0)["parts"].num(), sent - 1 + 5);
}

// The record format has no room for a line break or a '#' in a number: such a row is discarded
// instead of breaking the payload it is in or sending its text elsewhere.
TEST_F(HostileRowTest, ANumberThatWouldBreakThePayloadIsDiscardedAndTheRestIsSent) {
    startLoggedIn();
    enqueue("ok-", 10);
    test::enqueue(*db, "98765\r\n43210", "poison line break");
    test::enqueue(*db, "98765#43210", "hash in the number");
    enqueue("ok2-", 10);
    drain(3);
    Audit a = auditOf("ok");
    figures("ordinary rows queued beside numbers holding a line break or '#'", a);
    EXPECT_EQ(a.status("Sent"), 20);
    EXPECT_EQ(a.duplicates, 0);
    EXPECT_EQ(db->scalar("select count(*) from MessageQueue where Status='Discarded' and "
                         "MessageID is null")
                  .integer(),
              2);
}

/// The window's logic pointed at a scripted gateway.
class HostileGatewayTest : public ::testing::Test {
protected:
    void SetUp() override {
        gw.on("/Parlix/ParlixChk.asp", "Server Connected");
        fx.config.serverHosts[0] = gw.host();
        fx.useRealHttp({1000, 5000});
        db = fx.makeDatabase();
        fx.start();
        log = std::make_unique<LogTap>(fx.form());
        ASSERT_TRUE(fx.load());
        fx.form().setText("txtUserId", "demo");
        fx.form().setText("txtUSerPassWord", "pw");
    }
    FormModel& f() { return fx.form(); }
    void connect() { f().fire("cmdConnect2", Event::Click); }

    HostileServer gw;
    test::AppFixture fx;
    std::unique_ptr<Connection> db;
    std::unique_ptr<LogTap> log;
};

std::string junk(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s) {
        c = static_cast<char>(rng() & 0xff);
    }
    return s;
}

TEST_F(HostileGatewayTest, LoginRepliesThatMakeNoSenseEndInAClearOutcome) {
    std::string many = "logonyes||75||NO||||ALPHA";
    for (int i = 0; i < 10000; ++i) {
        many += "||field" + std::to_string(i);
    }
    gw.on("/Parlix/Logonchks.asp", many);
    connect();
    EXPECT_TRUE(f().loginOk);
    EXPECT_EQ(f().smsBalance, 75);
    EXPECT_EQ(f().text("TXT_SENDERID"), "ALPHA");
    EXPECT_TRUE(f().enabled("SendMessage"));

    gw.on("/Parlix/Logonchks.asp", junk(64 * 1024, 7));
    f().setEnabled("cmdConnect2", true);
    connect();
    EXPECT_FALSE(f().loginOk);
    EXPECT_EQ(log->count("Login: Fail!"), 1);
    EXPECT_EQ(f().smsBalance, 0);
    EXPECT_FALSE(f().enabled("SendMessage"));
    EXPECT_TRUE(f().enabled("cmdConnect2"));

    // Junk from the server check is kept whole for diagnosis.
    const std::string checkJunk = junk(4096, 11);
    gw.on("/Parlix/ParlixChk.asp", checkJunk);
    connect();
    EXPECT_EQ(log->count("Server: NOT Connected"), 1);
    EXPECT_EQ(test::readFile(fx.programDir / "LastErr.txt"), checkJunk);
    figure("hostile login and check replies tried", 3);
}

TEST_F(HostileGatewayTest, AFiftyMegabyteReplyIsRefusedWithoutBeingHeld) {
    const size_t size = 50u * 1024 * 1024;
    gw.on("/Parlix/Logonchks.asp", [size](const std::string&) { return HostileReply{"", size}; });
    const long before = residentKb();
    const bool peakReset = resetPeakResident();
    connect();
    const long growth = peakResidentKb() - before;
    figure("50 MB login reply: peak resident memory growth (KiB)", growth);
    EXPECT_FALSE(f().loginOk);
    EXPECT_EQ(log->count("Login: Fail!"), 1);
    EXPECT_EQ(f().smsBalance, 0);
    EXPECT_TRUE(f().enabled("cmdConnect2"));
    if (peakReset && !sanitized()) {
        EXPECT_LT(growth, 40 * 1024) << "the reply was held whole";
    }
}

TEST_F(HostileGatewayTest, DeliveryReportsCarryingSqlAndJunkTouchOnlyTheirOwnRows) {
    gw.on("/Parlix/Logonchks.asp", "logonyes||100||YES");
    for (const char* id : {"id-1", "id-2", "id-3"}) {
        test::enqueue(*db, "9876543210", std::string("m ") + id, "Sent");
        db->execute("update MessageQueue set MessageID=? where Message=?",
                    {id, std::string("m ") + id});
    }
    const std::string reply =
        "id-1,DELIVRD'); DROP TABLE MessageQueue;--,2026-12-06 15:04:05,000\r\n"
        "x' OR '1'='1,DELIVRD,2026-12-06 15:04:05,000\r\n"
        "id-2,UNDELIV,12/6/2026 3:04:05 PM,'; DELETE FROM MessageQueue WHERE ''='\r\n"
        "id-3\r\n"
        ",,,\r\n"
        "id-3,DELIVRD,not a date,000\r\n" +
        junk(2000, 3);
    gw.on("/DR/DR.aspx", reply);
    connect();
    ASSERT_TRUE(f().loginOk);
    f().fire("Cmd_DownloadDR", Event::Click);

    auto row = [&](const char* id) {
        return test::query(*db, "select * from MessageQueue where MessageID=?", {id}).at(0);
    };
    auto r1 = row("id-1");
    EXPECT_EQ(r1["DeliverStatus"].toText(), "DELIVRD'); DROP TABLE MessageQueue;--");
    EXPECT_EQ(r1["DeliverDateTime"].toText(), "2026-12-06 15:04:05");
    auto r2 = row("id-2");
    EXPECT_EQ(r2["DeliverStatus"].toText(), "UNDELIV");
    EXPECT_EQ(r2["DeliverReason"].toText(), "'; DELETE FROM MessageQueue WHERE ''='");
    EXPECT_EQ(r2["DeliverDateTime"].toText(), "2026-12-06 15:04:05");
    EXPECT_TRUE(row("id-3")["DeliverStatus"].isNull());
    EXPECT_EQ(db->scalar("select count(*) from MessageQueue").integer(), 3);
    EXPECT_EQ(db->scalar("select count(*) from MessageQueue where Status='Sent'").integer(), 3);
    EXPECT_EQ(log->count("cannot be read were skipped"), 1);
    EXPECT_TRUE(f().enabled("SendMessage"));
    figure("hostile delivery-report lines tried", 7);
}

using PayloadFolderTest = LiveDispatchTest;

TEST_F(PayloadFolderTest, APayloadFolderThatCannotBeWrittenKeepsTheRowsQueued) {
    startLoggedIn();
    enqueue("folder-", 20);
    // A file where the folder should be.
    test::writeFile(fx.programDir / "SMS", "in the way");
    tick();
    EXPECT_EQ(log->count("Dispatch error: "), 1);
    EXPECT_EQ(rowsWith("Queued"), 20);
    std::filesystem::remove(fx.programDir / "SMS");

    // A folder where the payload file should be.
    std::filesystem::create_directories(fx.programDir / "SMS/Pending/demo_NWT.SMS");
    tick();
    EXPECT_EQ(log->count("Dispatch error: "), 2);
    EXPECT_EQ(rowsWith("Queued"), 20);
    std::filesystem::remove(fx.programDir / "SMS/Pending/demo_NWT.SMS");

    if (::geteuid() != 0) {
        std::filesystem::permissions(
            fx.programDir / "SMS/Pending",
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
        tick();
        EXPECT_EQ(log->count("Dispatch error: "), 3);
        EXPECT_EQ(rowsWith("Queued"), 20);
        std::filesystem::permissions(fx.programDir / "SMS/Pending",
                                     std::filesystem::perms::owner_all);
    }
    EXPECT_TRUE(sim.messages().array().empty());
    EXPECT_EQ(drain(1), 1);
    Audit a = auditOf("folder-");
    figures("payload folder that cannot be written", a);
    EXPECT_EQ(a.status("Sent"), 20);
    EXPECT_EQ(a.duplicates, 0);
}

/// A small tmpfs mounted over a folder for the length of a test; unmounted lazily, since the
/// program still holds the database open when the test ends.
class SmallDisk {
public:
    SmallDisk(const std::string& folder, const char* size) : m_folder(folder) {
        std::string options = std::string("size=") + size + ",mode=0700";
        if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) == 0) {
            m_mounted = true;
        } else {
            m_why = std::strerror(errno);
        }
    }
    ~SmallDisk() {
        if (m_mounted) {
            ::umount2(m_folder.c_str(), MNT_DETACH);
        }
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool mounted() const { return m_mounted; }
    const std::string& why() const { return m_why; }

    /// Fills what is left of the disk; the bytes written.
    long long fill(const std::string& file) {
        int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const std::string block(4096, 'f');
        long long written = 0;
        while (fd >= 0) {
            ssize_t n = ::write(fd, block.data(), block.size());
            if (n <= 0) {
                break;
            }
            written += n;
        }
        if (fd >= 0) {
            ::close(fd);
        }
        return written;
    }

private:
    std::string m_folder;
    bool m_mounted = false;
    std::string m_why;
};

using FullDiskTest = LiveDispatchTest;

TEST_F(FullDiskTest, AFullDiskFailsTheTickCleanlyAndSendingResumesOnceThereIsRoom) {
    SmallDisk disk(fx.programDir.str(), "2m");
    if (!disk.mounted()) {
        GTEST_SKIP() << "a small tmpfs cannot be mounted here (" << disk.why()
                     << "); the full disk is not tried";
    }
    startLoggedIn();
    enqueue("full-", 200, 100);
    const std::string filler = fx.programDir.str() + "/filler";
    const long long filled = disk.fill(filler);
    figure("full disk: bytes written to fill it", filled);
    for (int i = 0; i < 3; ++i) {
        tick();
    }
    const long errors = log->count("Dispatch error: ");
    figure("full disk: ticks that failed with an error", errors);
    figure("full disk: rows left Read", readRows());
    EXPECT_GE(errors, 1);
    EXPECT_EQ(log->count("could not be settled"), 0);
    EXPECT_TRUE(sim.messages().array().empty());

    std::filesystem::remove(filler);
    EXPECT_EQ(drain(2), 1);
    Audit a = auditOf("full-");
    figures("full disk, then room again", a);
    EXPECT_EQ(a.status("Sent"), 200);
    EXPECT_EQ(a.receivedDistinct, 200);
    EXPECT_EQ(a.duplicates, 0);
    EXPECT_EQ(integrityOf(fx.programDir.str() + "/SMSDB.MDB"), "ok");
}

/// Start-up over a database file the program cannot use, then a tick and the Exit button.
void startsAndEndsOverAnUnusableDatabase(test::AppFixture& fx, const std::string& expectedLog) {
    const std::string path = fx.programDir.str() + "/SMSDB.MDB";
    const std::string before = test::readFile(path);
    fx.start();
    LogTap log(fx.form());
    ASSERT_TRUE(fx.load());
    EXPECT_EQ(log.count(expectedLog), 1) << log.firstWith({"Database"});
    FormModel& f = fx.form();
    f.setText("txtUserId", "demo");
    f.setText("txtUSerPassWord", "pw");
    f.smsBalance = 10;
    f.fire("SendMessage", Event::Timer);
    EXPECT_TRUE(f.enabled("SendMessage"));
    EXPECT_GE(log.count("Dispatch error: "), 1);
    EXPECT_THROW(f.fire("cmdexit2", Event::Click), test::ProgramEnded);
    EXPECT_EQ(test::readFile(path), before) << "the program changed a file it cannot read";
}

TEST(UnusableDatabase, ACorruptFileOrAnotherPasswordEndsInDatabaseLoadFail) {
    {
        SCOPED_TRACE("random bytes");
        test::AppFixture fx;
        test::writeFile(fx.programDir / "SMSDB.MDB", junk(64 * 1024, 5));
        startsAndEndsOverAnUnusableDatabase(fx, "DatabaseLoad: Fail");
    }
    {
        SCOPED_TRACE("another password");
        test::AppFixture fx;
        auto other = createDatabaseFile(fx.programDir.str() + "/SMSDB.MDB", "not-the-password");
        MessageQueue(*other).createTables();
        test::enqueue(*other, "9876543210", "kept");
        other.reset();
        startsAndEndsOverAnUnusableDatabase(fx, "DatabaseLoad: Fail");
    }
    {
        SCOPED_TRACE("cut to half its length");
        test::AppFixture fx;
        {
            auto db = fx.makeDatabase();
            std::mt19937_64 rng(1);
            enqueueAll(*db, uniqueTexts("half-", 2000, 200, rng));
            db->execute("PRAGMA wal_checkpoint(TRUNCATE)");
        }
        const auto path = fx.programDir / "SMSDB.MDB";
        std::filesystem::resize_file(path, std::filesystem::file_size(path) / 2);
        startsAndEndsOverAnUnusableDatabase(fx, "DatabaseLoad: Fail");
    }
    figure("unusable database files tried", 3);
}

}  // namespace
}  // namespace parlix::reliability
