#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace parlix {

/// An IPv4 address in network byte order: the first byte is the first number of the dotted form.
using Ipv4Address = std::array<std::uint8_t, 4>;

/// The machine's IPv4 address table.
class Ipv4Table {
public:
    virtual ~Ipv4Table() = default;
    /// Every IPv4 address of the machine, in ascending order; nothing when the table cannot be
    /// read.
    virtual std::optional<std::vector<Ipv4Address>> addresses() = 0;
};

/// The IPv4 addresses of all interfaces, as getifaddrs reports them.
class IfaddrsIpv4Table final : public Ipv4Table {
public:
    std::optional<std::vector<Ipv4Address>> addresses() override;
};

/// Builds the address list that the login reports.
class IPAddress {
public:
    explicit IPAddress(Ipv4Table& table);

    /// Every address of the table in dotted form followed by a comma, last table entry first
    /// ("192.168.1.5,127.0.0.1,"). Empty text when the table cannot be read, is empty, or holds
    /// more addresses than the fixed 512-byte table block has room for (21).
    std::string GetLocalIpList();

private:
    Ipv4Table& m_table;
};

}  // namespace parlix
