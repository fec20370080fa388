#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdint>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "gui/handler_runner.h"
#include "gui/main_window.h"
#include "support/app_fixture.h"
#include "support/gateway_sim_process.h"
#include "support/queue_db.h"

namespace parlix::test {
namespace {

constexpr const char* kUser = "demo";
constexpr const char* kPassword = "pw";
constexpr const char* kNotice = "Welcome to the gateway";
constexpr long long kStartBalance = 10000;
constexpr int kRowsPerSender = 250;
// Far more ticks than either half of the queue needs; a queue that will not drain fails, not
// hangs.
constexpr int kTickLimit = 20;

// Single characters a message is filled with: letters, blanks, a comma and the accented letters
// the payload code page carries.
const std::vector<std::string> kFill = {"S", "e", "ñ", "o", "r", " ", "M", "ü", "l",
                                        "e", "r", ",", " ", "c", "a", "f", "é", " "};

/// `n` characters of the fill, starting at a place that varies from row to row.
std::string fill(size_t n, size_t start) {
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += kFill[(start + i) % kFill.size()];
    }
    return s;
}

std::string repeated(const std::string& character, size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += character;
    }
    return s;
}

/// A message as the outside software queues it and as the gateway must receive it.
struct QueuedText {
    Value stored;
    /// Empty when the row has no text and must be discarded.
    std::string received;
    /// SMS parts the account is to be debited for it.
    int parts = 0;
};

/// The text of queue row `row`: every length from one part to five, the part boundaries on both
/// sides, accents, line breaks, no-break spaces, tildes, and rows with no text at all.
QueuedText textFor(int row) {
    const std::string tag = std::string("#").append(std::to_string(row)).append(" ");
    const auto start = static_cast<size_t>(row);
    // `characters` characters in all, the row's tag first.
    auto sized = [&](size_t characters, int parts) {
        std::string s = tag + fill(characters - tag.size(), start);
        return QueuedText{Value(s), s, parts};
    };
    switch (row % 16) {
        case 0:
            return {Value(), "", 0};
        case 1:
            return {Value(std::string()), "", 0};
        case 2:
            return {Value("é"), "é", 1};
        case 3:
            return sized(160, 1);
        case 4:
            return sized(161, 2);
        case 5:
            return sized(280, 2);
        case 6:
            return sized(281, 3);
        case 7:
            return sized(420, 3);
        case 8:
            return sized(421, 4);
        case 9:
            return sized(560, 4);
        case 10:
            return sized(561, 5);
        case 11:
            return sized(900, 5);
        case 12: {
            // 160 characters in 320 bytes: parts go by characters.
            std::string s = tag + repeated("é", 160 - tag.size());
            return {Value(s), s, 1};
        }
        case 13:
            return {Value(tag + "Line one\r\nLine two\nLine three\rend\xC2\xA0ok"),
                    tag + "Line one~Line two~Line three~end~ok", 1};
        case 14:
            return {Value(tag + "Dear Zoë,\r\n\r\nyour order shipped.\r\n\r\n\r\nBye ~~ now"),
                    tag + "Dear Zoë,~your order shipped.~~Bye ~ now", 1};
        default: {
            // 162 characters as queued, 159 once the breaks are folded: the parts are counted
            // on the text as queued.
            std::string head = tag + fill(156 - tag.size(), start);
            std::string tail = fill(2, start + 7);
            return {Value(head + "\r\n\r\n" + tail), head + "~" + tail, 2};
        }
    }
}

/// Ten digits of row `row`; its Mobileno is those digits, or them behind a country code or a
/// trunk prefix.
std::string tenDigitsFor(int row) {
    return std::to_string(9800000000LL + row);
}

std::string mobileFor(int row) {
    switch (row % 3) {
        case 0:
            return tenDigitsFor(row);
        case 1:
            return std::string("+91").append(tenDigitsFor(row));
        default:
            return std::string("0").append(tenDigitsFor(row));
    }
}

/// A queued row and what the gateway must make of it.
struct QueuedRow {
    std::int64_t id = 0;
    int row = 0;
    QueuedText text;
    /// The payload kind of the sender meant to take it, and the sender id it goes out with.
    std::string kind;
    std::string senderId;
};

/// A row of MessageQueue as the program left it.
struct StoredRow {
    std::string status;
    Value messageId;
    Value deliverStatus;
    Value deliverReason;
    Value deliverDateTime;
};

/// The program as an operator meets it: the real window in a fresh program folder, over the
/// real queue database, talking HTTP on loopback to gateway-sim. Message boxes are answered in
/// advance through the fake Ui; where the real program would end, `programEnded` is set.
class EndToEndTest : public testing::Test {
protected:
    void SetUp() override {
        sim.addAccount({kUser, kPassword, kStartBalance, true, kNotice, "ALPHA,BETA"});
        fx.config.serverHosts[0] = sim.serverHost(1);
        fx.useRealHttp();
        outside = fx.makeDatabase();
    }

    /// The outside software queues rows [first, last) for the sender of `kind`.
    void queueRows(int first, int last, const std::string& kind, const std::string& senderId) {
        outside->beginTrans();
        for (int row = first; row < last; ++row) {
            QueuedText text = textFor(row);
            std::int64_t id = enqueue(*outside, Value(mobileFor(row)), text.stored);
            queued.push_back({id, row, text, kind, senderId});
        }
        outside->commitTrans();
    }

    void startProgram() {
        SendMsg& app = fx.start();
        HandlerRunner endOnError = endOnUnhandledError(fx.ui);
        window = std::make_unique<MainWindow>(
            app.form(),
            [this, endOnError](const std::function<void()>& handler) {
                try {
                    endOnError(handler);
                } catch (const ProgramEnded&) {
                    programEnded = true;
                }
            },
            [&app] { app.Form_Unload(); });
        ASSERT_TRUE(fx.load());
        window->show();
        QApplication::setActiveWindow(window.get());
        QApplication::processEvents();
    }

    template <typename T>
    T* find(const char* name) const {
        T* w = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    void click(const char* name) {
        QTest::mouseClick(find<QPushButton>(name), Qt::LeftButton);
        QApplication::processEvents();
    }

    std::string shown(const char* label) const { return find<QLabel>(label)->text().toStdString(); }

    void connectAsOperator() {
        auto* userId = find<QLineEdit>("txtUserId");
        userId->setFocus(Qt::MouseFocusReason);
        QTest::keyClicks(userId, QString::fromLatin1(kUser));
        QTest::keyClick(userId, Qt::Key_Tab);
        QTest::keyClicks(find<QLineEdit>("txtUSerPassWord"), QString::fromLatin1(kPassword));
        click("cmdConnect2");
    }

    /// One beat of the window's one-second timer. The second passes on the program's clock
    /// only, so batches get the stamps they would get a second apart.
    void tick() {
        fx.clock.sleepMs(1000);
        auto* timer = find<QTimer>("SendMessage");
        ASSERT_TRUE(timer->isActive()) << "the timer runs between ticks";
        QTimerEvent beat(timer->timerId());
        QCoreApplication::sendEvent(timer, &beat);
    }

    void drainQueue() {
        for (int ticks = 0; countExact(*outside, "Queued") > 0 && ticks < kTickLimit; ++ticks) {
            ASSERT_NO_FATAL_FAILURE(tick());
        }
        ASSERT_EQ(countExact(*outside, "Queued"), 0)
            << "the queue drains within " << kTickLimit << " ticks";
    }

    std::map<std::int64_t, StoredRow> storedRows() {
        std::map<std::int64_t, StoredRow> rows;
        for (const auto& row : test::query(*outside, "select * from MessageQueue")) {
            rows[row["ID"].integer()] = {row["Status"].toText(), row["MessageID"],
                                         row["DeliverStatus"], row["DeliverReason"],
                                         row["DeliverDateTime"]};
        }
        return rows;
    }

    long long simBalance() {
        const JsonValue accounts = sim.get("/_sim/accounts")["accounts"];
        for (const JsonValue& a : accounts.array()) {
            if (a["user"].str() == kUser) {
                return a["balance"].num();
            }
        }
        ADD_FAILURE() << "gateway-sim lost the account";
        return -1;
    }

    FormModel& form() { return fx.form(); }

    GatewaySimProcess sim;
    AppFixture fx;
    std::unique_ptr<Connection> outside;
    std::unique_ptr<MainWindow> window;
    std::vector<QueuedRow> queued;
    bool programEnded = false;
};

TEST_F(EndToEndTest, OperatorDrainsTheQueueThroughBothSendersWithReportsAndExits) {
    // Start-up with a queue already waiting: the window warns before anything is sent.
    queueRows(0, kRowsPerSender, "NWT", "ALPHA");
    fx.ui.setNextAnswer(MsgAnswer::Ok);
    ASSERT_NO_FATAL_FAILURE(startProgram());
    ASSERT_EQ(fx.ui.boxes.size(), 1u);
    EXPECT_EQ(fx.ui.boxes[0].text,
              "Messages are in Queued, Please check Message Queue before connect the server");
    EXPECT_EQ(countExact(*outside, "Queued"), kRowsPerSender) << "nothing goes before Connect";

    // Connect: the account's notice, balance, reports and first sender id reach the window.
    fx.ui.setNextAnswer(MsgAnswer::Ok);
    connectAsOperator();
    ASSERT_TRUE(form().enabled("SendMessage")) << form().text("txt_msg");
    ASSERT_EQ(fx.ui.boxes.size(), 2u);
    EXPECT_EQ(fx.ui.boxes[1].text, kNotice);
    EXPECT_EQ(shown("lblSMS"), "Balance SMS: " + std::to_string(kStartBalance));
    EXPECT_FALSE(find<QPushButton>("cmdConnect2")->isEnabled());
    EXPECT_EQ(form().value("Chk_DownloadDR"), 1);
    EXPECT_TRUE(find<QWidget>("CMB_Senderid")->isVisible());
    ASSERT_EQ(form().text("TXT_SENDERID"), "ALPHA");

    // The first half goes through the batch sender under the sender id.
    ASSERT_NO_FATAL_FAILURE(drainQueue());

    // The outside software queues the second half; the operator clears the sender id, so the
    // single-file sender takes it.
    queueRows(kRowsPerSender, 2 * kRowsPerSender, "NWM", "");
    // The tick reads the sender id from this box; it stays hidden while the account lists its
    // sender ids, so the keys go to it directly.
    auto* senderId = find<QLineEdit>("TXT_SENDERID");
    senderId->selectAll();
    QTest::keyClick(senderId, Qt::Key_Delete);
    ASSERT_EQ(form().text("TXT_SENDERID"), "");
    EXPECT_EQ(fx.setting("Parlix", "Senderid"), "");
    ASSERT_NO_FATAL_FAILURE(drainQueue());

    // Each tick that sent also fetched the reports so far; one more finds none left.
    ASSERT_NO_FATAL_FAILURE(tick());
    EXPECT_EQ(form().drTickCount, 0) << "the gateway answered that no report was left";

    std::map<std::int64_t, StoredRow> rows = storedRows();
    ASSERT_EQ(rows.size(), queued.size());
    JsonValue received = sim.get("/_sim/messages");
    EXPECT_EQ(received["messagesDropped"].num(), 0);
    const JsonValue::Array messages = received["messages"].array();
    std::map<std::string, std::vector<JsonValue>> byId;
    for (const JsonValue& m : messages) {
        byId[m["messageId"].str()].push_back(m);
    }

    const std::regex isoDateTime(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)");
    size_t withText = 0;
    long long parts = 0;
    for (const QueuedRow& q : queued) {
        SCOPED_TRACE("row " + std::to_string(q.row) + " for " + q.kind);
        const StoredRow& stored = rows.at(q.id);
        if (q.text.received.empty()) {
            EXPECT_EQ(stored.status, "Discarded");
            EXPECT_TRUE(stored.messageId.isNull()) << stored.messageId.toText();
            EXPECT_TRUE(stored.deliverStatus.isNull());
            continue;
        }
        ++withText;
        parts += q.text.parts;
        EXPECT_EQ(stored.status, "Sent");
        ASSERT_FALSE(stored.messageId.isNull());
        const std::string id = stored.messageId.toText();
        ASSERT_EQ(byId[id].size(), 1u) << "the gateway received " << id << " once";
        const JsonValue& m = byId[id].front();
        EXPECT_EQ(m["number"].str(), tenDigitsFor(q.row)) << mobileFor(q.row);
        EXPECT_EQ(m["type"].str(), "TEXT");
        EXPECT_EQ(m["text"].str(), q.text.received);
        EXPECT_EQ(m["kind"].str(), q.kind);
        EXPECT_EQ(m["senderId"].str(), q.senderId);
        EXPECT_EQ(m["user"].str(), kUser);
        EXPECT_TRUE(m["reported"].boolean());

        EXPECT_EQ(stored.deliverStatus.toText(), m["reportStatus"].str());
        EXPECT_EQ(stored.deliverReason.toText(), m["reportReason"].str());
        EXPECT_EQ(stored.deliverDateTime.toText(), m["reportTime"].str());
        EXPECT_TRUE(std::regex_match(stored.deliverDateTime.toText(), isoDateTime))
            << stored.deliverDateTime.toText();
    }
    EXPECT_EQ(messages.size(), withText) << "nothing else reached the gateway";
    EXPECT_EQ(countExact(*outside, "Sent"), static_cast<long>(withText));

    // The balance the window shows is the gateway's, after every part was debited once.
    const long long balance = simBalance();
    EXPECT_EQ(balance, kStartBalance - parts);
    EXPECT_EQ(shown("lblSMS"), "Balance SMS: " + std::to_string(balance));
    EXPECT_EQ(shown("LblSent"), "Sent = " + std::to_string(parts));
    EXPECT_EQ(fx.ui.boxes.size(), 2u)
        << "no box came up while sending: " << fx.ui.boxes.back().text;

    click("cmdexit2");
    EXPECT_TRUE(programEnded);
    EXPECT_EQ(countExact(*outside, "Read"), 0);
    EXPECT_FALSE(find<QTimer>("SendMessage")->isActive());
    EXPECT_EQ(countExact(*outside, "Sent"), static_cast<long>(withText))
        << "Exit kept every status";
}

}  // namespace
}  // namespace parlix::test
