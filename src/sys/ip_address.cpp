#include "sys/ip_address.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <algorithm>
#include <cstring>

namespace parlix {
namespace {

// The list is read out of one fixed block laid out like the platform's address table: a 32-bit
// entry count followed by 24-byte entries that start with the address. A table that does not fit
// is not read at all, so a machine with more than 21 addresses reports none.
constexpr std::size_t kTableBlockSize = 512;
constexpr std::size_t kCountSize = 4;
constexpr std::size_t kEntrySize = 24;
constexpr std::size_t kMaxEntries = (kTableBlockSize - kCountSize) / kEntrySize;
using TableBlock = std::array<std::uint8_t, kTableBlockSize>;

/// Lays the table into the block; false (and the block untouched) when it does not fit.
bool fillTableBlock(const std::vector<Ipv4Address>& addresses, TableBlock& block) {
    if (kCountSize + addresses.size() * kEntrySize > block.size()) {
        return false;
    }
    const auto count = static_cast<std::uint32_t>(addresses.size());
    for (std::size_t i = 0; i < kCountSize; ++i) {
        block[i] = static_cast<std::uint8_t>(count >> (8 * i));
    }
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        std::copy(addresses[i].begin(), addresses[i].end(),
                  block.begin() + static_cast<std::ptrdiff_t>(kCountSize + i * kEntrySize));
    }
    return true;
}

}  // namespace

std::optional<std::vector<Ipv4Address>> IfaddrsIpv4Table::addresses() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return std::nullopt;
    }
    std::vector<Ipv4Address> result;
    for (const ifaddrs* ifa = list; ifa != nullptr; ifa = ifa->ifa_next) {
        if (ifa->ifa_addr == nullptr || ifa->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        sockaddr_in in{};
        std::memcpy(&in, ifa->ifa_addr, sizeof in);
        Ipv4Address a{};
        std::memcpy(a.data(), &in.sin_addr.s_addr, a.size());
        result.push_back(a);
    }
    ::freeifaddrs(list);
    // Byte-wise order of network-order addresses is the numeric order of the dotted form.
    std::sort(result.begin(), result.end());
    return result;
}

IPAddress::IPAddress(Ipv4Table& table) : m_table(table) {}

std::string IPAddress::GetLocalIpList() {
    TableBlock block{};
    if (auto table = m_table.addresses()) {
        fillTableBlock(*table, block);
    }
    // Only the low 16 bits of the count are read; the block cannot hold more entries anyway.
    const std::size_t count = std::min<std::size_t>(block[0] + 256u * block[1], kMaxEntries);
    std::string result;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* entry = block.data() + kCountSize + i * kEntrySize;
        std::string address = std::to_string(entry[0]) + '.' + std::to_string(entry[1]) + '.' +
                              std::to_string(entry[2]) + '.' + std::to_string(entry[3]);
        result.insert(0, address + ',');
    }
    return result;
}

}  // namespace parlix
