#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace parlix::sim {

/// Sender-id field that lets an account send under any sender id.
inline constexpr const char* kOpenSenderIdMark = "*";

/// One gateway account.
struct Account {
    std::string user;
    std::string password;
    long long balance = 0;
    bool drAllowed = false;
    std::string notice;
    /// Comma-separated sender ids as the login reply lists them, or "*" for the open sender id.
    std::string senderIds;
};

/// Accounts file: one account per line, "user|password|balance|dr|notice|senderids", where dr
/// is "yes" or "no" and senderids is a comma-separated list or "*". Blank lines and lines
/// starting with '#' are ignored; the last two fields may be left out.
Result<std::vector<Account>> parseAccounts(std::string_view text);

/// The accounts in the same format, ready to be read back.
std::string formatAccounts(const std::vector<Account>& accounts);

}  // namespace parlix::sim
