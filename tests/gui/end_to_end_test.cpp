#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdint>
#include <map>
#include <string>

#include "started_window.h"
#include "support/gateway_sim_process.h"
#include "support/queue_db.h"

namespace parlix::test {
namespace {

// The program as an operator meets it: the real window over the real queue database, talking
// HTTP on loopback to gateway-sim, through both senders.
TEST(WindowEndToEndTest, ConnectSendsThroughBothSendersAppliesReportsAndExits) {
    GatewaySimProcess sim;
    sim.addAccount({"demo", "pw", 100, true, "Welcome", "ALPHA"});
    StartedWindow s;
    s.fx.config.serverHosts[0] = sim.serverHost(1);
    s.fx.useRealHttp();
    ASSERT_TRUE(s.start());

    QTest::keyClicks(s.find<QLineEdit>("txtUserId"), QStringLiteral("demo"));
    QTest::keyClicks(s.find<QLineEdit>("txtUSerPassWord"), QStringLiteral("pw"));
    QTest::mouseClick(s.find<QPushButton>("cmdConnect2"), Qt::LeftButton);
    ASSERT_TRUE(s.fx.form().enabled("SendMessage")) << s.fx.form().text("txt_msg");
    EXPECT_EQ(s.fx.ui.boxes.back().text, "Welcome");
    EXPECT_EQ(s.find<QLabel>("lblSMS")->text(), QStringLiteral("Balance SMS: 100"));

    // One tick with the sender id, then one without: each sends what is queued and applies the
    // reports the gateway has by then.
    auto* timer = s.window->findChild<QTimer*>(QStringLiteral("SendMessage"));
    std::map<std::int64_t, std::string> senderOf;
    for (const char* senderId : {"ALPHA", ""}) {
        if (*senderId == '\0') {
            auto* box = s.find<QLineEdit>("TXT_SENDERID");
            box->selectAll();
            QTest::keyClick(box, Qt::Key_Delete);
        }
        senderOf[enqueue(*s.outside, "9800000001", "Hello")] = senderId;
        s.fx.clock.sleepMs(1000);
        ASSERT_TRUE(timer->isActive());
        QTimerEvent tick(timer->timerId());
        QCoreApplication::sendEvent(timer, &tick);
    }

    std::map<std::string, JsonValue> received;
    for (const JsonValue& m : sim.messages().array()) {
        received[m["messageId"].str()] = m;
    }
    ASSERT_EQ(received.size(), 2u);
    for (const Row& row : query(*s.outside, "select * from MessageQueue")) {
        const std::string senderId = senderOf.at(row["ID"].integer());
        SCOPED_TRACE(senderId);
        EXPECT_EQ(row["Status"].toText() + " " + row["DeliverStatus"].toText(), "Sent DELIVRD");
        const JsonValue& m = received.at(row["MessageID"].toText());
        EXPECT_EQ(m["number"].str() + " " + m["text"].str(), "9800000001 Hello");
        EXPECT_EQ(m["kind"].str(), senderId.empty() ? "NWM" : "NWT");
        EXPECT_EQ(m["senderId"].str(), senderId);
    }
    EXPECT_EQ(sim.debits().array().size(), 2u);

    QTest::mouseClick(s.find<QPushButton>("cmdexit2"), Qt::LeftButton);
    EXPECT_TRUE(s.programEnded);
    EXPECT_EQ(countExact(*s.outside, "Sent"), 2);
}

}  // namespace
}  // namespace parlix::test
