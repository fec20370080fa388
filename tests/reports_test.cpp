#include <gtest/gtest.h>

#include <sqlite3.h>

#include <tuple>

#include "reports/delivery_reports.h"
#include "support/app_fixture.h"
#include "support/expect.h"
#include "support/queue_db.h"

namespace parlix {
namespace {

using test::enqueue;

TEST(DeliveryTime, IsReadInTheIsoOrTheUsFormAndStoredInTheIsoForm) {
    auto iso = [](const char* text) { return deliveryTimeToIso(text).value_or("none"); };
    test::expectPairs({iso("2026-12-06T23:59:59"), "2026-12-06 23:59:59",
                       iso("12/6/2026 1:02:03 PM"), "2026-12-06 13:02:03",
                       iso("1/2/2026 12:00:00 am"), "2026-01-02 00:00:00",
                       iso("1/2/2026 12:30:00 pM"), "2026-01-02 12:30:00",
                       iso("02/29/2024 11:59:59 AM"), "2024-02-29 11:59:59"});
    for (const char* bad : {"2/29/2023 11:59:59 AM", "1/2/2026 0:00:00 AM", "1/2/2026 13:00:00 PM",
                            "1/2/2026 1:00:00 XM", "1/2/2026 1:00:00 PM x", "1/2/2026 1:00:00",
                            "2026-02-30 10:00:00", "yesterday"}) {
        EXPECT_EQ(iso(bad), "none") << bad;
    }
}

class ReportsTest : public ::testing::Test {
protected:
    void SetUp() override {
        db = fx.makeDatabase();
        db->execute("UPDATE ProxyConfig SET comport = '54321'");
        enqueue(*db, "1111111111", "a", "Sent");
        enqueue(*db, "2222222222", "b", "Sent");
        db->execute("UPDATE MessageQueue SET MessageID = 'u54321-' || rowid");
        ASSERT_TRUE(fx.load());
        f().serverAddress = "gw.test";
        f().setText("txtUserId", "u");
        f().setText("txtUSerPassWord", "p&w");
        f().drTickCount = 901;
        f().setEnabled("SendMessage", false);
    }

    /// Downloads with this reply and returns the activity log's text.
    std::string download(const std::string& reply) {
        fx.transfer.replies = {reply};
        reports.DownloadDeliveryReports();
        return f().text("txt_msg");
    }

    std::string row(int id) {
        const char* sql =
            "SELECT coalesce(DeliverStatus, '-') || '|' || coalesce(DeliverReason, '-') || '|' || "
            "coalesce(DeliverDateTime, '-') FROM MessageQueue WHERE rowid = ?";
        return db->scalar(sql, {id}).toText();
    }

    FormModel& f() { return fx.form(); }
    test::AppFixture fx;
    std::unique_ptr<Connection> db;
    DeliveryReports reports{fx.start().form(), fx.app->environment()};
};

// "END" and error answers only reset the counter; any other reply is a list of reports, counted
// by its line separators.
TEST_F(ReportsTest, TheReplyDecidesBetweenTheEndAndAListOfReports) {
    const std::pair<const char*, const char*> cases[] = {
        {"END", ""},
        {"  END  ", ""},
        {"-201", ""},
        {"-2013", ""},
        {" -201,x", ""},
        {"end", "Rec DR 0  12/6/2026 3:04:05 PM\r\n"},
        {"END\r\n", "Rec DR 1  12/6/2026 3:04:05 PM\r\n"},
        {"", "Rec DR -1  12/6/2026 3:04:05 PM\r\n"}};
    for (const auto& [reply, log] : cases) {
        f().drTickCount = 950;
        f().setText("txt_msg", "");
        EXPECT_EQ(download(reply), log);
        EXPECT_EQ(f().drTickCount, log[0] == 0 ? 0 : 950) << reply;
        EXPECT_TRUE(f().enabled("Command1") && f().enabled("SendMessage"));
    }
    EXPECT_EQ(fx.transfer.requests.back().url,
              "http://gw.test/DR/DR.aspx?userid=u&userpass=p%26w&MsgNum=54321");
    EXPECT_EQ(fx.transfer.cancels, 2 * static_cast<int>(std::size(cases)));
    EXPECT_EQ(row(1), "-|-|-");
}

TEST_F(ReportsTest, ReportLinesAreTrimmedAndAppliedAndTheUnreadableSkippedAndLogged) {
    const std::string odd = "x' where 1=1; update MessageQueue set Status='Gone' --";
    std::string log = download(
        " u54321-1 , DELIVRD , 12/6/2026 1:02:03 PM , it's delivered ,extra\r\nu54321-2," + odd +
        ",2026-12-06 10:00:00\r\nU54321-2,FAILED,yesterday,r\r\n"
        "u54321-2,FAILED,2026-02-30 10:00:00,r\r\n\r\nnobody,X,2026-01-01 00:00:00,r");
    EXPECT_EQ(log.rfind("Rec DR 5  ", 0), 0u) << log;
    EXPECT_EQ(row(1), "DELIVRD|it's delivered|2026-12-06 13:02:03");
    EXPECT_EQ(row(2), "-|-|-");  // three fields, and unreadable dates
    EXPECT_NE(log.find("Delivery reports: 2 with a date and time that cannot be read were "
                       "skipped, the first for U54321-2 (yesterday)"),
              std::string::npos)
        << log;
    download("u54321-2," + odd + ",2026-12-06 10:00:00,r");
    EXPECT_EQ(row(2), odd + "|r|2026-12-06 10:00:00");
    EXPECT_EQ(test::countExact(*db, "Sent"), 2);
}

TEST_F(ReportsTest, AFailedTransferStillRestoresTheButtonAndTheTimer) {
    fx.transfer.responder = [](const test::FakeHttpClient::Request&) -> std::string {
        throw TransferError("timed out talking to gw.test", 28);
    };
    f().setEnabled("Command1", false);
    reports.DownloadDeliveryReports();
    EXPECT_TRUE(f().enabled("Command1") && f().enabled("SendMessage"));
    EXPECT_EQ(fx.transfer.cancels, 1);
    EXPECT_EQ(fx.logLines().back(), "Delivery reports: timed out talking to gw.test");
    EXPECT_EQ(f().drTickCount, 901);

    f().serverAddress.clear();
    f().setEnabled("SendMessage", false);
    reports.DownloadDeliveryReports();
    EXPECT_EQ(fx.transfer.requests.size(), 1u);
    EXPECT_FALSE(f().enabled("SendMessage"));
}

TEST_F(ReportsTest, ALargeReplyIsWrittenInChunksWithEventsBetweenThem) {
    std::string reply;
    for (int i = 0; i < 600; ++i) {
        reply += "u54321-" + std::to_string(1 + i % 2) + ",DELIVRD,2026-12-06 10:00:00," +
                 std::to_string(i) + "\r\n";
    }
    const int before = fx.ui.doEventsCount;
    int transactions = 0;
    fx.ui.onDoEvents = [&](int) {
        transactions += sqlite3_get_autocommit(test::fileConnection(f().queue()).handle()) == 0 ||
                        f().enabled("SendMessage") || f().enabled("Command1");
    };
    std::string log = download(reply);
    EXPECT_EQ(fx.ui.doEventsCount - before, 601);
    EXPECT_EQ(transactions, 0) << "events run outside the chunks' transactions, the timer off";
    EXPECT_EQ(log.rfind("Rec DR 600  ", 0), 0u);
    EXPECT_EQ(row(1), "DELIVRD|598|2026-12-06 10:00:00");
    EXPECT_EQ(row(2), "DELIVRD|599|2026-12-06 10:00:00");
}

TEST(ReportsSchedule, TheTickDownloadsWhenTheCountPassesNineHundred) {
    test::AppFixture fx;
    ASSERT_TRUE(fx.load());
    FormModel& f = fx.form();
    f.serverAddress = "gw.test";
    fx.transfer.responder = [](const test::FakeHttpClient::Request&) { return "END"; };
    // Neither an unticked box nor a login without reports counts; the count starts at 1000.
    const std::tuple<int, bool, int> ticks[] = {{0, true, 1000}, {1, false, 1000}, {1, true, 0}};
    for (const auto& [box, allowed, count] : ticks) {
        f.setValue("Chk_DownloadDR", box);
        f.drAllowed = allowed;
        f.fire("SendMessage", Event::Timer);
        EXPECT_EQ(f.drTickCount, count);
    }
    EXPECT_EQ(fx.transfer.requests.size(), 1u);
    for (int i = 0; i < 900; ++i) {
        f.fire("SendMessage", Event::Timer);
    }
    EXPECT_EQ(fx.transfer.requests.size(), 1u);
    f.fire("SendMessage", Event::Timer);
    EXPECT_EQ(fx.transfer.requests.size(), 2u);
    EXPECT_TRUE(f.enabled("SendMessage"));
}

}  // namespace
}  // namespace parlix
