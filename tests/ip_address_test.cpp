#include <gtest/gtest.h>

#include <algorithm>

#include "support/sys_fakes.h"
#include "sys/ip_address.h"

namespace parlix {
namespace {

using test::FakeIpv4Table;

std::vector<Ipv4Address> hosts(int count) {
    std::vector<Ipv4Address> out;
    for (int i = 1; i <= count; ++i) {
        out.push_back({10, 0, 0, static_cast<std::uint8_t>(i)});
    }
    return out;
}

std::string reversedHostList(int count) {
    std::string text;
    for (int i = count; i >= 1; --i) {
        text += "10.0.0." + std::to_string(i) + ",";
    }
    return text;
}

TEST(LocalIpList, ListsTheTableLastEntryFirstEachWithAComma) {
    struct Case {
        const char* what;
        std::optional<std::vector<Ipv4Address>> table;
        std::string expected;
    };
    const Case cases[] = {
        {"loopback only", std::vector<Ipv4Address>{{127, 0, 0, 1}}, "127.0.0.1,"},
        {"three in table order",
         std::vector<Ipv4Address>{{10, 0, 0, 2}, {127, 0, 0, 1}, {192, 168, 0, 7}},
         "192.168.0.7,127.0.0.1,10.0.0.2,"},
        {"every byte as a plain number", std::vector<Ipv4Address>{{255, 0, 9, 100}},
         "255.0.9.100,"},
        {"21 fill the table", hosts(21), reversedHostList(21)},
        {"22 do not fit", hosts(22), ""},
        {"300 do not fit either", hosts(300), ""},
        {"empty table", std::vector<Ipv4Address>{}, ""},
        {"unreadable table", std::nullopt, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeIpv4Table table;
        table.table = c.table;
        EXPECT_EQ(IPAddress(table).GetLocalIpList(), c.expected);
    }
}

TEST(LocalIpList, MachineTableIsSortedAndIncludesLoopback) {
    IfaddrsIpv4Table table;
    auto addresses = table.addresses();
    ASSERT_TRUE(addresses.has_value());
    EXPECT_TRUE(std::is_sorted(addresses->begin(), addresses->end()));

    const std::string list = IPAddress(table).GetLocalIpList();
    EXPECT_NE(list.find("127.0.0.1,"), std::string::npos) << list;
}

}  // namespace
}  // namespace parlix
