#include <gtest/gtest.h>

#include "dispatch/dispatch_tick.h"
#include "reports/delivery_reports.h"
#include "support/app_fixture.h"
#include "support/gateway_sim_process.h"
#include "support/queue_db.h"

namespace parlix {
namespace {

using test::AppFixture;
using test::enqueue;

class ReportsTest : public ::testing::Test {
protected:
    void SetUp() override {
        db = fx.makeDatabase();
        db->execute("update ProxyConfig set comport='54321'");
        enqueue(*db, "1111111111", "a");
        enqueue(*db, "2222222222", "b");
        db->execute("update MessageQueue set MessageID='u54321-1', Status='Sent' where rowid=1");
        db->execute("update MessageQueue set MessageID='u54321-2', Status='Sent' where rowid=2");
        ASSERT_TRUE(fx.load());
        f().serverAddress = "gw.test";
        f().setText("txtUserId", "u");
        f().setText("txtUSerPassWord", "p&w");
        f().drTickCount = 901;
        f().setEnabled("SendMessage", false);
    }

    /// Downloads with this reply and returns the log's newest text.
    std::string download(const std::string& reply) {
        fx.transfer.replies = {reply};
        reports.DownloadDeliveryReports();
        return f().text("txt_msg");
    }

    std::string row(int id) {
        return db
            ->scalar(
                "select coalesce(DeliverStatus,'-') || '|' || coalesce(DeliverReason,'-') || "
                "'|' || coalesce(DeliverDateTime,'-') from MessageQueue where rowid=?",
                {id})
            .toText();
    }

    FormModel& f() { return fx.form(); }
    AppFixture fx;
    std::unique_ptr<Connection> db;
    DeliveryReports reports{fx.start().form(), fx.app->environment()};
};

TEST_F(ReportsTest, EndAndErrorAnswersResetTheCounterAndLogNothing) {
    for (const char* reply : {"END", "  END  ", "-201", "-2013", " -201,x"}) {
        SCOPED_TRACE(reply);
        f().drTickCount = 950;
        f().setText("txt_msg", "");
        EXPECT_EQ(download(reply), "");
        EXPECT_EQ(f().drTickCount, 0);
        EXPECT_TRUE(f().enabled("Command1"));
        EXPECT_TRUE(f().enabled("SendMessage"));
    }
    EXPECT_EQ(fx.transfer.requests.back().url,
              "http://gw.test/DR/DR.aspx?userid=u&userpass=p%26w&MsgNum=54321");
}

TEST_F(ReportsTest, OtherRepliesAreReportListsCountedBySeparators) {
    struct Case {
        const char* reply;
        const char* logStart;
    };
    for (const Case& c : {Case{"end", "Rec DR 0  12/6/2026 3:04:05 PM\r\n"},
                          Case{"END\r\n", "Rec DR 1  "}, Case{"", "Rec DR -1  "}}) {
        SCOPED_TRACE(c.reply);
        f().setText("txt_msg", "");
        EXPECT_EQ(download(c.reply).rfind(c.logStart, 0), 0u) << f().text("txt_msg");
        EXPECT_EQ(f().drTickCount, 901);
    }
    EXPECT_EQ(row(1), "-|-|-");
}

TEST_F(ReportsTest, ReportLinesAreTrimmedAppliedAndShortOnesSkipped) {
    std::string log = download(
        " u54321-1 , DELIVRD , 2026-12-06 10:00:00 , Delivered to handset ,extra\r\n"
        "u54321-2,FAILED,12/6/2026 1:02:03 PM\r\n");
    EXPECT_EQ(log.rfind("Rec DR 2  ", 0), 0u);
    EXPECT_EQ(row(1), "DELIVRD|Delivered to handset|2026-12-06 10:00:00");
    EXPECT_EQ(row(2), "-|-|-");  // three fields: skipped
    download("u54321-2,FAILED,12/6/2026 1:02:03 PM,absent\r\nnobody,X,2026-01-01 00:00:00,r");
    EXPECT_EQ(row(2), "FAILED|absent|2026-12-06 13:02:03");
}

TEST_F(ReportsTest, HostileOrOddValuesAreStoredAsTextAndTouchNothingElse) {
    download(
        "u54321-1,DELIVRD,2026-12-06 10:00:00,it's delivered\r\n"
        "u54321-2,x' where 1=1; update MessageQueue set Status='Gone' --,2026-12-06 "
        "10:00:00,r");
    EXPECT_EQ(row(1), "DELIVRD|it's delivered|2026-12-06 10:00:00");
    EXPECT_EQ(row(2),
              "x' where 1=1; update MessageQueue set Status='Gone' --|r|2026-12-06 10:00:00");
    EXPECT_EQ(test::countExact(*db, "Sent"), 2);
}

TEST_F(ReportsTest, UnreadableDatesAreSkippedAndLoggedWhileOthersApply) {
    std::string log = download(
        "u54321-1,DELIVRD,yesterday,ok\r\nu54321-2,DELIVRD,2026-02-30 10:00:00,ok\r\n"
        "u54321-2,DELIVRD,2026-12-06 11:00:00,ok");
    EXPECT_EQ(row(1), "-|-|-");
    EXPECT_EQ(row(2), "DELIVRD|ok|2026-12-06 11:00:00");
    EXPECT_NE(log.find("2 with a date and time that cannot be read were skipped, the first for "
                       "u54321-1 (yesterday)"),
              std::string::npos)
        << log.substr(0, 200);
}

TEST_F(ReportsTest, AFailedTransferStillRestoresButtonAndTimer) {
    fx.transfer.responder = [](const test::FakeHttpClient::Request&) -> std::string {
        throw TransferError("timed out talking to gw.test", 28);
    };
    reports.DownloadDeliveryReports();
    EXPECT_TRUE(f().enabled("Command1"));
    EXPECT_TRUE(f().enabled("SendMessage"));
    EXPECT_GE(fx.transfer.cancels, 1);
    EXPECT_NE(f().text("txt_msg").find("timed out"), std::string::npos);
    EXPECT_EQ(f().drTickCount, 901);
}

TEST_F(ReportsTest, NoServerMeansNothingAtAll) {
    f().serverAddress.clear();
    reports.DownloadDeliveryReports();
    EXPECT_TRUE(fx.transfer.requests.empty());
    EXPECT_FALSE(f().enabled("SendMessage"));
}

TEST_F(ReportsTest, ALargeReplyIsAppliedWithEventsBetweenLines) {
    std::string reply;
    const std::string line =
        "u54321-1,DELIVRD,2026-12-06 10:00:00," + std::string(80, 'r') + "\r\n";
    while (reply.size() < 10 * 1024 * 1024) {
        reply += line;
    }
    size_t lines = reply.size() / line.size();
    int before = fx.ui.doEventsCount;
    std::string log = download(reply);
    EXPECT_EQ(static_cast<size_t>(fx.ui.doEventsCount - before), lines + 1);
    EXPECT_EQ(log.rfind("Rec DR " + std::to_string(lines) + "  ", 0), 0u);
    EXPECT_EQ(row(1).substr(0, 8), "DELIVRD|");
}

TEST(ReportsSchedule, TheTickDownloadsWhenTheCountPassesNineHundred) {
    AppFixture fx;
    fx.makeDatabase();
    ASSERT_TRUE(fx.load());
    FormModel& f = fx.form();
    f.serverAddress = "gw.test";
    f.drAllowed = true;
    fx.transfer.responder = [](const test::FakeHttpClient::Request&) { return "END"; };
    f.fire("SendMessage", Event::Timer);  // unticked box: no counting
    EXPECT_EQ(f.drTickCount, 1000);
    f.setValue("Chk_DownloadDR", 1);
    f.fire("SendMessage", Event::Timer);
    EXPECT_EQ(fx.transfer.requests.size(), 1u);
    EXPECT_EQ(f.drTickCount, 0);
    for (int i = 0; i < 900; ++i) {
        f.fire("SendMessage", Event::Timer);
    }
    EXPECT_EQ(fx.transfer.requests.size(), 1u);
    f.fire("SendMessage", Event::Timer);
    EXPECT_EQ(fx.transfer.requests.size(), 2u);
    EXPECT_TRUE(f.enabled("SendMessage"));
}

TEST(ReportsFromTheGateway, ReportsOfSentMessagesArriveInTheirRows) {
    test::GatewaySimProcess sim;
    sim.addAccount({"demo", "pw", 50, true, "", ""});
    AppFixture fx;
    fx.config.serverHosts[0] = sim.serverHost(1);
    fx.useRealHttp();
    auto db = fx.makeDatabase();
    enqueue(*db, "1234567890", "hello");
    enqueue(*db, "1234567891", "world");
    fx.start();
    ASSERT_TRUE(fx.load());
    fx.form().setText("txtUserId", "demo");
    fx.form().setText("txtUSerPassWord", "pw");
    fx.form().fire("cmdConnect2", Event::Click);
    ASSERT_TRUE(fx.form().loginOk);
    fx.form().fire("SendMessage", Event::Timer);  // sends, then downloads at once
    fx.form().fire("SendMessage", Event::Timer);
    EXPECT_EQ(test::countExact(*db, "Sent"), 2);
    EXPECT_EQ(
        db->scalar("select count(*) from MessageQueue where DeliverStatus is not null").integer(),
        2);
    EXPECT_EQ(fx.form().drTickCount, 0);
}

}  // namespace
}  // namespace parlix
