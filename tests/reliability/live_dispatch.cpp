#include "live_dispatch.h"

#include <chrono>

#include "support/queue_db.h"

namespace parlix::reliability {

void LiveDispatchTest::startLoggedIn(const LiveOptions& o) {
    sim.addAccount({"demo", "pw", o.balance, o.drAllowed, "", o.senderIds});
    for (int i = 0; i < 5; ++i) {
        fx.config.serverHosts[static_cast<size_t>(i)] = sim.serverHost(i + 1);
    }
    fx.useRealHttp(o.timeouts);
    db = fx.makeDatabase();
    db->execute("update ProxyConfig set comport='54321'");
    if (o.beforeLoad) {
        o.beforeLoad(*db);
    }
    fx.start();
    log = std::make_unique<LogTap>(f());
    ASSERT_TRUE(fx.load());
    f().setText("txtUserId", "demo");
    f().setText("txtUSerPassWord", "pw");
    f().fire("cmdConnect2", Event::Click);
    ASSERT_TRUE(f().loginOk) << log->firstWith({"Login", "Server"});
    fx.ui.boxes.clear();
}

void LiveDispatchTest::tick() {
    // A tick comes a second after the one before, so batch names and times move on as they do
    // in the program.
    fx.clock.sleepMs(1000);
    const auto start = std::chrono::steady_clock::now();
    f().fire("SendMessage", Event::Timer);
    slowestTickMs = std::max(slowestTickMs, msSince(start));
    ++ticks;
    EXPECT_TRUE(f().enabled("SendMessage")) << "the timer stayed stopped after tick " << ticks;
    EXPECT_EQ(readRows(), 0) << "rows left taken for sending after tick " << ticks;
}

int LiveDispatchTest::drain(int maxTicks) {
    for (int i = 1; i <= maxTicks; ++i) {
        tick();
        if (waiting() == 0) {
            return i;
        }
    }
    return -1;
}

long LiveDispatchTest::waiting() {
    return static_cast<long>(
        db->scalar("select count(*) from MessageQueue where Status='Queued' or Status='Read'")
            .integer());
}

long LiveDispatchTest::readRows() {
    return static_cast<long>(
        db->scalar("select count(*) from MessageQueue where Status='Read'").integer());
}

long LiveDispatchTest::rowsWith(const std::string& status) {
    return test::countExact(*db, status);
}

std::vector<std::string> LiveDispatchTest::enqueue(const std::string& prefix, int count,
                                                   size_t length) {
    std::vector<std::string> texts = uniqueTexts(prefix, count, length, rng);
    enqueueAll(*db, texts);
    return texts;
}

Audit LiveDispatchTest::auditOf(const std::string& prefix) {
    return audit(*db, sim.messages(), prefix);
}

test::JsonValue LiveDispatchTest::simList(const std::string& what) {
    return sim.get("/_sim/" + what)[what];
}

}  // namespace parlix::reliability
