#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "transport/transport_config.h"

namespace parlix {
namespace {

using test::TempDir;
using test::writeFile;

TEST(TransportConfig, DefaultsWhenTheFileIsMissing) {
    TempDir dir;
    auto config = loadTransportConfig((dir / kConfigFileName).string());
    ASSERT_TRUE(config);
    EXPECT_EQ(config.value().timeouts.connectMs, 10000);
    EXPECT_EQ(config.value().timeouts.totalMs, 60000);
    EXPECT_EQ(config.value().payloadCodePage, "WINDOWS-1252");
    EXPECT_EQ(config.value().serverHosts[0], "");
}

TEST(TransportConfig, ReadsItsKeysAndLeavesOthersAlone) {
    TempDir dir;
    writeFile(dir / kConfigFileName,
              "# transport\r\n"
              "http.connect_timeout_ms = 2500\r\n"
              "\n"
              "; a comment\n"
              "http.total_timeout_ms=90000\n"
              "payload.codepage=CP1251\n"
              "server1.host=127.0.0.1:8001\n"
              "server5.host = gw5.example \n"
              "server6.host=ignored\n"
              "ui.something=else\n");
    auto config = loadTransportConfig((dir / kConfigFileName).string());
    ASSERT_TRUE(config) << config.error().message;
    EXPECT_EQ(config.value().timeouts.connectMs, 2500);
    EXPECT_EQ(config.value().timeouts.totalMs, 90000);
    EXPECT_EQ(config.value().payloadCodePage, "CP1251");
    EXPECT_EQ(config.value().serverHosts[0], "127.0.0.1:8001");
    EXPECT_EQ(config.value().serverHosts[4], "gw5.example");
    EXPECT_EQ(config.value().serverHosts[1], "");
}

TEST(TransportConfig, RefusesBadValuesWithAReason) {
    struct Case {
        const char* text;
        const char* mentions;
    };
    const Case cases[] = {{"http.total_timeout_ms=0\n", "http.total_timeout_ms"},
                          {"http.connect_timeout_ms=10s\n", "http.connect_timeout_ms"},
                          {"http.connect_timeout_ms=-5\n", "http.connect_timeout_ms"},
                          {"payload.codepage=NO-SUCH\n", "payload.codepage"},
                          {"ok=1\njust text\n", "line 2"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        TempDir dir;
        writeFile(dir / kConfigFileName, c.text);
        auto config = loadTransportConfig((dir / kConfigFileName).string());
        ASSERT_FALSE(config);
        EXPECT_NE(config.error().message.find(c.mentions), std::string::npos)
            << config.error().message;
    }
}

}  // namespace
}  // namespace parlix
