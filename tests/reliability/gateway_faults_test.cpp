// Gateway faults met while the window's logic ticks against gateway-sim, for each sender: after
// the faulty tick the timer runs again, no row is left "Read" and the rows stand as the table
// says; once the fault clears, every message reaches the gateway, at most as often as the table
// allows.
#include <gtest/gtest.h>

#include "reliability_support.h"
#include "support/queue_db.h"

namespace parlix::reliability {
namespace {

struct Fault {
    const char* label;
    std::string query;  // for the server in use, or every server when allServers
    bool allServers;
    const char* status[2];  // of the rows after the faulty tick: batch sender, single-file sender
    std::string says[2];    // a log entry or a message box of that tick
    int copies[2];          // copies of each message the gateway may receive in all
    std::string lastErr = "";  // what LastErr.txt keeps for diagnosis, when it is set
};

const std::string kNotConnected = "Server: NOT Connected";
const std::string kError = "Dispatch error: ";

// clang-format off
const Fault kFaults[] = {
    {"every server refusing", "refuse=1", true, {"Queued", "Queued"}, {kNotConnected, kNotConnected}, {1, 1}},
    {"an error page from the server check", "check_reply=%3Chtml%3E%FF503", false, {"Queued", "Queued"}, {kNotConnected, kNotConnected}, {1, 1}, "<html>\xff" "503"},
    {"a server check slower than the timeout", "delay_ms=2500&path=/Parlix/ParlixChk.asp", false, {"Queued", "Queued"}, {kNotConnected, kNotConnected}, {1, 1}},
    {"a refused login", "reply=logonno&path=/Parlix/Logonchks.asp", false, {"Queued", "Queued"}, {"Login: Incorrect!", "Login: Incorrect!"}, {1, 1}},
    {"an unreadable login reply", "garbage=1&path=/Parlix/Logonchks.asp", false, {"Queued", "Queued"}, {"Login: Fail!", "Login: Fail!"}, {1, 1}},
    {"a login reply past what the client takes", "reply=logonyes%7C%7C75&reply_bytes=16777217&path=/Parlix/Logonchks.asp", false, {"Queued", "Queued"}, {"Login: Fail!", "Login: Fail!"}, {1, 1}},
    {"piece 3 refused", "refuse_piece=3", false, {"Queued", "Queued"}, {"Send Fail!", "Send Fail!"}, {1, 1}},
    {"the connection cut mid-upload", "cut=1&path=/Parlix/PostDataZSM.ASP", false, {"Queued", "Queued"}, {kError, kError}, {1, 1}},
    {"an upload slower than the timeout", "delay_ms=2500&path=/Parlix/PostDataZSM.ASP", false, {"Queued", "Queued"}, {kError, kError}, {1, 1}},
    // The gateway has the whole payload but its last reply is lost: the rows go again.
    {"a lost final upload reply", "complete_reply=error", false, {"Queued", "Queued"}, {"Send Fail!", "Send Fail!"}, {2, 2}},
    {"a refused debit", "refuse_debit=1", false, {"Queued", "DelSent"}, {"Sent: Faile ", "Message Sent but Balance not Deducted "}, {2, 1}},
    {"a debit cut in transit", "cut=1&path=/Parlix/Debit.asp", false, {"DelSent", "DelSent"}, {kError, kError}, {1, 1}},
    {"a debit slower than the timeout", "delay_ms=2500&path=/Parlix/Debit.asp", false, {"DelSent", "DelSent"}, {kError, kError}, {1, 1}},
};
// clang-format on

class GatewayFaultTable : public LiveDispatchTest, public ::testing::WithParamInterface<bool> {};

TEST_P(GatewayFaultTable, EachFaultLeavesTheRowsAsTheTableSaysAndEveryMessageGoesOnceItClears) {
    const bool batch = GetParam();
    const size_t s = batch ? 0 : 1;
    startLoggedIn(batch ? "ALPHA" : "");
    int n = 0;
    for (const Fault& fault : kFaults) {
        SCOPED_TRACE(fault.label);
        const std::string prefix = "f" + std::to_string(n++) + "-";
        sim.post("/_sim/reset");  // what the gateway holds is this row's alone
        // Several pieces, so that a refused third piece comes mid-upload.
        enqueue(prefix, 100, 60);
        for (int server = 1; server <= 5; ++server) {
            if (fault.allServers || server == f().serverNo) {
                sim.setFaults("server=" + std::to_string(server) + "&" + fault.query);
            }
        }
        fx.ui.boxes.clear();
        log.clear();
        tick();
        const bool said = logged(fault.says[s]) == 1 ||
                          (!fx.ui.boxes.empty() && fx.ui.boxes.back().text == fault.says[s]);
        EXPECT_TRUE(said) << fault.says[s];
        EXPECT_EQ(auditOf(prefix).status(fault.status[s]), 100);
        if (!fault.lastErr.empty()) {
            EXPECT_EQ(test::readFile(fx.programDir / "LastErr.txt"), fault.lastErr);
        }

        sim.post("/_sim/faults/clear");
        if (f().smsBalance == 0) {
            f().fire("cmdConnect2", Event::Click);
        }
        EXPECT_GE(drain(), 1);
        const Audit a = auditOf(prefix);
        EXPECT_EQ(a.receivedDistinct, 100);
        EXPECT_LE(a.duplicates, 100 * (fault.copies[s] - 1));
        EXPECT_EQ(a.sentNeverReceived, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(BothSenders, GatewayFaultTable, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& p) {
                             return p.param ? "BatchSender" : "SingleFileSender";
                         });

}  // namespace
}  // namespace parlix::reliability
