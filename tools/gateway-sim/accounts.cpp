#include "accounts.h"

#include <cerrno>
#include <charconv>

#include "base/text.h"

namespace parlix::sim {

Result<std::vector<Account>> parseAccounts(std::string_view text) {
    std::vector<Account> accounts;
    std::vector<std::string> lines = split(text, "\n");
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string line = lines[i];
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (trimSpaces(line).empty() || line[0] == '#') {
            continue;
        }
        std::vector<std::string> fields = split(line, "|");
        auto bad = [&](const std::string& why) {
            return Error{EINVAL, "accounts line " + std::to_string(i + 1) + ": " + why};
        };
        if (fields.size() < 4 || fields.size() > 6) {
            return bad("expected user|password|balance|dr|notice|senderids");
        }
        Account a;
        a.user = trimSpaces(fields[0]);
        a.password = fields[1];
        const std::string& balance = fields[2];
        auto [end, ec] =
            std::from_chars(balance.data(), balance.data() + balance.size(), a.balance);
        if (a.user.empty() || ec != std::errc() || end != balance.data() + balance.size() ||
            a.balance < 0) {
            return bad("needs a user id and a balance of 0 or more");
        }
        std::string dr = toLower(trimSpaces(fields[3]));
        if (dr != "yes" && dr != "no") {
            return bad("dr must be yes or no");
        }
        a.drAllowed = dr == "yes";
        a.notice = fields.size() > 4 ? fields[4] : "";
        a.senderIds = fields.size() > 5 ? trimSpaces(fields[5]) : "";
        accounts.push_back(std::move(a));
    }
    return accounts;
}

std::string formatAccounts(const std::vector<Account>& accounts) {
    std::string out = "# user|password|balance|dr|notice|senderids\n";
    for (const Account& a : accounts) {
        out += a.user + "|" + a.password + "|" + std::to_string(a.balance) + "|" +
               (a.drAllowed ? "yes" : "no") + "|" + a.notice + "|" + a.senderIds + "\n";
    }
    return out;
}

}  // namespace parlix::sim
