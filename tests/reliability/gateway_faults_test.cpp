// Gateway faults met while the window's logic ticks against gateway-sim, for each sender: after
// the faulty tick the timer runs again, no row is left "Read" and the rows stand as the table
// says; once the fault clears, every message reaches the gateway, at most as often as the table
// allows.
#include <gtest/gtest.h>

#include "reliability_support.h"
#include "support/queue_db.h"
#include "transport/gateway_url.h"

namespace parlix::reliability {
namespace {

struct Fault {
    const char* label;
    std::string query;  // for the server in use, or every server when allServers
    bool allServers;
    const char* status[2];  // of the rows after the faulty tick: batch sender, single-file sender
    const char* says[2];    // a log entry or a message box of that tick
    int copies[2];          // copies of each message the gateway may receive in all
};

std::string enc(const std::string& s) {
    return encodeQueryValue(s);
}

const Fault kFaults[] = {
    {"every server refusing",
     "refuse=1",
     true,
     {"Queued", "Queued"},
     {"Server: NOT Connected", "Server: NOT Connected"},
     {1, 1}},
    {"an error page from the server check",
     "check_reply=" + enc("<html>503</html>"),
     false,
     {"Queued", "Queued"},
     {"Server: NOT Connected", "Server: NOT Connected"},
     {1, 1}},
    {"a server check slower than the timeout",
     "delay_ms=2500&path=/Parlix/ParlixChk.asp",
     false,
     {"Queued", "Queued"},
     {"Server: NOT Connected", "Server: NOT Connected"},
     {1, 1}},
    {"a refused login",
     "reply=logonno&path=/Parlix/Logonchks.asp",
     false,
     {"Queued", "Queued"},
     {"Login: Incorrect!", "Login: Incorrect!"},
     {1, 1}},
    {"an unreadable login reply",
     "garbage=1&path=/Parlix/Logonchks.asp",
     false,
     {"Queued", "Queued"},
     {"Login: Fail!", "Login: Fail!"},
     {1, 1}},
    {"piece 3 refused",
     "refuse_piece=3",
     false,
     {"Queued", "Queued"},
     {"Send Fail!", "Send Fail!"},
     {1, 1}},
    {"the connection cut mid-upload",
     "cut=1&path=/Parlix/PostDataZSM.ASP",
     false,
     {"Queued", "Queued"},
     {"Dispatch error: ", "Dispatch error: "},
     {1, 1}},
    {"an upload slower than the timeout",
     "delay_ms=2500&path=/Parlix/PostDataZSM.ASP",
     false,
     {"Queued", "Queued"},
     {"Dispatch error: ", "Dispatch error: "},
     {1, 1}},
    // The gateway took the whole payload but its last reply is lost: the program cannot tell
    // this from a refused upload and sends the rows again.
    {"a lost final upload reply",
     "complete_reply=" + enc("error: try again"),
     false,
     {"Queued", "Queued"},
     {"Send Fail!", "Send Fail!"},
     {2, 2}},
    {"a refused debit",
     "refuse_debit=1",
     false,
     {"Queued", "DelSent"},
     {"Sent: Faile ", "Message Sent but Balance not Deducted "},
     {2, 1}},
    {"a debit cut in transit",
     "cut=1&path=/Parlix/Debit.asp",
     false,
     {"DelSent", "DelSent"},
     {"Dispatch error: ", "Dispatch error: "},
     {1, 1}},
    {"a debit slower than the timeout",
     "delay_ms=2500&path=/Parlix/Debit.asp",
     false,
     {"DelSent", "DelSent"},
     {"Dispatch error: ", "Dispatch error: "},
     {1, 1}},
};

class GatewayFaultTable : public LiveDispatchTest, public ::testing::WithParamInterface<bool> {};

TEST_P(GatewayFaultTable, EachFaultLeavesTheRowsAsTheTableSaysAndEveryMessageGoesOnceItClears) {
    const bool batch = GetParam();
    const size_t s = batch ? 0 : 1;
    startLoggedIn(batch ? "ALPHA" : "");
    int n = 0;
    for (const Fault& fault : kFaults) {
        SCOPED_TRACE(fault.label);
        const std::string prefix = "f" + std::to_string(n++) + "-";
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
